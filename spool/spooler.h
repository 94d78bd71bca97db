#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

namespace spool {

// The two families of print system the run knows. Here it is always NT; the older family's
// rules (printer entries "name. port") are kept as logic and reached through fakes.
enum class PlatformFamily { NT, Older };

// One open printer. Destroying the handle closes the printer; a failed close is not reported.
class PrinterHandle {
 public:
  virtual ~PrinterHandle() = default;

  // Starts one document (one job) named docName. False when the spooler refuses it.
  virtual bool startDocument(std::string_view docName) = 0;
  // Hands one piece of the document over. False when the spooler refused it or took fewer
  // bytes than it was handed.
  virtual bool write(std::span<const std::byte> piece) = 0;
  // Hands over whatever pieces the handle still holds back, so that a refusal of the document's
  // bytes is seen as one, and not only when the document is ended. False when it was refused.
  virtual bool flush() { return true; }
  // Ends the document started last. False when the spooler did not take it whole.
  virtual bool endDocument() = 0;
  // Drops the document started last, so that nothing of it is printed.
  virtual void cancelDocument() = 0;
};

class Spooler {
 public:
  virtual ~Spooler() = default;

  virtual PlatformFamily family() const = 0;
  // Null when no printer of that name can be opened (unknown name, no server, timeout).
  virtual std::unique_ptr<PrinterHandle> open(std::string_view printerName) = 0;
  // The run has handed over its last job: whatever the spooler keeps between opens to make them
  // cheaper (a connection to the server, destinations looked up) is let go, so that nothing
  // stays open between runs and the next run sees the print system afresh.
  virtual void endRun() {}
};

}  // namespace spool
