// The window on a print server it reaches over TCP only, in the clear or over TLS: the printer
// box lists the server's queues and starts on its default, and a run through each queue reaches
// a printer of the test's own through CUPS's own socket, ipp and lpd backends, byte for byte.
#include <gtest/gtest.h>

#include <QStringList>
#include <QTest>
#include <random>
#include <string>
#include <vector>

#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/text_bytes.h"
#include "tests/gui/gui_support.h"
#include "tests/support/network_queues.h"
#include "tests/support/temp_folder.h"

namespace {

using namespace std::string_literals;
using testing_support::NetworkQueues;
using testing_support::PrivateCupsd;
using testing_support::ServerRoute;
using testing_support::serverRoutes;
using FarEnd = NetworkQueues::FarEnd;

constexpr int kJobCompleted = 9;  // IPP job-state completed

QStringList items(const QComboBox& box) {
  QStringList texts;
  for (int i = 0; i < box.count(); ++i) {
    texts.push_back(box.itemText(i));
  }
  return texts;
}

std::vector<std::string> lines(const QString& text) {
  std::vector<std::string> out;
  for (const QString& line : text.split(u'\n')) {
    out.push_back(toolkit::toBytes(line));
  }
  return out;
}

// NULs, line ends of every kind and bytes that are not UTF-8, then more than the CUPS layer's
// 32 KiB send buffer.
std::string printBytes() {
  std::string bytes = "\0\r\n\x1b%-12345X\r\nline\nline\r\r\n\xff\xfe caf\xe9 \xc3\x28"s;
  std::mt19937 engine(9);
  std::uniform_int_distribution<int> byte(0, 255);
  while (bytes.size() < 40 * 1024 + 3) {
    bytes.push_back(static_cast<char>(byte(engine)));
  }
  return bytes + "\r\n\0"s;
}

class PrintPathsWindow : public testing::TestWithParam<std::size_t> {};

TEST_P(PrintPathsWindow, PrinterBoxListsTheServersQueuesAndEachPrintsByteForByte) {
  const ServerRoute& route = serverRoutes()[GetParam()];
  NetworkQueues queues(route);
  queues.server().setDefault(NetworkQueues::queue(FarEnd::lpd));
  const testing_support::TempFolder folder;
  const std::string bytes = printBytes();
  const std::vector<std::string> paths = {folder.write("one.prn", bytes),
                                          folder.write("two words.prn", bytes.substr(1))};
  const std::size_t mark = queues.logLength();

  testing_support::ErrorBoxes errors;
  batchcups::CupsSpooler spooler;
  batchcups::CupsPrinters printers;
  TForm1 form(spooler, printers);
  form.show();
  QStringList offered;
  for (const FarEnd farEnd : NetworkQueues::offered(route)) {
    offered.push_back(toolkit::fromBytes(NetworkQueues::queue(farEnd)));
  }
  EXPECT_EQ(items(*form.ComboBox1), offered);
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("lpd")) << "the server's default";
  EXPECT_TRUE(errors.boxes().empty());

  QTest::keyClicks(form.Edit3, toolkit::fromBytes(folder.path().string()));
  QTest::keyClicks(form.Memo2, "one.prn");
  QTest::keyClick(form.Memo2, Qt::Key_Return);
  QTest::keyClicks(form.Memo2, "two words.prn");

  std::vector<std::string> expected;
  // The default first, then each other queue the server offers, chosen in the printer box.
  std::vector<FarEnd> farEnds = {FarEnd::lpd};
  for (const FarEnd farEnd : NetworkQueues::offered(route)) {
    if (farEnd != FarEnd::lpd) {
      farEnds.push_back(farEnd);
    }
  }
  for (const FarEnd farEnd : farEnds) {
    const std::string queue = NetworkQueues::queue(farEnd);
    SCOPED_TRACE(queue);
    if (form.ComboBox1->currentText() != toolkit::fromBytes(queue)) {
      QTest::keyClick(form.ComboBox1, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(form.ComboBox1, toolkit::fromBytes(queue));
    }
    QTest::mouseClick(form.Button3, Qt::LeftButton);
    expected.insert(expected.end(),
                    {"printer name : " + queue, "manage " + paths[0], "manage " + paths[1]});
    EXPECT_EQ(lines(form.Memo1->toPlainText()), expected);

    const std::vector<NetworkQueues::Arrived> arrived = queues.waitForJobs(farEnd, 2);
    ASSERT_EQ(arrived.size(), 2u);
    EXPECT_TRUE(arrived[0].bytes == bytes) << "the bytes differ";
    EXPECT_TRUE(arrived[1].bytes == bytes.substr(1)) << "the bytes differ";
    if (farEnd == FarEnd::ipp) {
      EXPECT_EQ(arrived[0].title, paths[0]);
      EXPECT_EQ(arrived[1].title, paths[1]);
    }
    const std::vector<PrivateCupsd::ServerJob> jobs = queues.waitForFinishedJobs(farEnd);
    ASSERT_EQ(jobs.size(), 2u);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(jobs[i].title, paths[i]);
      EXPECT_EQ(jobs[i].state, kJobCompleted);
    }
  }
  EXPECT_TRUE(queues.faults().empty()) << testing::PrintToString(queues.faults());
  EXPECT_TRUE(errors.boxes().empty());

  const NetworkQueues::TcpRequests requests = queues.tcpRequestsSince(mark);
  EXPECT_GT(requests.answered, 0) << "the window reached its server over TCP";
  EXPECT_EQ(requests.overTls, route.tls ? requests.answered : 0)
      << requests.answered << " requests answered over TCP";
}

INSTANTIATE_TEST_SUITE_P(Route, PrintPathsWindow,
                         testing::Range<std::size_t>(0, serverRoutes().size()),
                         [](const testing::TestParamInfo<std::size_t>& param) {
                           return serverRoutes()[param.param].label;
                         });

}  // namespace
