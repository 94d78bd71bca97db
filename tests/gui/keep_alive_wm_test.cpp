// The window during a run that waits on the print server, on a desktop with a window manager
// (run through with_wm.sh): it answers the window manager's pings and repaints what is exposed,
// while the window manager's close request waits for the run's end and is delivered then.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/keep_alive.h"
#include "platform/toolkit/text_bytes.h"
#include "tests/support/private_cupsd.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testing_support::PrivateCupsd;

// Bounds for what the window is to do; a slow machine stays far inside them.
constexpr auto kAnswerBound = 5s;
constexpr auto kPollEvery = 2ms;

template <typename F>
bool waitFor(F&& condition, std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  while (!condition()) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(kPollEvery);
  }
  return true;
}

// A connection of the test's own: the window manager's and the operator's side of the window.
class Desktop {
 public:
  Desktop() : c_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    // Qt answers a ping on the root window for those who listen to its structure.
    const uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &events);
    protocols_ = atom("WM_PROTOCOLS");
    ping_ = atom("_NET_WM_PING");
    deleteWindow_ = atom("WM_DELETE_WINDOW");
    xcb_flush(c_);
  }
  ~Desktop() { xcb_disconnect(c_); }
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  bool ok() const { return xcb_connection_has_error(c_) == 0; }

  // Sends _NET_WM_PING as a window manager does; true once the window has answered it.
  bool ping(xcb_window_t window, uint32_t stamp) {
    sendProtocol(window, ping_, stamp);
    const auto deadline = Clock::now() + kAnswerBound;
    while (Clock::now() < deadline) {
      std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(c_),
                                                                       &std::free);
      if (!event) {
        std::this_thread::sleep_for(kPollEvery);
        continue;
      }
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event.get());
        if (message->type == protocols_ && message->data.data32[0] == ping_ &&
            message->data.data32[1] == stamp && message->data.data32[2] == window) {
          return true;
        }
      }
    }
    return false;
  }

  // Asks the window to close, as the window manager's close button does.
  void askToClose(xcb_window_t window) { sendProtocol(window, deleteWindow_, XCB_CURRENT_TIME); }

  // What a part of the window shows, as the screen has it.
  std::vector<uint8_t> image(xcb_window_t window, QRect part) {
    const Geometry g{static_cast<int16_t>(part.x()), static_cast<int16_t>(part.y()),
                     static_cast<uint16_t>(part.width()), static_cast<uint16_t>(part.height())};
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
        xcb_get_image_reply(
            c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, g.width, g.height, ~0u),
            nullptr),
        &std::free);
    if (!reply) {
      return {};
    }
    const uint8_t* data = xcb_get_image_data(reply.get());
    return {data, data + xcb_get_image_data_length(reply.get())};
  }

  // Lays another window over the whole window and takes it away again, as a window dragged
  // across it would: what was covered is exposed, and shows the cover's colour until the
  // window paints it anew.
  void coverAndUncover(xcb_window_t window) {
    const Geometry g = geometry(window);
    const xcb_window_t cover = xcb_generate_id(c_);
    const uint32_t values[] = {0xff00ffu, 1u};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, cover, root_, g.x, g.y, g.width, g.height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c_, cover);
    sync();
    xcb_unmap_window(c_, cover);
    xcb_destroy_window(c_, cover);
    sync();
  }

  bool mapped(xcb_window_t window) {
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr),
        &std::free);
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  }

  // Returns once the server has handled every request sent so far.
  void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

 private:
  struct Geometry {
    int16_t x = 0;  // on the root window
    int16_t y = 0;
    uint16_t width = 0;
    uint16_t height = 0;
  };

  Geometry geometry(xcb_window_t window) {
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> size(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr), &std::free);
    std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> place(
        xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, window, root_, 0, 0),
                                        nullptr),
        &std::free);
    if (!size || !place) {
      return {};
    }
    return {place->dst_x, place->dst_y, size->width, size->height};
  }

  xcb_atom_t atom(const char* name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : XCB_NONE;
  }

  void sendProtocol(xcb_window_t window, xcb_atom_t protocol, uint32_t stamp) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = protocols_;
    message.data.data32[0] = protocol;
    message.data.data32[1] = stamp;
    message.data.data32[2] = window;
    xcb_send_event(c_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(c_);
  }

  xcb_connection_t* c_;
  xcb_window_t root_ = XCB_NONE;
  xcb_atom_t protocols_ = XCB_NONE;
  xcb_atom_t ping_ = XCB_NONE;
  xcb_atom_t deleteWindow_ = XCB_NONE;
};

// Whether a 32-bit image still shows a pixel of the cover's colour (magenta, as B G R X).
bool showsCover(const std::vector<uint8_t>& image) {
  for (std::size_t i = 0; i + 3 < image.size(); i += 4) {
    if (image[i] == 0xff && image[i + 1] == 0 && image[i + 2] == 0xff) {
      return true;
    }
  }
  return image.empty();
}

testing_support::ServerSettings withDirectives(std::vector<std::string> directives) {
  testing_support::ServerSettings settings;
  settings.directives = std::move(directives);
  return settings;
}

