#include "tests/gui/modal_driver.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <utility>

namespace testing_support {

ModalDriver::ModalDriver(std::function<void(QDialog&)> act, std::chrono::milliseconds limit)
    : act_(std::move(act)), deadline_(std::chrono::steady_clock::now() + limit) {
  timer_.setInterval(std::chrono::milliseconds(5));
  QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
  timer_.start();
}

void ModalDriver::poll() {
  auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
  if (dialog == nullptr || !dialog->isVisible()) {
    if (std::chrono::steady_clock::now() > deadline_) {
      timer_.stop();
      ADD_FAILURE() << "no modal dialog was shown";
    }
    return;
  }
  timer_.stop();
  drove_ = true;
  act_(*dialog);
  if (dialog->isVisible()) {
    ADD_FAILURE() << "the dialog was left open";
    dialog->reject();
  }
}

}  // namespace testing_support
