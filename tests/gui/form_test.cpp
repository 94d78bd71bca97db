// The window as built: every control in its place, the tab cycle, the start state, scrolling,
// exceptions out of handlers, closing.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <exception>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "form/Unit1.h"
#include "platform/toolkit/exceptions.h"
#include "tests/gui/gui_support.h"
#include "tests/printer/fake_enumeration.h"
#include "tests/support/recording_spooler.h"

namespace {

using testing_support::ErrorBoxes;
using testing_support::showAndActivate;

class FormTest : public testing::Test {
 protected:
  testing_support::RecordingSpooler spooler_;
  testing_support::FakeEnumeration printers_;
  TForm1 form_{spooler_, printers_};

  QWidget* control(const char* name) const { return form_.findChild<QWidget*>(name); }
};

enum class Kind { Label, Edit, Button, Memo, Combo, UpDown };
enum class Colour { Black, WindowText, NotALabel };

struct ControlRow {
  const char* name;
  Kind kind;
  QRect geometry;
  const char* caption;  // UTF-8: a label's or button's caption, an edit's initial text
  Colour colour;
};

const ControlRow kControls[] = {
    {"Label6", Kind::Label, {16, 24, 174, 15}, "出力するファイルのフォルダ", Colour::Black},
    {"Edit3", Kind::Edit, {200, 16, 457, 23}, "", Colour::NotALabel},
    {"Button2", Kind::Button, {672, 16, 65, 25}, "参照", Colour::NotALabel},
    {"Label1", Kind::Label, {16, 56, 160, 15}, "リストファイルの読み込み", Colour::Black},
    {"Label7", Kind::Label, {16, 80, 100, 15}, "リストファイル名", Colour::WindowText},
    {"Edit1", Kind::Edit, {136, 72, 457, 23}, "", Colour::NotALabel},
    {"Button1", Kind::Button, {608, 72, 65, 25}, "参照", Colour::NotALabel},
    {"Label8", Kind::Label, {16, 120, 172, 15}, "単体ファイルをリストへ追加", Colour::WindowText},
    {"Button5", Kind::Button, {200, 112, 57, 25}, "参照", Colour::NotALabel},
    {"Label2", Kind::Label, {16, 160, 62, 15}, "プリンタ名", Colour::Black},
    {"ComboBox1", Kind::Combo, {88, 152, 497, 23}, "Printer", Colour::NotALabel},
    {"Label4", Kind::Label, {608, 160, 60, 15}, "印刷部数", Colour::Black},
    {"Edit2", Kind::Edit, {680, 152, 33, 23}, "1", Colour::NotALabel},
    {"UpDown1", Kind::UpDown, {720, 144, 21, 31}, "", Colour::NotALabel},
    {"Button3", Kind::Button, {520, 200, 97, 33}, "処理開始", Colour::NotALabel},
    {"Button4", Kind::Button, {640, 200, 97, 33}, "終了", Colour::NotALabel},
    {"Label5", Kind::Label, {16, 208, 157, 15}, "出力するファイルのリスト", Colour::Black},
    {"Memo2", Kind::Memo, {16, 232, 233, 321}, "", Colour::NotALabel},
    {"Label3", Kind::Label, {264, 224, 63, 15}, "メッセージ", Colour::Black},
    {"Memo1", Kind::Memo, {264, 248, 473, 305}, "", Colour::NotALabel},
};

// The caption or contents a control shows, whatever its kind; empty for the spinner.
QString shownText(QWidget* w, Kind kind) {
  switch (kind) {
    case Kind::Label:
      return qobject_cast<QLabel*>(w)->text();
    case Kind::Edit:
      return qobject_cast<QLineEdit*>(w)->text();
    case Kind::Button:
      return qobject_cast<QPushButton*>(w)->text();
    case Kind::Memo:
      return qobject_cast<QPlainTextEdit*>(w)->toPlainText();
    case Kind::Combo:
      return qobject_cast<QComboBox*>(w)->currentText();
    case Kind::UpDown:
      return {};
  }
  return {};
}

bool isOfKind(QWidget* w, Kind kind) {
  switch (kind) {
    case Kind::Label:
      return qobject_cast<QLabel*>(w) != nullptr;
    case Kind::Edit:
      return qobject_cast<QLineEdit*>(w) != nullptr;
    case Kind::Button:
      return qobject_cast<QPushButton*>(w) != nullptr;
    case Kind::Memo:
      return qobject_cast<QPlainTextEdit*>(w) != nullptr;
    case Kind::Combo:
      return qobject_cast<toolkit::ComboBox*>(w) != nullptr;
    case Kind::UpDown:
      return qobject_cast<toolkit::UpDown*>(w) != nullptr;
  }
  return false;
}

TEST_F(FormTest, EveryControlHasItsKindPlaceSizeCaptionAndColour) {
  const QWidget* client = form_.scrollArea()->widget();
  const QColor windowText = form_.palette().color(QPalette::WindowText);
  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.name);
    QWidget* w = control(row.name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(isOfKind(w, row.kind));
    EXPECT_EQ(w->parentWidget(), client);
    if (row.kind == Kind::Label) {
      // A label stands at its place and takes its caption's size in the font it shows.
      const QFontMetrics metrics(w->font());
      EXPECT_EQ(w->pos(), row.geometry.topLeft());
      EXPECT_EQ(w->size(), w->sizeHint());
      EXPECT_GE(w->width(), metrics.horizontalAdvance(QString::fromUtf8(row.caption)));
      EXPECT_GE(w->height(), metrics.height());
    } else {
      EXPECT_EQ(w->geometry(), row.geometry);
    }
    EXPECT_EQ(shownText(w, row.kind), QString::fromUtf8(row.caption));
    EXPECT_EQ(w->font().pixelSize(), 15);
    EXPECT_EQ(QFontInfo(w->font()).family(), QStringLiteral("IPAPGothic"));
    if (row.colour != Colour::NotALabel) {
      // Black is set on the label itself; the window-text labels follow the window's palette,
      // which may be black as well in some styles.
      const bool black = row.colour == Colour::Black;
      EXPECT_EQ(w->palette().isBrushSet(QPalette::Active, QPalette::WindowText), black);
      EXPECT_EQ(w->palette().color(QPalette::WindowText), black ? QColor(Qt::black) : windowText);
    }
  }
}

