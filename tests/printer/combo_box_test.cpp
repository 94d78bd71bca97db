#include "platform/toolkit/combo_box.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>
#include <variant>
#include <vector>

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace {

const QStringList kEntries = {"Alpha", "alphabet", "Beta", "Be"};

// What the operator or a handler does, one step at a time.
struct Type {
  QString text;
};
struct Press {
  Qt::Key key;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};
struct Pick {  // from the opened list, with the mouse
  int index;
};
struct HandlerSelects {
  int index;
};
struct Paste {
  QString text;
};
struct LoseFocus {};
using Action = std::variant<Type, Press, Pick, HandlerSelects, Paste, LoseFocus>;

struct Step {
  Action action;
  QString text;         // the box's text afterwards
  QString highlighted;  // its highlighted part
  int selected;         // the selected entry
  int changes;          // change events raised so far
};

struct KeyCase {
  const char* name;
  std::vector<Step> steps;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.name;
}

void perform(toolkit::ComboBox& box, const Action& action) {
  if (const auto* type = std::get_if<Type>(&action)) {
    QTest::keyClicks(&box, type->text);
  } else if (const auto* press = std::get_if<Press>(&action)) {
    QTest::keyClick(&box, press->key, press->modifiers);
  } else if (const auto* pick = std::get_if<Pick>(&action)) {
    box.showPopup();
    QAbstractItemView* view = box.view();
    const QRect item = view->visualRect(box.model()->index(pick->index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
  } else if (const auto* select = std::get_if<HandlerSelects>(&action)) {
    box.setCurrentIndex(select->index);
  } else if (const auto* paste = std::get_if<Paste>(&action)) {
    QApplication::clipboard()->setText(paste->text);
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
  } else {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box.lineEdit(), &out);
  }
}

class KeySequences : public testing::TestWithParam<KeyCase> {};

TEST_P(KeySequences, TextSelectionAndChangeEventsFollowEachStep) {
  toolkit::ComboBox box;
  box.setItems(kEntries);
  int changes = 0;
  QObject::connect(&box, &toolkit::ComboBox::change, [&] { ++changes; });
  box.show();
  const auto& steps = GetParam().steps;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "step " << i + 1);
    perform(box, steps[i].action);
    EXPECT_EQ(box.currentText(), steps[i].text);
    EXPECT_EQ(box.lineEdit()->selectedText(), steps[i].highlighted);
    EXPECT_EQ(box.currentIndex(), steps[i].selected);
    EXPECT_EQ(changes, steps[i].changes);
  }
}

constexpr Qt::Key kBack = Qt::Key_Backspace;

INSTANTIATE_TEST_SUITE_P(
    Table, KeySequences,
    testing::Values(KeyCase{"CompletesKeepsTypedLettersAndRaisesOnlyOnANewEntry",
                            {{Type{"a"}, "alpha", "lpha", 0, 1},
                             {Type{"L"}, "aLpha", "pha", 0, 1},
                             {Type{"pha"}, "aLpha", "", 0, 1},
                             {Type{"b"}, "aLphabet", "et", 1, 2},
                             {Type{"x"}, "aLphabx", "", -1, 3},
                             {Type{"y"}, "aLphabxy", "", -1, 4}}},
                    KeyCase{"FirstEntryInListOrderWins",
                            {{Type{"be"}, "beta", "ta", 2, 1},
                             {Press{Qt::Key_Delete}, "be", "", -1, 2}}},
                    KeyCase{"BackspaceRemovesTheHighlightThenACharacterAndDeselects",
                            {{Type{"B"}, "Beta", "eta", 2, 1},
                             {Press{kBack}, "B", "", -1, 2},
                             {Press{kBack}, "", "", -1, 3},
                             {Press{kBack}, "", "", -1, 4},
                             {Type{"b"}, "beta", "eta", 2, 5}}},
                    KeyCase{"TypingAfterDeselectingSelectsAgainWithAChange",
                            {{Type{"al"}, "alpha", "pha", 0, 1},
                             {Press{kBack}, "al", "", -1, 2},
                             {Type{"p"}, "alpha", "ha", 0, 3}}},
                    KeyCase{"HandlerSelectionRaisesNothingAndTypingOnEditsAsTyped",
                            {{HandlerSelects{2}, "Beta", "", 2, 0},
                             {Press{Qt::Key_Home}, "Beta", "", 2, 0},
                             {Press{Qt::Key_Delete}, "eta", "", -1, 1},
                             {Type{"Z"}, "Zeta", "", -1, 2}}},
                    KeyCase{"PickShowsTheEntryItselfEvenWhenAlreadySelected",
                            {{Type{"a"}, "alpha", "lpha", 0, 1},
                             {Pick{0}, "Alpha", "", 0, 2},
                             {Pick{3}, "Be", "", 3, 3}}},
                    KeyCase{"ArrowKeysPickTheNeighbour",
                            {{Press{Qt::Key_Down}, "Alpha", "", 0, 1},
                             {Press{Qt::Key_Down}, "alphabet", "", 1, 2}}},
                    KeyCase{"PasteAndCutAreEdits",
                            {{Paste{"Beta"}, "Beta", "", -1, 1},
                             {Press{Qt::Key_A, Qt::ControlModifier}, "Beta", "Beta", -1, 1},
                             {Press{Qt::Key_X, Qt::ControlModifier}, "", "", -1, 2}}},
                    KeyCase{"EnterAndLeavingTheBoxPickNothing",
                            {{Type{"Be"}, "Beta", "ta", 2, 1},
                             {Press{Qt::Key_Delete}, "Be", "", -1, 2},
                             {Press{Qt::Key_Return}, "Be", "", -1, 2},
                             {LoseFocus{}, "Be", "", -1, 2}}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
