// Loaded into a program only by the benchmark, through Qt's own hook for generic plugins
// (QT_QPA_GENERIC_PLUGINS, QT_PLUGIN_PATH), so that the program's start-up can be timed from
// outside without the program taking any option or knowing of it. It talks over the descriptor
// named by BATCHSPOOL_BENCH_PROBE_FD:
//   "?"    asks whether the window is up; answered "up TITLE<TAB>PRINTER-ITEMS" from the program's
//          own event loop once a top-level window other than a message box is shown and exposed
//   "quit" ends the program's event loop
// and marks, unasked, when Qt's start-up reached the probe ("mark qt NS") and when the first
// top-level window other than a message box was shown ("mark shown NS"), NS on CLOCK_MONOTONIC.
// A message box that comes up first (the error box of a start-up failure) is reported as
// "box TEXT" and answered with OK at once, as an operator would.
#include <QtGui/qgenericplugin.h>
#include <time.h>
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>

#include <cerrno>
#include <string>

namespace {

constexpr const char* kAnswered = "batchspoolBenchProbeAnswered";

class Probe final : public QObject {
 public:
  explicit Probe(int fd) : fd_(fd), notifier_(fd, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { readRequests(); });
    QCoreApplication::instance()->installEventFilter(this);
    mark("qt");
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && !shown_ && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow() &&
        qobject_cast<QMessageBox*>(watched) == nullptr) {
      shown_ = true;
      mark("shown");
    }
    if (event->type() == QEvent::Expose && watched->isWindowType()) {
      // Looked at once the event loop comes back to it, not inside the expose itself.
      QMetaObject::invokeMethod(
          this, [this] { look(); }, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  void readRequests() {
    char chunk[256];
    const ssize_t got = ::read(fd_, chunk, sizeof chunk);
    if (got <= 0) {
      if (got == 0 || errno != EINTR) {
        notifier_.setEnabled(false);
      }
      return;
    }
    input_.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end; (end = input_.find('\n')) != std::string::npos;) {
      const std::string request = input_.substr(0, end);
      input_.erase(0, end + 1);
      if (request == "?") {
        asked_ = true;
        look();
      } else if (request == "quit") {
        QCoreApplication::quit();
      }
    }
  }

  void look() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      if (box->isVisible() && box->windowHandle() != nullptr && box->windowHandle()->isExposed() &&
          !box->property(kAnswered).toBool()) {
        box->setProperty(kAnswered, true);
        say("box " + box->text().toStdString());
        QMetaObject::invokeMethod(
            box, [box] { box->done(QMessageBox::Ok); }, Qt::QueuedConnection);
      }
      return;
    }
    if (!asked_) {
      return;
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMessageBox*>(window) == nullptr && window->isVisible() &&
          window->windowHandle() != nullptr && window->windowHandle()->isExposed()) {
        const auto* box = window->findChild<QComboBox*>();
        say("up " + window->windowTitle().toStdString() + "\t" +
            std::to_string(box == nullptr ? -1 : box->count()));
        asked_ = false;
        return;
      }
    }
  }

  // When a stage of start-up was reached, by the monotonic clock that the benchmark reads too.
  void mark(const char* stage) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    say(std::string("mark ") + stage + " " +
        std::to_string(static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec));
  }

  void say(std::string line) {
    line += '\n';
    [[maybe_unused]] const ssize_t ignored = ::write(fd_, line.data(), line.size());
  }

  int fd_;
  QSocketNotifier notifier_;
  std::string input_;
  bool asked_ = false;
  bool shown_ = false;
};

}  // namespace

class StartupProbePlugin final : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "startup_probe.json")

 public:
  QObject* create(const QString& key, const QString& /*spec*/) override {
    bool ok = false;
    const int fd = qEnvironmentVariableIntValue("BATCHSPOOL_BENCH_PROBE_FD", &ok);
    if (key != QLatin1String("batchspoolbenchprobe") || !ok || fd < 0) {
      return nullptr;
    }
    return new Probe(fd);
  }
};

#include "startup_probe.moc"
