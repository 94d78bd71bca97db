#include "spool/printer_enumeration.h"

namespace spool {

namespace {

// The profile value is read into a field of 1024 bytes, terminating zero included.
constexpr std::size_t kProfileFieldText = 1023;

}  // namespace

std::vector<std::string> splitPortList(std::string_view ports) {
  std::vector<std::string> pieces;
  std::size_t at = 0;
  while (at < ports.size()) {
    at = ports.find_first_not_of(' ', at);
    if (at == std::string_view::npos) {
      break;
    }
    const std::size_t comma = ports.find(',', at);
    const std::string_view piece = ports.substr(at, comma - at);
    if (piece.empty()) {
      break;
    }
    pieces.emplace_back(piece);
    if (comma == std::string_view::npos) {
      break;
    }
    at = comma + 1;
  }
  return pieces;
}

std::string profileDeviceName(std::string_view device) {
  const auto pieces = splitPortList(device.substr(0, kProfileFieldText));
  return pieces.empty() ? std::string() : pieces.front();
}

}  // namespace spool
