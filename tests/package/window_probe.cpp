// A Qt plugin that a test loads into a program it did not build, through the environment
// (QT_PLUGIN_PATH naming the folder that holds generic/, QT_QPA_GENERIC_PLUGINS=windowprobe):
// it writes one line to stderr when the program's first top-level window is exposed, so that
// the test can tell from outside that the window came up, on which platform, and what the
// printer box shows. The program itself is not changed in any way.
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGenericPlugin>
#include <QWidget>
#include <QWindow>
#include <cstdio>

namespace {

class ExposeReporter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool reported_ = false;
};

// Tab-separated fields: the window's title and the box's text may hold blanks.
bool ExposeReporter::eventFilter(QObject* watched, QEvent* event) {
  if (reported_ || event->type() != QEvent::Expose) {
    return false;
  }
  const auto* window = qobject_cast<QWindow*>(watched);
  if (window == nullptr || !window->isTopLevel() || !window->isExposed()) {
    return false;
  }
  reported_ = true;
  QString printerBox = QStringLiteral("(none)");
  for (const QWidget* widget : QApplication::topLevelWidgets()) {
    if (const auto* box = widget->findChild<QComboBox*>(QStringLiteral("ComboBox1"))) {
      printerBox = box->currentText();
    }
  }
  const QByteArray line = QStringLiteral("windowprobe\tplatform=%1\ttitle=%2\tComboBox1=%3\n")
                              .arg(QGuiApplication::platformName(), window->title(), printerBox)
                              .toUtf8();
  std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
  std::fflush(stderr);
  return false;
}

}  // namespace

class WindowProbePlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "window_probe.json")

 public:
  // The application deletes the object it gets back when it ends.
  QObject* create(const QString& key, const QString& /*specification*/) override {
    if (key.compare(QStringLiteral("windowprobe"), Qt::CaseInsensitive) != 0) {
      return nullptr;
    }
    auto* reporter = new ExposeReporter;
    QCoreApplication::instance()->installEventFilter(reporter);
    return reporter;
  }
};

#include "window_probe.moc"
