#include "platform/toolkit/combo_box.h"

#include <limits>

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

namespace toolkit {

namespace {

bool isTypedText(const QKeyEvent& event) {
  constexpr auto kCommandModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
  const QString text = event.text();
  return !text.isEmpty() && text.front().isPrint() && !(event.modifiers() & kCommandModifiers);
}

bool isEnter(const QKeyEvent& event) {
  return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
}

}  // namespace

// The edit field sees every key the box forwards, and tells keys that complete from keys that
// edit; edits that come by other ways (context menu, input method, drag and drop) arrive as
// textEdited.
class ComboBox::CompletingEdit : public QLineEdit {
 public:
  explicit CompletingEdit(ComboBox& box) : QLineEdit(&box), box_(box) {
    connect(this, &QLineEdit::textEdited, this, [this] {
      if (inKey_) {
        editedInKey_ = true;
      } else {
        box_.editedByOperator();
      }
    });
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  ComboBox& box_;
  bool inKey_ = false;
  bool editedInKey_ = false;
};

void ComboBox::CompletingEdit::keyPressEvent(QKeyEvent* event) {
  const bool typed = isTypedText(*event);
  if (typed && box_.completeTyped(event->text())) {
    event->accept();
    return;
  }
  // Enter neither picks an entry nor presses a button here.
  if (isEnter(*event)) {
    event->ignore();
    return;
  }
  inKey_ = true;
  editedInKey_ = false;
  QLineEdit::keyPressEvent(event);
  inKey_ = false;
  const bool backspace = event->key() == Qt::Key_Backspace;
  if (typed || backspace || editedInKey_) {
    box_.editedByOperator();
  }
}

ComboBox::ComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMaxVisibleItems(8);
  edit_ = new CompletingEdit(*this);
  setLineEdit(edit_);
  // No length limit: a longer name would be cut, and the run would use the cut one.
  edit_->setMaxLength(std::numeric_limits<int>::max());
  // Completion is ours; and the box must not pick an entry by itself when editing finishes.
  setCompleter(nullptr);
  disconnect(edit_, &QLineEdit::editingFinished, this, nullptr);
  disconnect(edit_, &QLineEdit::returnPressed, this, nullptr);
  connect(this, &QComboBox::activated, this, &ComboBox::picked);
}

void ComboBox::setItems(const QStringList& items) {
  const QSignalBlocker blocker(this);
  clear();
  addItems(items);
  setCurrentIndex(-1);
}

bool ComboBox::completeTyped(const QString& typed) {
  const int keep = edit_->hasSelectedText() ? edit_->selectionStart() : edit_->cursorPosition();
  const QString prefix = edit_->text().left(keep) + typed;
  for (int i = 0; i < count(); ++i) {
    const QString entry = itemText(i);
    if (!entry.startsWith(prefix, Qt::CaseInsensitive)) {
      continue;
    }
    const bool other = i != currentIndex();
    selectQuietly(i);
    const QString text = prefix + entry.mid(prefix.size());
    edit_->setText(text);
    edit_->setSelection(static_cast<int>(prefix.size()),
                        static_cast<int>(text.size() - prefix.size()));
    if (other) {
      emit change();
    }
    return true;
  }
  return false;
}

void ComboBox::editedByOperator() {
  // Deselecting would empty the field, so the text and the caret are put back.
  const QString text = edit_->text();
  const int cursor = edit_->cursorPosition();
  selectQuietly(-1);
  if (edit_->text() != text) {
    const QSignalBlocker blocker(edit_);
    edit_->setText(text);
    edit_->setCursorPosition(cursor);
  }
  emit change();
}

void ComboBox::picked(int index) {
  // Picking the entry already selected must still show that entry's own text.
  edit_->setText(itemText(index));
  emit change();
}

void ComboBox::selectQuietly(int index) {
  const QSignalBlocker blocker(this);
  const QSignalBlocker editBlocker(edit_);
  setCurrentIndex(index);
}

}  // namespace toolkit
