// The password dialog as the operator meets it: shown modally over the window, driven with keys
// and clicks while it runs, answering with what was typed or with nothing.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

#include "platform/toolkit/application.h"
#include "platform/toolkit/password_dialog.h"
#include "tests/gui/modal_driver.h"

namespace {

using testing_support::ModalDriver;
using toolkit::PasswordAnswer;

template <typename T>
T& child(QDialog& dialog, const char* name) {
  auto* found = dialog.findChild<T*>(name);
  if (found == nullptr) {
    throw std::runtime_error(std::string("the password dialog has no ") + name);
  }
  return *found;
}

QLineEdit& userEdit(QDialog& dialog) {
  return child<QLineEdit>(dialog, "userEdit");
}
QLineEdit& passwordEdit(QDialog& dialog) {
  return child<QLineEdit>(dialog, "passwordEdit");
}
QPushButton& button(QDialog& dialog, QDialogButtonBox::StandardButton which) {
  return *child<QDialogButtonBox>(dialog, "buttons").button(which);
}

// Types text key by key, letters beyond ASCII included, as a keyboard with an input method would.
void type(QWidget& field, const QString& text) {
  for (const QChar c : text) {
    QTest::sendKeyEvent(QTest::Click, &field, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

// The window the dialog belongs to, with a font of its own that no default would give.
class PasswordDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(15);
    window_.setFont(font);
    window_.show();
  }

  QWidget window_;
};

TEST_F(PasswordDialogTest, ShowsTheServersPromptOverTheWindowAndGivesWhatWasTyped) {
  // A prompt with markup in it, as a host name could be: it shows as written.
  const QString prompt = QStringLiteral("Password for root on <b>print&host</b>? ");
  ModalDriver driver([&](QDialog& shown) {
    EXPECT_EQ(shown.parentWidget(), &window_);
    EXPECT_TRUE(shown.isModal());
    EXPECT_EQ(shown.windowTitle(), toolkit::Application::current()->title());
    EXPECT_EQ(shown.font().toString(), window_.font().toString());
    EXPECT_EQ(child<QLabel>(shown, "prompt").text(), prompt);
    EXPECT_EQ(child<QLabel>(shown, "prompt").textFormat(), Qt::PlainText);
    EXPECT_EQ(userEdit(shown).text(), "root");
    EXPECT_EQ(passwordEdit(shown).text(), "");
    EXPECT_EQ(passwordEdit(shown).echoMode(), QLineEdit::Password);
    EXPECT_EQ(shown.focusWidget(), &passwordEdit(shown));

    // A user name of the operator's own, then the password, typed key by key.
    userEdit(shown).selectAll();
    type(userEdit(shown), QStringLiteral("prt-ユーザ"));
    type(passwordEdit(shown), QStringLiteral("s3cret pässwörd"));
    EXPECT_NE(passwordEdit(shown).displayText(), QStringLiteral("s3cret pässwörd"));
    QTest::mouseClick(&button(shown, QDialogButtonBox::Ok), Qt::LeftButton);
  });
  const std::optional<PasswordAnswer> answer = toolkit::askPassword(&window_, prompt, "root");
  EXPECT_TRUE(driver.drove());
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->user, QStringLiteral("prt-ユーザ"));
  EXPECT_EQ(answer->password, QStringLiteral("s3cret pässwörd"));
}

TEST_F(PasswordDialogTest, EnterAcceptsTheNameAsGiven) {
  ModalDriver driver([&](QDialog& shown) {
    QTest::keyClicks(&passwordEdit(shown), "pw");
    QTest::keyClick(&passwordEdit(shown), Qt::Key_Return);
  });
  const std::optional<PasswordAnswer> answer = toolkit::askPassword(&window_, "p", "operator");
  EXPECT_TRUE(driver.drove());
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->user, "operator");
  EXPECT_EQ(answer->password, "pw");
}

