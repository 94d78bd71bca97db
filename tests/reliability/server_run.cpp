#include "tests/reliability/server_run.h"

#include "platform/cups/cups_spooler.h"

namespace reliability {

ServerRun::ServerRun(testing_support::PrivateCupsd& s, std::string q)
    : server(s), queue(std::move(q)), capture(server.addCaptureQueue(queue)) {
  controls.printerBox = queue;
  controls.folder = folder.path().string();
}

std::string ServerRun::add(const std::string& name, std::string_view bytes) const {
  return folder.write(name, bytes);
}

void ServerRun::run(const std::string& copies, spool::Spooler& spooler, spool::FileOpener& files) {
  controls.copies = copies;
  spool::runPrintJob(controls, spooler, files);
}

void ServerRun::run(const std::string& copies) {
  batchcups::CupsSpooler spooler;
  spool::PosixFileOpener files;
  run(copies, spooler, files);
}

std::vector<std::string> ServerRun::passLines(const std::vector<std::string>& printed,
                                              const std::vector<std::string>& ending) const {
  std::vector<std::string> lines = {"printer name : " + queue};
  for (const std::string& path : printed) {
    lines.push_back("manage " + path);
  }
  lines.insert(lines.end(), ending.begin(), ending.end());
  return lines;
}

std::vector<std::string> repeated(const std::vector<std::string>& lines, int times) {
  std::vector<std::string> all;
  for (int i = 0; i < times; ++i) {
    all.insert(all.end(), lines.begin(), lines.end());
  }
  return all;
}

}  // namespace reliability
