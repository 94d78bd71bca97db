#pragma once

#include <stdexcept>
#include <string>

namespace toolkit {

// The toolkit's own exception kind: what a handler lets escape is shown in the application's
// error box and the program goes on. The message is UTF-8.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The printer object's failure to find a default printer.
class EPrinter : public Exception {
 public:
  using Exception::Exception;
};

// A failure of the operating system, with its error code.
class EOSError : public Exception {
 public:
  EOSError(int code, const std::string& message) : Exception(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace toolkit