TEST_F(PasswordDialogTest, EveryWayOutButOkGivesNothing) {
  const struct {
    const char* way;
    std::function<void(QDialog&)> leave;
  } ways[] = {
      {"Cancel",
       [](QDialog& shown) {
         QTest::mouseClick(&button(shown, QDialogButtonBox::Cancel), Qt::LeftButton);
       }},
      {"Esc", [](QDialog& shown) { QTest::keyClick(&passwordEdit(shown), Qt::Key_Escape); }},
      {"close", [](QDialog& shown) { shown.close(); }},
  };
  for (const auto& way : ways) {
    ModalDriver driver([&](QDialog& shown) {
      QTest::keyClicks(&passwordEdit(shown), "typed but not sent");
      way.leave(shown);
    });
    EXPECT_EQ(toolkit::askPassword(&window_, "p", "root"), std::nullopt) << way.way;
    EXPECT_TRUE(driver.drove()) << way.way;
  }
}

TEST_F(PasswordDialogTest, OkWaitsForAUserName) {
  ModalDriver driver([&](QDialog& shown) {
    QPushButton& ok = button(shown, QDialogButtonBox::Ok);
    EXPECT_FALSE(ok.isEnabled()) << "no user name was given";
    QTest::keyClicks(&passwordEdit(shown), "pw");
    QTest::keyClick(&passwordEdit(shown), Qt::Key_Return);
    ASSERT_TRUE(shown.isVisible()) << "Enter sent a password for nobody";
    QTest::keyClicks(&userEdit(shown), "u");
    EXPECT_TRUE(ok.isEnabled());
    QTest::keyClick(&userEdit(shown), Qt::Key_Backspace);
    EXPECT_FALSE(ok.isEnabled());
    QTest::keyClicks(&userEdit(shown), "v");
    QTest::mouseClick(&ok, Qt::LeftButton);
  });
  const std::optional<PasswordAnswer> answer = toolkit::askPassword(&window_, "p", "");
  EXPECT_TRUE(driver.drove());
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->user, "v");
  EXPECT_EQ(answer->password, "pw");
}

TEST_F(PasswordDialogTest, ScreenReadersHearTheFieldsNamesButNotThePassword) {
  ModalDriver driver([&](QDialog& shown) {
    QTest::keyClicks(&passwordEdit(shown), "hidden");
    QAccessibleInterface* user = QAccessible::queryAccessibleInterface(&userEdit(shown));
    QAccessibleInterface* password = QAccessible::queryAccessibleInterface(&passwordEdit(shown));
    ASSERT_NE(user, nullptr);
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(user->text(QAccessible::Name), QStringLiteral("ユーザー名"));
    EXPECT_EQ(password->text(QAccessible::Name), QStringLiteral("パスワード"));
    EXPECT_TRUE(password->state().passwordEdit);
    EXPECT_FALSE(password->text(QAccessible::Value).contains("hidden"));
    shown.reject();
  });
  toolkit::askPassword(&window_, "p", "root");
  EXPECT_TRUE(driver.drove());
}

// The print server may be waited on away from the window's thread: the dialog still opens on the
// window's thread, where widgets live, and the answer reaches the asking thread.
TEST_F(PasswordDialogTest, AskedFromAnotherThreadOpensOnTheWindowsThread) {
  QThread* dialogThread = nullptr;
  ModalDriver driver([&](QDialog& shown) {
    dialogThread = shown.thread();
    QTest::keyClicks(&passwordEdit(shown), "from afar");
    QTest::keyClick(&passwordEdit(shown), Qt::Key_Return);
  });
  std::optional<PasswordAnswer> answer;
  std::atomic<bool> answered = false;
  std::thread asker([&] {
    answer = toolkit::askPassword(&window_, "p", "root");
    answered = true;
  });
  const bool done = QTest::qWaitFor([&] { return answered.load(); }, 20'000);
  // The asker is held until the dialog's answer comes, which the driver's own bound gives.
  while (!answered) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  }
  asker.join();
  EXPECT_TRUE(done);
  EXPECT_TRUE(driver.drove());
  EXPECT_EQ(dialogThread, QThread::currentThread());
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->password, "from afar");
}

}  // namespace
