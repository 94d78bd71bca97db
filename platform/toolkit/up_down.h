#pragma once

#include <QToolButton>
#include <QWidget>
#include <cstdint>

namespace toolkit {

// Which arrow of an up-down control a click reports.
enum class UDBtnType { btNext, btPrev };

// A standalone vertical up-down control: two stacked arrow buttons, worked with the mouse only
// and never focused. It keeps a stored position (a signed 16-bit value); an arrow press moves it
// by one within [minimum, maximum] without wrapping and raises `click` with the arrow's
// direction. A press that cannot move the position (an arrow at its end of the range) raises
// nothing. Setting the position from outside raises nothing either.
class UpDown : public QWidget {
  Q_OBJECT

 public:
  explicit UpDown(QWidget* parent = nullptr);

  std::int16_t position() const { return position_; }
  void setPosition(std::int16_t position) { position_ = position; }
  std::int16_t minimum() const { return minimum_; }
  std::int16_t maximum() const { return maximum_; }
  void setRange(std::int16_t minimum, std::int16_t maximum);

  QToolButton* upButton() const { return up_; }
  QToolButton* downButton() const { return down_; }

  // What an arrow press does to the stored position, as the control reports it. Exposed so the
  // edges can be checked without a mouse.
  void press(UDBtnType button);

 signals:
  void click(toolkit::UDBtnType button);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* up_ = nullptr;
  QToolButton* down_ = nullptr;
  std::int16_t position_ = 0;
  std::int16_t minimum_ = 0;
  std::int16_t maximum_ = 100;
};

}  // namespace toolkit
