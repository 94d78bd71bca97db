#pragma once

#include <string>

namespace testing_support {

// A network namespace of the test's own, for what needs an address that is not loopback: cupsd
// holds a client to "Encryption Required" only when it comes from such an address. While it
// lives, this thread and the threads and processes it starts are in the namespace, whose
// loopback device is up with 127.0.0.1 and `address` on it; nothing there reaches beyond it.
// Needs root (CAP_SYS_ADMIN); throws when the namespace cannot be made.
class PrivateNetwork {
 public:
  explicit PrivateNetwork(std::string address);
  // Puts this thread back in the network namespace it came from.
  ~PrivateNetwork();
  PrivateNetwork(const PrivateNetwork&) = delete;
  PrivateNetwork& operator=(const PrivateNetwork&) = delete;

  const std::string& address() const { return address_; }

 private:
  std::string address_;
  int formerNamespace_ = -1;
};

}  // namespace testing_support
