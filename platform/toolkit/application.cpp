#include "platform/toolkit/application.h"

#include <QEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QWindow>

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

// Qt takes options of its own from the command line it is given (-platform, -stylesheet,
// -reverse, ...). The program takes none, so Qt is given the program's name alone; the
// environment variables that Qt reads still count.
struct ProgramNameOnly {
  int argc = 1;
  char* argv[2] = {nullptr, nullptr};
};

ProgramNameOnly& programNameOnly(char** argv) {
  static char fallback[] = "batchspool";
  static ProgramNameOnly line;
  line.argv[0] = argv != nullptr && argv[0] != nullptr ? argv[0] : fallback;
  return line;
}

// What the error box says of an exception that is no std::exception.
const char* const kUnknownException = "Unknown exception";

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

Application::Application(int& /*argc*/, char** argv)
    : QApplication(withoutScaling(programNameOnly(argv).argc), programNameOnly(argv).argv),
      title_(titleFromProgramPath(QCoreApplication::applicationFilePath())),
      errorSink_(showErrorBox) {}

Application* Application::current() {
  return qobject_cast<Application*>(QCoreApplication::instance());
}

void Application::showException(const std::exception& error) const {
  showMessage(error.what());
}

void Application::showMessage(const char* message) const {
  errorSink_(title_, errorBoxText(QString::fromUtf8(message)));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    showException(error);
  } catch (...) {
    showMessage(kUnknownException);
  }
  return true;
}

void guarded(const std::function<void()>& fn) {
  Application* app = Application::current();
  if (app == nullptr) {
    fn();
    return;
  }
  try {
    fn();
  } catch (const std::exception& error) {
    app->showException(error);
  } catch (...) {
    app->showMessage(kUnknownException);
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
