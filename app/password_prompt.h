#pragma once

#include <functional>

#include "platform/cups/cups_spooler.h"

class QWidget;

namespace app {

// The print server's password requests, answered by the operator in the password dialog over
// the window that `window` gives at the time of asking (null while there is none yet). The
// texts cross between libcups's bytes and the dialog's characters without loss.
batchcups::PasswordPrompt dialogPasswordPrompt(std::function<QWidget*()> window);

}  // namespace app
