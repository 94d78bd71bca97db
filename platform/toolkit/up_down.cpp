#include "platform/toolkit/up_down.h"

namespace toolkit {
namespace {

QToolButton* arrowButton(QWidget* parent, Qt::ArrowType arrow) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setFocusPolicy(Qt::NoFocus);
  // Held down, the arrow keeps stepping, as a spinner's arrow does.
  button->setAutoRepeat(true);
  return button;
}

}  // namespace

UpDown::UpDown(QWidget* parent)
    : QWidget(parent),
      up_(arrowButton(this, Qt::UpArrow)),
      down_(arrowButton(this, Qt::DownArrow)) {
  setFocusPolicy(Qt::NoFocus);
  connect(up_, &QToolButton::clicked, this, [this] { press(UDBtnType::btNext); });
  connect(down_, &QToolButton::clicked, this, [this] { press(UDBtnType::btPrev); });
}

void UpDown::setRange(std::int16_t minimum, std::int16_t maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
}

// A position set outside the range (the form sets whatever number the copies box holds) moves
// only towards the range: up while below the maximum, down while above the minimum. So the
// direction reported is always that of the arrow pressed, and an arrow facing away from the
// range reports nothing.
void UpDown::press(UDBtnType button) {
  const bool up = button == UDBtnType::btNext;
  if (up ? position_ >= maximum_ : position_ <= minimum_) {
    return;
  }
  position_ = static_cast<std::int16_t>(position_ + (up ? 1 : -1));
  emit click(button);
}

void UpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int upper = height() / 2;
  up_->setGeometry(0, 0, width(), upper);
  down_->setGeometry(0, upper, width(), height() - upper);
}

}  // namespace toolkit
