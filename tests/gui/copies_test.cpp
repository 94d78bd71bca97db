// The copies box and its spinner kept in step: the change handler and the spinner's clicks.
#include <gtest/gtest.h>

#include <QTest>
#include <cstdint>

#include "form/Unit1.h"
#include "tests/printer/fake_enumeration.h"
#include "tests/support/recording_spooler.h"

namespace {

struct CopiesRow {
  const char* typed;      // set as the copies box's text, as the operator would type it
  const char* presses;    // u/d: a mouse click on the up/down arrow; U/D: the click handler itself
  const char* text;       // the copies box afterwards
  std::int16_t position;  // the spinner's stored position afterwards
};

const CopiesRow kRows[] = {
    {"1", "u", "2", 2},
    {"1", "ud", "1", 1},
    {"1", "udd", "1", 1},  // a down click at 1 reports nothing
    {"1000", "u", "1000", 1000},
    {"1000", "d", "999", 999},
    {"5 copies", "u", "6", 6},
    {"007", "u", "8", 8},
    {"  12", "", "  12", 12},
    {"+4", "", "+4", 4},
    {"1500", "", "1500", 1500},
    {"1500", "u", "1500", 1500},  // above the range the up arrow cannot move
    {"1500", "d", "1499", 1499},
    {"-2", "", "-2", -2},
    {"-2", "u", "-1", -1},
    {"0", "u", "1", 1},
    {"0", "D", "1", 1},
    {"-2", "D", "1", 1},
    {"70000", "", "70000", 4464},            // the low 16 bits
    {"40000", "", "40000", -25536},          // taken as signed
    {"99999999999", "", "99999999999", -1},  // saturates to 2^31-1, whose low 16 bits are -1
    {"abc", "", "abc", 1},                   // no digit: the spinner stays
    {"x5", "", "x5", 1},                     // a digit, but no number at the start
    {"abc", "U", "1", 1},                    // no number counts as 0
    {"abc", "D", "1", 1},
    {"", "U", "1", 1},
    {"1", "uuu", "4", 4},
};

TEST(CopiesBox, ChangeHandlerAndSpinnerFollowTheTable) {
  for (const CopiesRow& row : kRows) {
    SCOPED_TRACE(std::string("typed \"") + row.typed + "\" then \"" + row.presses + "\"");
    testing_support::RecordingSpooler spooler;
    testing_support::FakeEnumeration printers;
    TForm1 form(spooler, printers);
    form.show();
    form.Edit2->setText(QString::fromUtf8(row.typed));
    for (const char* p = row.presses; *p != '\0'; ++p) {
      switch (*p) {
        case 'u':
          QTest::mouseClick(form.UpDown1->upButton(), Qt::LeftButton);
          break;
        case 'd':
          QTest::mouseClick(form.UpDown1->downButton(), Qt::LeftButton);
          break;
        case 'U':
          form.UpDown1Click(toolkit::UDBtnType::btNext);
          break;
        case 'D':
          form.UpDown1Click(toolkit::UDBtnType::btPrev);
          break;
      }
    }
    EXPECT_EQ(form.Edit2->text().toStdString(), row.text);
    EXPECT_EQ(form.UpDown1->position(), row.position);
  }
}

TEST(CopiesBox, TypingMovesTheSpinnerAfterEveryCharacter) {
  testing_support::RecordingSpooler spooler;
  testing_support::FakeEnumeration printers;
  TForm1 form(spooler, printers);
  form.show();
  form.Edit2->selectAll();
  QTest::keyClicks(form.Edit2, "37");
  EXPECT_EQ(form.UpDown1->position(), 37);
  QTest::keyClick(form.Edit2, Qt::Key_Backspace);
  EXPECT_EQ(form.UpDown1->position(), 3);
}

TEST(UpDownControl, ReportsTheArrowOnlyWhenThePositionMoves) {
  toolkit::UpDown upDown;
  upDown.setRange(1, 3);
  upDown.setPosition(2);
  std::string reported;
  QObject::connect(&upDown, &toolkit::UpDown::click, [&](toolkit::UDBtnType b) {
    reported += b == toolkit::UDBtnType::btNext ? 'u' : 'd';
  });
  for (const char press : std::string("uuuddddu")) {
    QTest::mouseClick(press == 'u' ? upDown.upButton() : upDown.downButton(), Qt::LeftButton);
  }
  EXPECT_EQ(reported,
            "udd"
            "u");
  EXPECT_EQ(upDown.position(), 2);
  EXPECT_EQ(upDown.focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(upDown.upButton()->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(upDown.downButton()->focusPolicy(), Qt::NoFocus);
}

}  // namespace