// Nothing cuts a typed or pasted text: the printer box's name goes to the run whole.
TEST_F(FormTest, NoEditOrBoxLimitsTheLengthOfItsText) {
  for (const QLineEdit* edit :
       {form_.Edit1, form_.Edit2, form_.Edit3, form_.ComboBox1->lineEdit()}) {
    EXPECT_EQ(edit->maxLength(), std::numeric_limits<int>::max())
        << edit->objectName().toStdString();
  }
  const QString longName(40'000, u'p');
  QGuiApplication::clipboard()->setText(longName);
  form_.ComboBox1->lineEdit()->selectAll();
  QTest::keyClick(form_.ComboBox1->lineEdit(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form_.ComboBox1->currentText().size(), longName.size());
  EXPECT_EQ(form_.ComboBox1->currentText(), longName);
}

// A screen reader announces every control the operator can reach by a name that says what it
// is: the fields by their labels, the browse buttons and the spinner's arrows by what they do.
TEST_F(FormTest, EveryReachableControlHasANameForScreenReaders) {
  const auto name = [](QWidget* w) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
    return accessible != nullptr ? accessible->text(QAccessible::Name) : QString();
  };
  std::vector<QWidget*> reachable;
  for (QWidget* w : form_.findChildren<QWidget*>()) {
    if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isEnabled() && w->window() == &form_) {
      reachable.push_back(w);
    }
  }
  reachable.push_back(form_.UpDown1->upButton());
  reachable.push_back(form_.UpDown1->downButton());
  EXPECT_GE(reachable.size(), 13u);
  for (QWidget* w : reachable) {
    EXPECT_FALSE(name(w).trimmed().isEmpty())
        << w->metaObject()->className() << " " << w->objectName().toStdString();
  }

  const struct {
    QLabel* label;
    QWidget* field;
  } buddies[] = {{form_.Label6, form_.Edit3},     {form_.Label7, form_.Edit1},
                 {form_.Label2, form_.ComboBox1}, {form_.Label4, form_.Edit2},
                 {form_.Label5, form_.Memo2},     {form_.Label3, form_.Memo1},
                 {form_.Label8, form_.Button5}};
  for (const auto& b : buddies) {
    SCOPED_TRACE(b.field->objectName().toStdString());
    EXPECT_EQ(b.label->buddy(), b.field);
    // The label is what the accessibility interface reports as labelling the field.
    bool labelled = false;
    for (const auto& [other, relation] :
         QAccessible::queryAccessibleInterface(b.field)->relations(QAccessible::Label)) {
      labelled = labelled || other->object() == b.label;
    }
    EXPECT_TRUE(labelled);
    if (qobject_cast<QLineEdit*>(b.field) != nullptr ||
        qobject_cast<QPlainTextEdit*>(b.field) != nullptr) {
      EXPECT_EQ(name(b.field), b.label->text());
    }
  }
  // The printer box's own name is its text, as Qt gives it on this platform; the edit field
  // inside it, where the focus is, is named by the label.
  EXPECT_EQ(name(form_.ComboBox1->lineEdit()), form_.Label2->text());
  const QStringList browse = {name(form_.Button1), name(form_.Button2), name(form_.Button5)};
  for (const QString& n : browse) {
    EXPECT_NE(n, QStringLiteral("参照"));
    EXPECT_EQ(browse.count(n), 1) << n.toStdString();
  }
  EXPECT_NE(name(form_.UpDown1->upButton()), name(form_.UpDown1->downButton()));
}

