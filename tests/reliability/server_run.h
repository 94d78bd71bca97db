#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "spool/print_run.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/recording_spooler.h"

namespace reliability {

// One queue on a private cupsd, a folder of print files and the window's controls pointing at
// both: the setting every test here runs the real pass in.
class ServerRun {
 public:
  ServerRun(testing_support::PrivateCupsd& server, std::string queue);

  // Writes the file under the folder and returns its full path.
  std::string add(const std::string& name, std::string_view bytes) const;
  // One press of the start button with these copies, through the given spooler and files.
  void run(const std::string& copies, spool::Spooler& spooler, spool::FileOpener& files);
  // The same, through the CUPS layer with its usual bound and the file system itself.
  void run(const std::string& copies);

  // The lines one pass appends when it prints the given paths and then appends `ending`.
  std::vector<std::string> passLines(const std::vector<std::string>& printed,
                                     const std::vector<std::string>& ending = {}) const;

  testing_support::PrivateCupsd& server;
  const std::string queue;
  const std::filesystem::path capture;
  TempFolder folder;
  testing_support::FakeControls controls;
};

// Lines repeated `times` over, as several passes append them.
std::vector<std::string> repeated(const std::vector<std::string>& lines, int times);

}  // namespace reliability
