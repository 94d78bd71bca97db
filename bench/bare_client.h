#pragma once

#include <cups/cups.h>

#include <string>

namespace bench {

// The least a libcups client must do to print one file as a raw job when it knows nothing from
// the file before: look up the destination, create the job, send the file as one document
// stream, finish it. Over libcups's default connection, with libcups's own waits. False when
// any step fails.
bool bareClientPrint(const std::string& queue, const std::string& path);

// What the protocol itself needs for one raw job per file: one connection kept for all of them,
// the destination looked up once, then per file a Create-Job and a Send-Document that carries
// the file. No deadlines, no checks beyond the answers.
class FloorClient {
 public:
  // Connects and looks the queue up; throws std::runtime_error when either fails.
  explicit FloorClient(const std::string& queue);
  ~FloorClient();
  FloorClient(const FloorClient&) = delete;
  FloorClient& operator=(const FloorClient&) = delete;

  // False when the server refused any step.
  bool print(const std::string& path);

 private:
  http_t* http_ = nullptr;
  cups_dest_t* dest_ = nullptr;
  cups_dinfo_t* info_ = nullptr;
};

}  // namespace bench