// The queue holds two jobs at most and its printer is stopped, so the run's third file waits for
// room until the test starts the printer.
TEST(KeepAliveUnderAWindowManager, ARunWaitingForRoomAnswersRepaintsAndIsNotCutShort) {
  constexpr int kFiles = 4;
  PrivateCupsd server(withDirectives({"MaxJobsPerPrinter 2", "AccessLogLevel all"}));
  server.addCaptureQueue("slow");
  server.setDefault("slow");
  server.run({"cupsdisable", "slow"});
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QStringList lines;
  for (int i = 0; i < kFiles; ++i) {
    QFile file(dir.filePath(QStringLiteral("f%1.prn").arg(i)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(5000 + i, static_cast<char>('a' + i)));
    lines << QStringLiteral("f%1.prn").arg(i);
  }

  batchcups::SpoolerSettings settings;
  settings.keepAlive = toolkit::keepWindowsAlive;
  batchcups::CupsSpooler spooler(settings);
  batchcups::CupsPrinters printers;
  TForm1 form(spooler, printers);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.Edit3->setText(dir.path());
  form.Memo2->setPlainText(lines.join(u'\n'));
  ASSERT_EQ(form.ComboBox1->currentText(), "slow");
  const auto window = static_cast<xcb_window_t>(form.winId());
  // The message pane holds still while the run waits; the line edit with the focus would not
  // (its caret blinks).
  const QRect pane(form.Memo1->mapTo(&form, QPoint(0, 0)), form.Memo1->size());

  struct Figures {
    bool waiting = false;
    bool pinged = false;
    bool mappedAfterInterruption = false;
    int coversSeen = 0;  // rounds in which the cover was still on screen at the first look
    std::vector<double> exposeToPaintMs;
  } figures;
  std::thread desktop([&] {
    Desktop x;
    if (!x.ok()) {
      return;
    }
    figures.waiting = waitFor(
        [&] {
          return server.accessLog().find("Create-Job client-error-not-possible") !=
                 std::string::npos;
        },
        20s);
    if (!figures.waiting) {
      server.startQueue("slow");
      return;
    }
    // Repaints during the wait: what a passing window exposed is painted anew, so the pane
    // no longer shows the cover's colour.
    const auto repainted = [&] {
      x.coverAndUncover(window);
      const auto exposed = Clock::now();
      bool first = true;
      const bool done = waitFor(
          [&] {
            const bool covered = showsCover(x.image(window, pane));
            figures.coversSeen += first && covered ? 1 : 0;
            first = false;
            return !covered;
          },
          kAnswerBound);
      return done ? std::optional(Clock::now() - exposed) : std::nullopt;
    };
    for (int i = 0; i < 20; ++i) {
      if (const auto took = repainted()) {
        figures.exposeToPaintMs.push_back(std::chrono::duration<double, std::milli>(*took).count());
      }
    }
    figures.pinged = x.ping(window, 4242);
    x.askToClose(window);
    // Everything the window was sent before this expose has been read once it is painted.
    repainted();
    figures.mappedAfterInterruption = x.mapped(window);
    server.startQueue("slow");
  });
  form.Button3->click();
  const bool visibleWhenTheRunEnded = form.isVisible();
  desktop.join();

  ASSERT_TRUE(figures.waiting) << "the run never waited for room";
  EXPECT_TRUE(figures.pinged) << "the window did not answer _NET_WM_PING during the wait";
  ASSERT_EQ(figures.exposeToPaintMs.size(), 20u) << "an expose was not repainted";
  const double slowest =
      *std::max_element(figures.exposeToPaintMs.begin(), figures.exposeToPaintMs.end());
  std::cout << "during the wait: slowest repaint " << slowest << " ms after its expose; the "
            << "cover was seen in " << figures.coversSeen << " of 21 exposes\n";
  EXPECT_GT(figures.coversSeen, 0) << "the screen kept the window's contents by itself: the "
                                      "repaints prove nothing";
  EXPECT_LT(slowest, 1000.0);
  EXPECT_TRUE(figures.mappedAfterInterruption) << "the window closed during the run";

  QStringList expected = {QStringLiteral("printer name : slow")};
  for (const QString& line : lines) {
    expected << QStringLiteral("manage ") + dir.filePath(line);
  }
  EXPECT_EQ(form.Memo1->toPlainText().split(u'\n'), expected) << "the run went to its end";
  const std::vector<PrivateCupsd::CapturedJob> jobs = server.waitForJobs("slow", kFiles);
  ASSERT_EQ(jobs.size(), static_cast<std::size_t>(kFiles));
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(jobs[i].bytes, std::string(5000 + i, static_cast<char>('a' + i)));
  }
  // The close asked for during the run is delivered once the run has returned, as the
  // operator's input always is: not dropped, and never in the middle of a job.
  EXPECT_TRUE(visibleWhenTheRunEnded);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 5000))
      << "the close request was dropped rather than delivered after the run";
}

}  // namespace
