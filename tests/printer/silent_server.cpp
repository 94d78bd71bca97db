#include "tests/printer/silent_server.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace testing_support {

SilentServer::SilentServer()
    : path_((std::filesystem::temp_directory_path() /
             ("batchspool-silent-" + std::to_string(::getpid()) + ".sock"))
                .string()),
      fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
  std::filesystem::remove(path_);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path_.copy(address.sun_path, sizeof(address.sun_path) - 1);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd_, 8) != 0) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    throw std::runtime_error("cannot listen on " + path_);
  }
}

SilentServer::~SilentServer() {
  ::close(fd_);
  std::filesystem::remove(path_);
}

}  // namespace testing_support
