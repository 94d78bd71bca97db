// The printer box on a private cupsd: its list, the entry it starts on, the error boxes for a
// missing default, and the text the run takes.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QTest>
#include <chrono>

#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "tests/gui/gui_support.h"
#include "tests/printer/silent_server.h"
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

TEST(PrinterBoxUnanswered, WindowIsUpWithinTenSecondsWhenTheServerNeverAnswers) {
  const testing_support::SilentServer silent;
  const char* const former = ::getenv("CUPS_SERVER");
  const std::string restore = former ? former : "";
  ::setenv("CUPS_SERVER", silent.path().c_str(), 1);
  cupsSetServer(nullptr);
  {
    batchcups::CupsSpooler spooler;
    batchcups::CupsPrinters printers;
    ErrorBoxes errors;
    const auto start = std::chrono::steady_clock::now();
    TForm1 form(spooler, printers);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(10));
    std::cout << "window built against a silent server in "
              << std::chrono::duration<double>(took).count() << " s\n";
    EXPECT_EQ(errors.boxes().size(), 1u);
    EXPECT_EQ(form.ComboBox1->count(), 0);
  }
  former ? ::setenv("CUPS_SERVER", restore.c_str(), 1) : ::unsetenv("CUPS_SERVER");
  cupsSetServer(nullptr);
}

}  // namespace
