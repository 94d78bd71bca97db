#include "spool/print_run.h"

#include <array>
#include <cstdint>

#include "spool/copy_count.h"
#include "spool/list_syntax.h"

namespace spool {
namespace {

enum class Outcome { Printed, EndPass };

std::string joined(std::string_view a, std::string_view b, std::string_view c = {}) {
  std::string s;
  s.reserve(a.size() + b.size() + c.size());
  s.append(a).append(b).append(c);
  return s;
}

using Piece = std::array<std::byte, kPieceSize>;

// Streams one opened file into the printer as one document, through the pass's one piece. The
// printer handle closes when this returns, before the caller closes the file.
Outcome printOneFile(SourceFile& file, const std::string& path, const std::string& printerName,
                     RunControls& controls, Spooler& spooler, Piece& piece) {
  const std::unique_ptr<PrinterHandle> printer = spooler.open(printerName);
  if (!printer) {
    controls.appendMessage(joined("OpenPrinter for ", printerName, " failed. Terminated."));
    return Outcome::EndPass;
  }
  if (!printer->startDocument(path)) {
    controls.appendMessage("StartDocPrinter failed. Terminated.");
    return Outcome::EndPass;
  }
  for (;;) {
    const std::ptrdiff_t got = file.read(piece);
    if (got == 0) {
      break;
    }
    if (got < 0) {
      printer->cancelDocument();
      controls.appendMessage(joined("cannot read ", path));
      return Outcome::EndPass;
    }
    if (!printer->write(std::span(piece).first(static_cast<std::size_t>(got)))) {
      printer->cancelDocument();
      controls.appendMessage("WritePrinter failed. Terminated.");
      return Outcome::EndPass;
    }
  }
  if (!printer->flush()) {
    printer->cancelDocument();
    controls.appendMessage("WritePrinter failed. Terminated.");
    return Outcome::EndPass;
  }
  if (!printer->endDocument()) {
    controls.appendMessage("EndDocPrinter failed. Terminated.");
    return Outcome::EndPass;
  }
  return Outcome::Printed;
}

}  // namespace

std::string printerNameFromBoxText(std::string_view boxText, PlatformFamily family) {
  if (family == PlatformFamily::NT) {
    return std::string(boxText);
  }
  const std::size_t cut = boxText.rfind(". ");
  return std::string(cut == std::string_view::npos ? boxText : boxText.substr(0, cut));
}

void printListedFiles(RunControls& controls, Spooler& spooler, FileOpener& files) {
  const std::string printerName =
      printerNameFromBoxText(controls.printerBoxText(), spooler.family());
  controls.appendMessage(joined("printer name : ", printerName));
  const std::string folder = folderWithSeparator(controls.folderText());
  const std::vector<std::string> lines = controls.listLines();
  Piece piece;  // only ever read up to the count the last read filled
  for (const std::string& raw : lines) {
    const ListLine line = classifyLine(raw);
    if (line.kind == LineKind::Skipped || line.kind == LineKind::Comment) {
      continue;
    }
    if (line.kind == LineKind::EndMark) {
      return;
    }
    const std::string path = formPath(folder, line.text);
    const std::unique_ptr<SourceFile> file = files.open(path);
    if (!file) {
      controls.appendMessage(joined("cannot open ", path));
      controls.appendMessage("exit");
      return;
    }
    controls.appendMessage(joined("manage ", path));
    if (printOneFile(*file, path, printerName, controls, spooler, piece) == Outcome::EndPass) {
      return;
    }
  }
}

void runCopies(RunControls& controls, Spooler& spooler, const std::function<void()>& pass) {
  const std::string copiesText = controls.copiesText();
  const std::optional<std::int32_t> copies = readCopyCount(copiesText);
  if (!copies) {
    controls.appendMessage(joined("copies is not a number : ", copiesText));
    return;
  }
  for (std::int32_t i = 0; i < *copies; ++i) {
    pass();
  }
  spooler.endRun();
}

void runPrintJob(RunControls& controls, Spooler& spooler, FileOpener& files) {
  runCopies(controls, spooler, [&] { printListedFiles(controls, spooler, files); });
}

}  // namespace spool
