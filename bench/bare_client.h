#pragma once

#include <string>

namespace bench {

// The least a libcups client must do to print one file as a raw job: look up the destination,
// create the job, send the file as one document stream, finish it. Over libcups's default
// connection, with libcups's own waits. False when any step fails.
bool bareClientPrint(const std::string& queue, const std::string& path);

}  // namespace bench
