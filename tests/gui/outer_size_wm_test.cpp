// The window on a desktop with a window manager that frames it (run through with_wm.sh): its
// outer size, frame and title bar included, as the X server itself reports it.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "form/Unit1.h"
#include "platform/toolkit/application.h"
#include "tests/printer/fake_enumeration.h"
#include "tests/support/recording_spooler.h"

namespace {

const QSize kOuter{761, 606};

// A connection of the test's own, so that what is measured is the server's view and not what
// Qt believes of it.
class X {
 public:
  X() : connection_(xcb_connect(nullptr, nullptr)) {}
  ~X() { xcb_disconnect(connection_); }
  X(const X&) = delete;
  X& operator=(const X&) = delete;

  bool ok() const { return xcb_connection_has_error(connection_) == 0; }

  xcb_window_t root() const {
    return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
  }

  // The root's child that holds `window`: the window manager's frame when it reparented it.
  std::optional<xcb_window_t> topLevel(xcb_window_t window) const {
    for (;;) {
      std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
          xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr),
          &std::free);
      if (!tree) {
        return std::nullopt;
      }
      if (tree->parent == tree->root) {
        return window;
      }
      window = tree->parent;
    }
  }

  // Width and height with the window's own border on both sides.
  std::optional<QSize> outerSize(xcb_window_t window) const {
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr),
        &std::free);
    if (!geometry) {
      return std::nullopt;
    }
    return QSize(geometry->width + 2 * geometry->border_width,
                 geometry->height + 2 * geometry->border_width);
  }

  // _NET_FRAME_EXTENTS as left, right, top, bottom; none while the window manager has not set it.
  std::optional<QMargins> frameExtents(xcb_window_t window) const {
    const std::vector<std::uint32_t> v = cardinals(window, "_NET_FRAME_EXTENTS", 4);
    if (v.size() != 4) {
      return std::nullopt;
    }
    return QMargins(static_cast<int>(v[0]), static_cast<int>(v[2]), static_cast<int>(v[1]),
                    static_cast<int>(v[3]));
  }

  // Whether a window manager has announced itself on the root window.
  bool windowManagerRuns() const {
    return !cardinals(root(), "_NET_SUPPORTING_WM_CHECK", 1, XCB_ATOM_WINDOW).empty();
  }

 private:
  std::vector<std::uint32_t> cardinals(xcb_window_t window, std::string_view name,
                                       std::uint32_t count,
                                       xcb_atom_t type = XCB_ATOM_CARDINAL) const {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 1, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE) {
      return {};
    }
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
        xcb_get_property_reply(connection_,
                               xcb_get_property(connection_, 0, window, atom->atom, type, 0, count),
                               nullptr),
        &std::free);
    if (!property || property->format != 32 ||
        xcb_get_property_value_length(property.get()) != static_cast<int>(4 * count)) {
      return {};
    }
    const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(property.get()));
    return std::vector<std::uint32_t>(v, v + count);
  }

  xcb_connection_t* connection_;
};

std::string text(const std::optional<QSize>& size) {
  return size ? std::to_string(size->width()) + " x " + std::to_string(size->height()) : "none";
}

TEST(OuterSizeUnderAWindowManager, FrameAndTitleBarIncludedIsTheWindowsSize) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
      << "run this test through tests/gui/with_wm.sh";
  const X x;
  ASSERT_TRUE(x.ok()) << "no display";
  ASSERT_TRUE(x.windowManagerRuns()) << "no window manager on this display";

  testing_support::RecordingSpooler spooler;
  testing_support::FakeEnumeration printers;
  TForm1 form(spooler, printers);
  toolkit::showWithOuterSize(form, kOuter);
  const auto client = static_cast<xcb_window_t>(form.winId());

  // Framed: reparented by the window manager, with the extents of its frame published.
  std::optional<xcb_window_t> frame;
  std::optional<QMargins> extents;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        frame = x.topLevel(client);
        extents = x.frameExtents(client);
        return frame && *frame != client && extents && !extents->isNull();
      },
      10'000))
      << "the window manager never framed the window";

  std::optional<QSize> outer;
  const bool settled = QTest::qWaitFor(
      [&] {
        outer = x.outerSize(*frame);
        return outer == kOuter;
      },
      5'000);
  std::cout << "frame extents (left, right, top, bottom): " << extents->left() << ", "
            << extents->right() << ", " << extents->top() << ", " << extents->bottom()
            << "; outer size " << text(outer) << "; client area " << text(x.outerSize(client))
            << "\n";
  EXPECT_TRUE(settled) << "outer size " << text(outer);
  EXPECT_EQ(x.outerSize(client), kOuter.shrunkBy(*x.frameExtents(client)));
  EXPECT_EQ(form.frameGeometry().size(), kOuter);
}

// On a bare display nothing frames the window: its client area is the whole size.
TEST(OuterSizeWithoutAWindowManager, ClientAreaIsTheWholeSize) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
      << "run this test through tests/gui/with_wm.sh --no-wm";
  const X x;
  ASSERT_TRUE(x.ok()) << "no display";
  ASSERT_FALSE(x.windowManagerRuns()) << "a window manager runs on this display";

  testing_support::RecordingSpooler spooler;
  testing_support::FakeEnumeration printers;
  TForm1 form(spooler, printers);
  toolkit::showWithOuterSize(form, kOuter);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const auto client = static_cast<xcb_window_t>(form.winId());
  EXPECT_EQ(x.topLevel(client), client);
  EXPECT_EQ(x.outerSize(client), kOuter);
  EXPECT_EQ(form.size(), kOuter);
}

}  // namespace
