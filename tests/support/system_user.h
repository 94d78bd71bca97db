#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

// A user of this machine with a password, made for one test with useradd and chpasswd and
// removed with userdel -r when the object goes, however the test ended. PAM then checks the
// password as it checks any user's, so a print server that asks for one can be answered for
// real. Needs root; throws std::runtime_error with the tool's words when a tool fails.
class SystemUser {
 public:
  SystemUser();
  ~SystemUser();
  SystemUser(const SystemUser&) = delete;
  SystemUser& operator=(const SystemUser&) = delete;

  // Removes the users that the process `pid` made and could not remove, as when it was killed.
  static void removeLeftBy(pid_t pid);

  // Unique to this process and object, so that tests running at once never share a user.
  const std::string& name() const { return name_; }
  const std::string& password() const { return password_; }

 private:
  std::string name_;
  std::string password_;
};

}  // namespace testing_support
