#include "platform/toolkit/password_dialog.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "platform/toolkit/application.h"

namespace toolkit {
namespace {

// Wide enough for a host name in the prompt and a long user name without scrolling.
constexpr int kFieldWidth = 280;

QString applicationTitle() {
  if (const Application* app = Application::current()) {
    return app->title();
  }
  return QGuiApplication::applicationDisplayName();
}

class PasswordDialog : public QDialog {
 public:
  PasswordDialog(QWidget* window, const QString& prompt, const QString& user)
      : QDialog(window),
        prompt_(new QLabel(this)),
        user_(new QLineEdit(this)),
        password_(new QLineEdit(this)),
        buttons_(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
    // A dialog is a window of its own, which Qt gives its own font unless told to take the
    // window's, as every control of the window does.
    setAttribute(Qt::WA_WindowPropagation);
    setWindowTitle(applicationTitle());

    prompt_->setObjectName(QStringLiteral("prompt"));
    // The server's words, shown as they are: a host or user name is never markup.
    prompt_->setTextFormat(Qt::PlainText);
    prompt_->setWordWrap(true);
    prompt_->setText(prompt);

    user_->setObjectName(QStringLiteral("userEdit"));
    user_->setText(user);
    user_->setMinimumWidth(kFieldWidth);
    user_->setAccessibleName(QStringLiteral("ユーザー名"));

    password_->setObjectName(QStringLiteral("passwordEdit"));
    // Password mode also keeps the text out of the clipboard, input-method prediction and what
    // the field tells screen readers.
    password_->setEchoMode(QLineEdit::Password);
    password_->setMinimumWidth(kFieldWidth);
    password_->setAccessibleName(QStringLiteral("パスワード"));

    buttons_->setObjectName(QStringLiteral("buttons"));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The server cannot check a password without a user name to check it for.
    connect(user_, &QLineEdit::textChanged, this, [this](const QString& text) {
      buttons_->button(QDialogButtonBox::Ok)->setEnabled(!text.isEmpty());
    });
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!user.isEmpty());

    auto* fields = new QFormLayout;
    auto* userLabel = new QLabel(QStringLiteral("ユーザー名"), this);
    userLabel->setBuddy(user_);
    auto* passwordLabel = new QLabel(QStringLiteral("パスワード"), this);
    passwordLabel->setBuddy(password_);
    fields->addRow(userLabel, user_);
    fields->addRow(passwordLabel, password_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt_);
    layout->addLayout(fields);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The user name is usually right as given, so typing goes to the password.
    password_->setFocus();
  }

  PasswordAnswer answer() const { return {user_->text(), password_->text()}; }

 private:
  QLabel* prompt_;
  QLineEdit* user_;
  QLineEdit* password_;
  QDialogButtonBox* buttons_;
};

std::optional<PasswordAnswer> askOnThisThread(QWidget* window, const QString& prompt,
                                              const QString& user) {
  PasswordDialog dialog(window, prompt, user);
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  return dialog.answer();
}

}  // namespace

std::optional<PasswordAnswer> askPassword(QWidget* window, const QString& prompt,
                                          const QString& user) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    return std::nullopt;
  }
  if (QThread::currentThread() == app->thread()) {
    return askOnThisThread(window, prompt, user);
  }
  // Widgets live on the window's thread only.
  std::optional<PasswordAnswer> answer;
  QMetaObject::invokeMethod(
      app, [&] { answer = askOnThisThread(window, prompt, user); }, Qt::BlockingQueuedConnection);
  return answer;
}

}  // namespace toolkit
