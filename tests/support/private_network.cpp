#include "tests/support/private_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace testing_support {

namespace {

[[noreturn]] void failErrno(const std::string& what) {
  throw std::runtime_error("private network: " + what + ": " + std::strerror(errno));
}

void setAddress(int fd, const char* device, unsigned long request, const std::string& address) {
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, device, IFNAMSIZ - 1);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    errno = EINVAL;
    failErrno("not an IPv4 address: " + address);
  }
  std::memcpy(&ifr.ifr_addr, &addr, sizeof addr);
  if (::ioctl(fd, request, &ifr) != 0) {
    failErrno(std::string("cannot set an address of ") + device);
  }
}

void bringUp(int fd, const char* device) {
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, device, IFNAMSIZ - 1);
  if (::ioctl(fd, SIOCGIFFLAGS, &ifr) != 0) {
    failErrno(std::string("cannot read the flags of ") + device);
  }
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
  if (::ioctl(fd, SIOCSIFFLAGS, &ifr) != 0) {
    failErrno(std::string("cannot bring up ") + device);
  }
}

}  // namespace

PrivateNetwork::PrivateNetwork(std::string address) : address_(std::move(address)) {
  formerNamespace_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (formerNamespace_ < 0) {
    failErrno("cannot open this thread's network namespace");
  }
  if (::unshare(CLONE_NEWNET) != 0) {
    const int saved = errno;
    ::close(formerNamespace_);
    errno = saved;
    failErrno("cannot make a network namespace (it needs root)");
  }
  try {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      failErrno("socket");
    }
    try {
      bringUp(fd, "lo");
      // A second address of the loopback device, under a label of its own.
      setAddress(fd, "lo:1", SIOCSIFADDR, address_);
      setAddress(fd, "lo:1", SIOCSIFNETMASK, "255.255.255.255");
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
  } catch (...) {
    ::setns(formerNamespace_, CLONE_NEWNET);
    ::close(formerNamespace_);
    throw;
  }
}

PrivateNetwork::~PrivateNetwork() {
  ::setns(formerNamespace_, CLONE_NEWNET);
  ::close(formerNamespace_);
}

}  // namespace testing_support
