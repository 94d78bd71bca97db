#pragma once

#include <QTimer>
#include <chrono>
#include <functional>

class QDialog;

namespace testing_support {

// Acts on the next modal dialog once its event loop runs, polling for it until the deadline so
// that no test sleeps. Create it just before the call that opens the dialog. The action must
// close the dialog: one left open fails the test and is rejected, so that the test ends.
class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(QDialog&)> act,
                       std::chrono::milliseconds limit = std::chrono::seconds(10));

  // Whether a dialog was found and acted on.
  bool drove() const { return drove_; }

 private:
  void poll();

  std::function<void(QDialog&)> act_;
  std::chrono::steady_clock::time_point deadline_;
  QTimer timer_;
  bool drove_ = false;
};

}  // namespace testing_support
