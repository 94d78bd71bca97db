#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/password_prompt.h"
#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/application.h"
#include "platform/toolkit/keep_alive.h"

namespace {

QtMessageHandler qtsOwn = nullptr;

// Qt ends the process through a fatal message when it cannot start at all, above all when there
// is no display to open the window on. The program says so on standard error and ends as every
// run of it ends, with exit code 0.
void endQuietlyOnFatal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    if (qtsOwn != nullptr) {
      qtsOwn(type, context, message);
    } else {
      std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().data());
    }
    return;
  }
  std::fprintf(stderr, "batchspool: cannot open the window (no display?): %s\n",
               message.section(u'\n', 0, 0).toLocal8Bit().data());
  std::fflush(stderr);
  std::_Exit(0);
}

}  // namespace

// The window follows the window system's default placement; only its size is ours. The frame
// is the window system's, so the client area is whatever remains of the outer size inside it.
int main(int argc, char** argv) {
  qtsOwn = qInstallMessageHandler(endQuietlyOnFatal);
  try {
    toolkit::Application application(argc, argv);
    toolkit::guarded([] {
      // A server that wants a password asks the operator in a dialog over the window. libcups's
      // own answer would read the terminal: the program would wait on a prompt nobody sees.
      const batchcups::PasswordPrompt askOperator =
          app::dialogPasswordPrompt([]() -> QWidget* { return Form1; });
      // The printer box's enumeration calls libcups on this thread, outside the spooler. What the
      // operator gives either is remembered for both.
      const auto passwords = std::make_shared<batchcups::PasswordMemory>();
      const batchcups::ThreadPasswordPrompt onThisThread(askOperator, passwords);
      batchcups::SpoolerSettings settings;
      settings.passwordPrompt = askOperator;
      settings.passwords = passwords;
      settings.keepAlive = toolkit::keepWindowsAlive;
      batchcups::CupsSpooler spooler(settings);
      batchcups::CupsPrinters printers;
      TForm1 form(spooler, printers);
      Form1 = &form;
      toolkit::showWithOuterSize(form, QSize(761, 606));
      toolkit::Application::exec();
      Form1 = nullptr;
    });
  } catch (...) {
    // Nothing is left to show it in: the process still ends with exit code 0.
  }
  return 0;
}
