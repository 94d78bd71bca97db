#include "platform/toolkit/application.h"

#include <QEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QWindow>

#include "platform/toolkit/exceptions.h"

namespace toolkit {
namespace {

// The window lays itself out in device pixels whatever the screen's resolution, so Qt's own
// scaling is switched off before the application object reads it, and every variable that
// would force a scale factor is dropped.
int& withoutScaling(int& argc) {
  qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  qunsetenv("QT_SCALE_FACTOR");
  qunsetenv("QT_SCREEN_SCALE_FACTORS");
  qunsetenv("QT_AUTO_SCREEN_SCALE_FACTOR");
  return argc;
}

void showErrorBox(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
  box.exec();
}

}  // namespace

QString titleFromProgramPath(const QString& programPath) {
  QString name = QFileInfo(programPath).fileName();
  const qsizetype stop = name.indexOf(u'.');
  if (stop >= 0) {
    name.truncate(stop);
  }
  if (name.isEmpty()) {
    return name;
  }
  // The first character stays as it is; only the rest is lowered.
  return name.left(1) + name.mid(1).toLower();
}

QString errorBoxText(const QString& message) {
  const QByteArray bytes = message.toUtf8();
  qsizetype lead = bytes.size() - 1;
  while (lead > 0 && (static_cast<unsigned char>(bytes[lead]) & 0xC0) == 0x80) {
    --lead;
  }
  if (lead >= 0 && static_cast<unsigned char>(bytes[lead]) > '.') {
    return message + u'.';
  }
  return message;
}

Application::Application(int& argc, char** argv)
    : QApplication(withoutScaling(argc), argv),
      title_(titleFromProgramPath(QCoreApplication::applicationFilePath())),
      errorSink_(showErrorBox) {}

Application* Application::current() {
  return qobject_cast<Application*>(QCoreApplication::instance());
}

void Application::showException(const std::exception& error) const {
  errorSink_(title_, errorBoxText(QString::fromUtf8(error.what())));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const Exception& error) {
    showException(error);
    return true;
  }
}

void guarded(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Exception& error) {
    if (Application* app = Application::current()) {
      app->showException(error);
      return;
    }
    throw;
  }
}

namespace {

// A window manager publishes the frame it draws only after the window is mapped (the frame
// extents property, then a move into the frame and the first expose), so the margins read right
// after show() are still zero. The keeper re-fits the client area each time the margins it reads
// change, as long as the client size is still the one it last set: a size the operator or the
// window manager chose afterwards is left alone.
class OuterSizeKeeper final : public QObject {
 public:
  OuterSizeKeeper(QWidget& window, QSize outer)
      : QObject(&window), window_(window), outer_(outer) {}

  void fit() {
    const QWindow* handle = window_.windowHandle();
    if (handle == nullptr || (applied_ && window_.size() != fitted_)) {
      return;
    }
    const QMargins frame = handle->frameMargins();
    if (applied_ && frame == frame_) {
      return;
    }
    frame_ = frame;
    applied_ = true;
    fitted_ = outer_.shrunkBy(frame);
    window_.resize(fitted_);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Expose:
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
        fit();
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget& window_;
  QSize outer_;
  QMargins frame_;
  QSize fitted_;
  bool applied_ = false;
};

}  // namespace

void showWithOuterSize(QWidget& window, QSize outer) {
  window.resize(outer);
  window.winId();  // the native window, so that its events can be watched before it is shown
  auto* keeper = new OuterSizeKeeper(window, outer);
  window.windowHandle()->installEventFilter(keeper);
  window.show();
  keeper->fit();
}

}  // namespace toolkit
