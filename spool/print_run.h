#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "spool/source_file.h"
#include "spool/spooler.h"

namespace spool {

// The window as a run sees it: the texts it reads (as bytes) and the message pane it writes.
// Each read takes the control's contents at the moment of the call.
class RunControls {
 public:
  virtual ~RunControls() = default;
  virtual std::string printerBoxText() = 0;
  virtual std::string folderText() = 0;
  virtual std::vector<std::string> listLines() = 0;
  virtual std::string copiesText() = 0;
  // Appends one line at the end of the message pane.
  virtual void appendMessage(std::string_view line) = 0;
};

// The size of the one piece through which every file is streamed.
inline constexpr std::size_t kPieceSize = 4096;

// The printer name a pass hands to the spooler, from the printer box's text. On the older
// family an entry reads "name. port": the name is the text before its last ". ".
std::string printerNameFromBoxText(std::string_view boxText, PlatformFamily family);

// One pass over the file list: every listed file to the spooler as a job of its own.
void printListedFiles(RunControls& controls, Spooler& spooler, FileOpener& files);

// One press of the start button: the copy count read once, then that many passes, each made by
// `pass`; the spooler is told when the last has returned.
void runCopies(RunControls& controls, Spooler& spooler, const std::function<void()>& pass);

// The same with the passes made by printListedFiles.
void runPrintJob(RunControls& controls, Spooler& spooler, FileOpener& files);

}  // namespace spool
