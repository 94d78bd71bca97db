#pragma once

#include <QComboBox>
#include <QStringList>

namespace toolkit {

// An editable drop-down box that completes typed text from its list and raises `change` by the
// rules the form relies on: a pick from the list, a typed character that selects another entry or
// none, every Backspace and any other edit; never when a handler selects an entry.
//
// Qt's own box does none of this: it keeps its index while the text is typed over, completes
// only through a completer, and picks entries by itself when editing finishes. So the box owns
// its edit field and takes over the keys that complete or delete.
class ComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit ComboBox(QWidget* parent = nullptr);

  // Replaces the entries, in the order given. Raises no change.
  void setItems(const QStringList& items);

 signals:
  void change();

 private:
  class CompletingEdit;

  // Completes `typed` after the text before the caret or highlight; false when no entry begins
  // with the result, so that the key is entered as typed.
  bool completeTyped(const QString& typed);
  // Any edit that did not complete: no entry is selected any more.
  void editedByOperator();
  void picked(int index);
  void selectQuietly(int index);

  CompletingEdit* edit_ = nullptr;
};

}  // namespace toolkit
