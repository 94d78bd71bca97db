#include "bench/bare_client.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

namespace bench {
namespace {

// Sends the open file's bytes as the job's document; true when the server took them all.
bool sendFile(http_t* http, int fd, cups_dest_t* dest, cups_dinfo_t* info, int job,
              const char* title) {
  if (cupsStartDestDocument(http, dest, info, job, title, CUPS_FORMAT_RAW, 0, nullptr, 1) !=
      HTTP_STATUS_CONTINUE) {
    return false;
  }
  std::array<char, 32 * 1024> buffer{};
  bool ok = true;
  for (ssize_t n; ok && (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
    ok = cupsWriteRequestData(http, buffer.data(), static_cast<std::size_t>(n)) ==
         HTTP_STATUS_CONTINUE;
  }
  return cupsFinishDestDocument(http, dest, info) <= IPP_STATUS_OK_EVENTS_COMPLETE && ok;
}

bool printOver(http_t* http, cups_dest_t* dest, cups_dinfo_t* info, const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  bool ok = false;
  int job = 0;
  if (cupsCreateDestJob(http, dest, info, &job, path.c_str(), 0, nullptr) <=
          IPP_STATUS_OK_EVENTS_COMPLETE &&
      job > 0) {
    ok = sendFile(http, fd, dest, info, job, path.c_str());
  }
  ::close(fd);
  return ok;
}

}  // namespace

bool bareClientPrint(const std::string& queue, const std::string& path) {
  bool ok = false;
  if (cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.c_str(), nullptr)) {
    if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
      ok = printOver(CUPS_HTTP_DEFAULT, dest, info, path);
      cupsFreeDestInfo(info);
    }
    cupsFreeDests(1, dest);
  }
  return ok;
}

FloorClient::FloorClient(const std::string& queue) {
  http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30'000,
                       nullptr);
  if (http_ == nullptr) {
    throw std::runtime_error("the floor client cannot connect to the server");
  }
  dest_ = cupsGetNamedDest(http_, queue.c_str(), nullptr);
  info_ = dest_ == nullptr ? nullptr : cupsCopyDestInfo(http_, dest_);
  if (info_ == nullptr) {
    if (dest_ != nullptr) {
      cupsFreeDests(1, dest_);
    }
    httpClose(http_);
    throw std::runtime_error("the floor client cannot look up " + queue);
  }
}

FloorClient::~FloorClient() {
  cupsFreeDestInfo(info_);
  cupsFreeDests(1, dest_);
  httpClose(http_);
}

bool FloorClient::print(const std::string& path) {
  return printOver(http_, dest_, info_, path);
}

}  // namespace bench
