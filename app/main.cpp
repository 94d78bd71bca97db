#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/application.h"

// The window follows the window system's default placement; only its size is ours. The frame
// is the window system's, so the client area is whatever remains of the outer size inside it.
int main(int argc, char** argv) {
  toolkit::Application application(argc, argv);
  toolkit::guarded([] {
    batchcups::CupsSpooler spooler;
    batchcups::CupsPrinters printers;
    TForm1 form(spooler, printers);
    Form1 = &form;
    toolkit::showWithOuterSize(form, QSize(761, 606));
    toolkit::Application::exec();
    Form1 = nullptr;
  });
  return 0;
}
