// For `./dev run` on a machine where no print server answers: a private cupsd with one queue,
// "demo", as the machine's default, whose jobs land as files in a folder named on stdout; then
// the program, pointed at it, with the arguments given after it. The server goes when the
// program ends.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <exception>
#include <iostream>

#include "tests/support/private_cupsd.h"

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: " << argv[0] << " PROGRAM [ARGS...]\n";
    return 2;
  }
  try {
    testing_support::PrivateCupsd server;
    const std::string capture = server.addCaptureQueue("demo");
    server.setDefault("demo");
    std::cout << "no print server answered: started one of our own with the queue \"demo\"\n"
              << "jobs sent to demo are written to " << capture << "\n"
              << std::flush;
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[1], nullptr, nullptr, argv + 1, environ) != 0) {
      std::cerr << "cannot start " << argv[1] << "\n";
      return 1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::cout << "the captured jobs were in " << capture << " (removed with the server)\n";
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
}
