#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace toolkit {

// What the operator gave when the print server asked for a password.
struct PasswordAnswer {
  QString user;
  QString password;
};

// Asks the operator for the password the print server wants, in a modal dialog of `window` (null
// before the window exists): the server's own prompt, the user name prefilled with `user` and
// open to change, the password hidden as it is typed, OK and Cancel. The dialog takes the
// window's font and the application title. Nothing after Cancel or a close of the dialog.
//
// The children that tests drive are named "prompt", "userEdit", "passwordEdit" and "buttons".
// The password stays in memory: it is neither stored nor logged.
//
// Called from a thread other than the window's, the dialog is shown on the window's thread and
// the caller waits for the answer; that thread must then be running its event loop.
std::optional<PasswordAnswer> askPassword(QWidget* window, const QString& prompt,
                                          const QString& user);

}  // namespace toolkit
