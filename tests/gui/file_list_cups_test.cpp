// A list file loaded through the window, then printed: every listed file beside the list reaches
// a private print server as a job of its own, byte for byte.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <optional>
#include <string>
#include <string_view>

#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/text_bytes.h"
#include "tests/support/private_cupsd.h"

namespace {

using namespace std::string_literals;

void writeFile(const QString& path, std::string_view bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
            static_cast<qint64>(bytes.size()));
}

// More than one 4096-byte piece, with every byte value, line ends and Ctrl-Z among them.
std::string binaryBytes() {
  std::string bytes;
  for (int i = 0; i < 10000; ++i) {
    bytes.push_back(static_cast<char>((i * 7) % 256));
  }
  return bytes + "\r\n\x1A\0end"s;
}

TEST(FileListToPrintServer, LoadedListPrintsEachFileBesideItByteForByte) {
  testing_support::PrivateCupsd cupsd;
  cupsd.addCaptureQueue("capture");
  cupsd.setDefault("capture");
  cupsd.setDefault("capture");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string first = binaryBytes();
  const std::string second = "%!PS\nshowpage\n";
  writeFile(dir.filePath("a.prn"), first);
  writeFile(dir.filePath("b b.prn"), second);
  const QString list = dir.filePath("list.lst");
  writeFile(list, "# two files\r\na.prn\r\nb b.prn\r\n");

  batchcups::CupsSpooler spooler;
  batchcups::CupsPrinters printers;
  TForm1 form(spooler, printers);
  form.OpenDialog1->setChooser(
      [&list](QWidget*, const QString&) -> std::optional<QString> { return list; });
  form.Button1->click();
  ASSERT_EQ(form.ComboBox1->currentText(), "capture") << "the default printer is the one used";
  ASSERT_EQ(form.Edit2->text(), "1");
  form.Button3->click();

  const auto jobs = cupsd.waitForJobs("capture", 2);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].title, toolkit::toBytes(dir.filePath("a.prn")));
  EXPECT_EQ(jobs[0].bytes, first);
  EXPECT_EQ(jobs[1].title, toolkit::toBytes(dir.filePath("b b.prn")));
  EXPECT_EQ(jobs[1].bytes, second);
}

}  // namespace
