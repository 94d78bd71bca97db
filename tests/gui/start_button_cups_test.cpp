// The start button end to end: texts typed into the window, a run of two copies, the message
// pane's lines and the jobs as a private print server received them.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <string>

#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/text_bytes.h"
#include "tests/support/private_cupsd.h"

namespace {

using namespace std::string_literals;

TEST(StartButton, TypedFolderListAndCopiesReachThePrintServerByteForByte) {
  testing_support::PrivateCupsd cupsd;
  cupsd.addCaptureQueue("typed");
  cupsd.setDefault("typed");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // Two pieces and a bit, with NULs, line ends and bytes that are not UTF-8.
  std::string bytes;
  for (int i = 0; i < 9000; ++i) {
    bytes.push_back(static_cast<char>((i * 31 + 7) % 256));
  }
  bytes += "\r\n\0\xff"s;
  QFile file(dir.filePath("a.prn"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
            static_cast<qint64>(bytes.size()));
  file.close();

  batchcups::CupsSpooler spooler;
  batchcups::CupsPrinters printers;
  TForm1 form(spooler, printers);
  form.show();
  QTest::keyClicks(form.Edit3, dir.path());
  for (const char* line : {"a.prn", "# not a file", "missing.prn"}) {
    if (!form.Memo2->toPlainText().isEmpty()) {
      QTest::keyClick(form.Memo2, Qt::Key_Return);
    }
    QTest::keyClicks(form.Memo2, line);
  }
  form.Edit2->selectAll();
  QTest::keyClicks(form.Edit2, "2");
  ASSERT_EQ(form.ComboBox1->currentText(), "typed") << "the default printer is shown";
  QTest::mouseClick(form.Button3, Qt::LeftButton);

  const std::string path = toolkit::toBytes(dir.path()) + "/a.prn";
  const std::string missing = toolkit::toBytes(dir.path()) + "/missing.prn";
  const std::vector<std::string> pass = {"printer name : typed", "manage " + path,
                                         "cannot open " + missing, "exit"};
  std::vector<std::string> expected = pass;
  expected.insert(expected.end(), pass.begin(), pass.end());
  const QStringList lines = form.Memo1->toPlainText().split(u'\n');
  std::vector<std::string> shown;
  for (const QString& line : lines) {
    shown.push_back(toolkit::toBytes(line));
  }
  EXPECT_EQ(shown, expected);

  const auto jobs = cupsd.waitForJobs("typed", 2);
  ASSERT_EQ(jobs.size(), 2U);
  for (const auto& job : jobs) {
    EXPECT_EQ(job.title, path);
    EXPECT_EQ(job.bytes, bytes);
  }
}

}  // namespace