TEST_F(FormTest, WindowPropertiesAndFixedClientArea) {
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("Send many files to printer"));
  EXPECT_EQ(form_.scrollArea()->widget()->size(), QSize(741, 553));
  EXPECT_EQ(form_.palette().color(QPalette::Window), form_.palette().color(QPalette::Button));
  EXPECT_EQ(form_.findChild<QObject*>("OpenDialog1"), form_.OpenDialog1);
  // The memos: the file list never wraps and scrolls both ways; messages wrap, vertical only.
  EXPECT_EQ(form_.Memo2->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(form_.Memo2->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form_.Memo2->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form_.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(form_.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(form_.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_TRUE(form_.ComboBox1->isEditable());
  EXPECT_EQ(form_.ComboBox1->maxVisibleItems(), 8);
  EXPECT_EQ(form_.ComboBox1->insertPolicy(), QComboBox::NoInsert);
}

TEST_F(FormTest, StartsEmptyWithOneCopyAndFocusInTheListFileBox) {
  ASSERT_TRUE(showAndActivate(form_));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == form_.Edit1; }));
  EXPECT_TRUE(form_.Edit1->text().isEmpty());
  EXPECT_TRUE(form_.Edit3->text().isEmpty());
  EXPECT_TRUE(form_.Memo1->toPlainText().isEmpty());
  EXPECT_TRUE(form_.Memo2->toPlainText().isEmpty());
  EXPECT_EQ(form_.Edit2->text(), QStringLiteral("1"));
  EXPECT_EQ(form_.UpDown1->position(), 1);
}

TEST_F(FormTest, TabVisitsTheControlsInOrderAndComesRound) {
  ASSERT_TRUE(showAndActivate(form_));
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == form_.Edit1; }));
  const QStringList expected = {"Button1", "Button3", "Button4", "Memo1",   "ComboBox1", "Edit2",
                                "Memo2",   "Edit3",   "Button2", "Button5", "Edit1",     "Button1"};
  QStringList visited;
  for (qsizetype i = 0; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    // The combo box's focus lands in its line edit; name the control that owns it.
    while (focus != nullptr && focus->objectName().isEmpty()) {
      focus = focus->parentWidget();
    }
    visited << (focus != nullptr ? focus->objectName() : QStringLiteral("(none)"));
  }
  EXPECT_EQ(visited, expected);
}

TEST_F(FormTest, EnterPressesOnlyTheFocusedButtonAndEscPressesNone) {
  // The start button's own run would print; one click is all this test needs to see.
  QObject::disconnect(form_.Button3, &QPushButton::clicked, nullptr, nullptr);
  ASSERT_TRUE(showAndActivate(form_));
  QSignalSpy start(form_.Button3, &QPushButton::clicked);
  QSignalSpy exit(form_.Button4, &QPushButton::clicked);
  form_.Memo2->setFocus();
  QTest::keyClick(form_.Memo2, Qt::Key_Return);
  QTest::keyClick(form_.Memo2, Qt::Key_Escape);
  EXPECT_EQ(form_.Memo2->blockCount(), 2) << "Enter in a memo is a new line";
  EXPECT_EQ(start.count() + exit.count(), 0);
  form_.Button3->setFocus();
  QTest::keyClick(form_.Button3, Qt::Key_Return);
  EXPECT_EQ(start.count(), 1);
  EXPECT_EQ(exit.count(), 0);
}

