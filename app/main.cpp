#include <memory>

#include "app/password_prompt.h"
#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/application.h"
#include "platform/toolkit/keep_alive.h"

// The window follows the window system's default placement; only its size is ours. The frame
// is the window system's, so the client area is whatever remains of the outer size inside it.
int main(int argc, char** argv) {
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
  return 0;
}
