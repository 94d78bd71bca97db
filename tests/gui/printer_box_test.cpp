// The printer box on a private cupsd: its list, the entry it starts on, the error boxes for a
// missing default, and the text the run takes.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QTest>
#include <chrono>
#include <optional>
#include <string>

#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "tests/gui/gui_support.h"
#include "tests/printer/silent_server.h"
#include "tests/printer/slow_relay.h"
#include "tests/support/private_cupsd.h"

namespace {

using testing_support::ErrorBoxes;

const QString kNoDefaultBox = QStringLiteral("デフォルト プリンタが存在しません.");

QStringList items(const QComboBox& box) {
  QStringList texts;
  for (int i = 0; i < box.count(); ++i) {
    texts.push_back(box.itemText(i));
  }
  return texts;
}

class PrinterBoxTest : public testing::Test {
 protected:
  testing_support::PrivateCupsd cupsd;
  batchcups::CupsSpooler spooler;
  batchcups::CupsPrinters printers;
  ErrorBoxes errors;

  void addQueuesBThenA() {
    cupsd.addCaptureQueue("B");
    cupsd.addCaptureQueue("A");
    cupsd.setDefault("B");
  }
};

TEST_F(PrinterBoxTest, ListsTheQueuesInTheServersOrderAndStartsOnTheDefault) {
  addQueuesBThenA();
  TForm1 form(spooler, printers);
  EXPECT_EQ(items(*form.ComboBox1), (QStringList{"A", "B"}));
  EXPECT_EQ(form.ComboBox1->currentIndex(), 1);
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("B"));
  EXPECT_TRUE(errors.boxes().empty());
}

TEST_F(PrinterBoxTest, DefaultNamedInOtherLetterCaseIsFound) {
  addQueuesBThenA();
  ::setenv("LPDEST", "a", 1);  // the server's fixture puts LPDEST back
  TForm1 form(spooler, printers);
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("A"));
  EXPECT_TRUE(errors.boxes().empty());
}

TEST_F(PrinterBoxTest, NoQueueGivesAnEmptyBoxAndAnErrorBoxAtEachLookup) {
  TForm1 form(spooler, printers);
  EXPECT_EQ(form.ComboBox1->count(), 0);
  EXPECT_EQ(form.ComboBox1->currentText(), QString());
  ASSERT_EQ(errors.boxes().size(), 1u);
  EXPECT_EQ(errors.boxes()[0].text, kNoDefaultBox);

  // Every change looks the default up again: a typed character, each Backspace.
  QTest::keyClicks(form.ComboBox1, "x");
  QTest::keyClick(form.ComboBox1, Qt::Key_Backspace);
  QTest::keyClick(form.ComboBox1, Qt::Key_Backspace);
  ASSERT_EQ(errors.boxes().size(), 4u);
  for (const auto& box : errors.boxes()) {
    EXPECT_EQ(box.text, kNoDefaultBox);
  }
  EXPECT_EQ(form.ComboBox1->currentText(), QString());
}

TEST_F(PrinterBoxTest, TypedNameThatIsNoEntryStaysAndIsWhatTheRunUses) {
  addQueuesBThenA();
  TForm1 form(spooler, printers);
  QTest::keyClick(form.ComboBox1, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(form.ComboBox1, "Zq");
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("Zq"));
  EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
  form.Button3->click();
  EXPECT_TRUE(form.Memo1->toPlainText().startsWith(QStringLiteral("printer name : Zq")))
      << form.Memo1->toPlainText().toStdString();
  // The default still exists, so following the typed text showed nothing.
  EXPECT_TRUE(errors.boxes().empty());
}

// Points this process's libcups at `path` for the scope's life.
class ServerAt {
 public:
  explicit ServerAt(const std::string& path) {
    if (const char* former = ::getenv("CUPS_SERVER")) {
      former_ = former;
    }
    ::setenv("CUPS_SERVER", path.c_str(), 1);
    cupsSetServer(nullptr);
  }
  ~ServerAt() {
    former_ ? ::setenv("CUPS_SERVER", former_->c_str(), 1) : ::unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
  }
  ServerAt(const ServerAt&) = delete;
  ServerAt& operator=(const ServerAt&) = delete;

 private:
  std::optional<std::string> former_;
};

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// A server that takes the connection and never answers: the window is built after one bounded
// look (the list and the default together), and the operator is told of a system error, not
// sent looking for a default printer.
TEST(PrinterBoxUnanswered, WindowIsBuiltWithinTwoAndAHalfSecondsAndShowsASystemError) {
  const testing_support::SilentServer silent;
  const ServerAt server(silent.path());
  batchcups::CupsSpooler spooler;
  batchcups::CupsPrinters printers;
  ErrorBoxes errors;
  const auto start = std::chrono::steady_clock::now();
  TForm1 form(spooler, printers);
  const auto took = std::chrono::steady_clock::now() - start;
  std::cout << "window built against a silent server in " << seconds(took) << " s\n";
  EXPECT_LT(took, std::chrono::milliseconds(2'500));
  ASSERT_EQ(errors.boxes().size(), 1u);
  EXPECT_TRUE(errors.boxes()[0].text.startsWith(QStringLiteral("システムエラー。コード：")))
      << errors.boxes()[0].text.toStdString();
  EXPECT_NE(errors.boxes()[0].text, kNoDefaultBox);
  EXPECT_EQ(form.ComboBox1->count(), 0);

  // A change of the box looks the default up again, and fails the same way.
  QTest::keyClicks(form.ComboBox1, "x");
  ASSERT_EQ(errors.boxes().size(), 2u);
  EXPECT_TRUE(errors.boxes()[1].text.startsWith(QStringLiteral("システムエラー。コード：")));
}

// A server that answers slowly, each answer's body held back half a second, but within the
// bound: the box is filled and starts on the default.
TEST_F(PrinterBoxTest, SlowServerWithinTheBoundStillFillsTheBox) {
  addQueuesBThenA();
  const testing_support::SlowRelay relay(cupsd.socketPath(), std::chrono::milliseconds(500));
  const ServerAt server(relay.path());
  batchcups::CupsPrinters slowPrinters;
  TForm1 form(spooler, slowPrinters);
  EXPECT_EQ(items(*form.ComboBox1), (QStringList{"A", "B"}));
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("B"));
  EXPECT_GE(relay.heldBack(), 2);
  EXPECT_TRUE(errors.boxes().empty());
}

}  // namespace
