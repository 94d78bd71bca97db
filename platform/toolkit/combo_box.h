#pragma once

#include <QComboBox>

namespace toolkit {

// An editable drop-down box that completes typed text from its list and raises `change` by the
// rules the form relies on: a pick from the list, a typed character that selects another entry or
// none, every Backspace and any other edit; never when a handler selects an entry.
class ComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit ComboBox(QWidget* parent = nullptr);

 signals:
  void change();
};

}  // namespace toolkit