TEST_F(FormTest, SmallerWindowScrollsAndLeavesControlsInPlace) {
  ASSERT_TRUE(showAndActivate(form_));
  const auto scrollBarsShown = [this] {
    return std::pair(form_.scrollArea()->horizontalScrollBar()->isVisible(),
                     form_.scrollArea()->verticalScrollBar()->isVisible());
  };
  form_.resize(761, 606);
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return form_.scrollArea()->size() == QSize(761, 606) &&
           scrollBarsShown() == std::pair(false, false);
  }));
  form_.resize(400, 300);
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return form_.scrollArea()->size() == QSize(400, 300) &&
           scrollBarsShown() == std::pair(true, true);
  }));
  form_.scrollArea()->verticalScrollBar()->setValue(100);
  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.name);
    if (row.kind == Kind::Label) {
      EXPECT_EQ(control(row.name)->pos(), row.geometry.topLeft());
      EXPECT_EQ(control(row.name)->size(), control(row.name)->sizeHint());
    } else {
      EXPECT_EQ(control(row.name)->geometry(), row.geometry);
    }
  }
  EXPECT_EQ(form_.scrollArea()->widget()->size(), QSize(741, 553));
  EXPECT_EQ(form_.Memo1->mapTo(&form_, QPoint(0, 0)), QPoint(264, 248 - 100));
}

TEST_F(FormTest, ToolkitExceptionFromAHandlerIsShownAndTheProgramGoesOn) {
  ErrorBoxes errors;
  ASSERT_TRUE(showAndActivate(form_));
  // The default printer goes away: the printer box's change handler, reached through the real
  // wiring, now raises the printer object's error at each edit.
  printers_.query = {spool::DefaultPrinterQuery::Outcome::NoDefault, "", 0, ""};
  form_.ComboBox1->setFocus();
  QTest::keyClick(form_.ComboBox1, Qt::Key_Z);
  ASSERT_EQ(errors.boxes().size(), 1U);
  EXPECT_EQ(errors.boxes()[0].text, QStringLiteral("デフォルト プリンタが存在しません."));
  EXPECT_EQ(errors.boxes()[0].title, toolkit::Application::current()->title());
  // The window still answers: the spinner steps the copies box, and the next edit of the printer
  // box is shown again.
  QTest::mouseClick(form_.UpDown1->upButton(), Qt::LeftButton);
  EXPECT_EQ(form_.Edit2->text(), QStringLiteral("2"));
  QTest::keyClick(form_.ComboBox1, Qt::Key_Backspace);
  EXPECT_EQ(errors.boxes().size(), 2U);
}

// Not only the toolkit's own exceptions: whatever a handler lets escape (memory running out on a
// huge list included) is shown with its text, and the window goes on.
TEST_F(FormTest, AnyExceptionFromAHandlerIsShownAndTheProgramGoesOn) {
  ErrorBoxes errors;
  ASSERT_TRUE(showAndActivate(form_));
  form_.ComboBox1->setFocus();
  const struct {
    std::exception_ptr thrown;
    QString shown;
  } cases[] = {
      {std::make_exception_ptr(std::bad_alloc()), QStringLiteral("std::bad_alloc.")},
      {std::make_exception_ptr(std::runtime_error("disk on fire")),
       QStringLiteral("disk on fire.")},
      {std::make_exception_ptr(std::logic_error("never here!")), QStringLiteral("never here!")},
      {std::make_exception_ptr(42), QStringLiteral("Unknown exception.")},
  };
  for (const auto& c : cases) {
    printers_.failure = c.thrown;
    QTest::keyClick(form_.ComboBox1, Qt::Key_Z);
    ASSERT_FALSE(errors.boxes().empty());
    EXPECT_EQ(errors.boxes().back().text, c.shown);
  }
  EXPECT_EQ(errors.boxes().size(), std::size(cases));
  printers_.failure = nullptr;
  QTest::mouseClick(form_.UpDown1->upButton(), Qt::LeftButton);
  EXPECT_EQ(form_.Edit2->text(), QStringLiteral("2"));
}

TEST_F(FormTest, ExitButtonEndsTheLoopWithZeroWhateverTheControlsHold) {
  ASSERT_TRUE(showAndActivate(form_));
  form_.Memo1->setPlainText(QStringLiteral("typed\ninto the messages"));
  form_.Edit2->setText(QStringLiteral("abc"));
  QTimer::singleShot(0, form_.Button4,
                     [this] { QTest::mouseClick(form_.Button4, Qt::LeftButton); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(form_.isVisible());
}

}  // namespace
