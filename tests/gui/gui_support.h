#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "platform/toolkit/application.h"

namespace testing_support {

// The error boxes shown while it lives, as (title, text); the previous sink comes back after.
class ErrorBoxes {
 public:
  struct Box {
    QString title;
    QString text;
  };

  ErrorBoxes();
  ~ErrorBoxes();
  ErrorBoxes(const ErrorBoxes&) = delete;
  ErrorBoxes& operator=(const ErrorBoxes&) = delete;

  const std::vector<Box>& boxes() const { return boxes_; }

 private:
  std::vector<Box> boxes_;
};

// Shows the window, activates it and waits (bounded) until it is the active window.
bool showAndActivate(QWidget& window);

}  // namespace testing_support
