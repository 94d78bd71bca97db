#include "bench/bare_client.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>

namespace bench {
namespace {

// Sends the open file's bytes as the job's document; true when the server took them all.
bool sendFile(int fd, cups_dest_t* dest, cups_dinfo_t* info, int job, const char* title) {
  if (cupsStartDestDocument(CUPS_HTTP_DEFAULT, dest, info, job, title, CUPS_FORMAT_RAW, 0, nullptr,
                            1) != HTTP_STATUS_CONTINUE) {
    return false;
  }
  std::array<char, 32 * 1024> buffer{};
  bool ok = true;
  for (ssize_t n; ok && (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
    ok = cupsWriteRequestData(CUPS_HTTP_DEFAULT, buffer.data(), static_cast<std::size_t>(n)) ==
         HTTP_STATUS_CONTINUE;
  }
  return cupsFinishDestDocument(CUPS_HTTP_DEFAULT, dest, info) <= IPP_STATUS_OK_EVENTS_COMPLETE &&
         ok;
}

}  // namespace

bool bareClientPrint(const std::string& queue, const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  bool ok = false;
  if (cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.c_str(), nullptr)) {
    if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
      int job = 0;
      if (cupsCreateDestJob(CUPS_HTTP_DEFAULT, dest, info, &job, path.c_str(), 0, nullptr) <=
              IPP_STATUS_OK_EVENTS_COMPLETE &&
          job > 0) {
        ok = sendFile(fd, dest, info, job, path.c_str());
      }
      cupsFreeDestInfo(info);
    }
    cupsFreeDests(1, dest);
  }
  ::close(fd);
  return ok;
}

}  // namespace bench
