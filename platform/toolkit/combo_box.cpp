#include "platform/toolkit/combo_box.h"

namespace toolkit {

ComboBox::ComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMaxVisibleItems(8);
}

}  // namespace toolkit
