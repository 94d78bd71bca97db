// The application object's rules: its title, the error box's text, exceptions kept out of the
// event loop.
#include <gtest/gtest.h>

#include <QEvent>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <new>
#include <stdexcept>

#include "platform/toolkit/application.h"
#include "platform/toolkit/exceptions.h"
#include "tests/gui/gui_support.h"

namespace {

TEST(ApplicationTitle, IsTheProgramNameCutAtItsFirstStopWithAllButItsFirstCharacterLowered) {
  const struct {
    const char* path;
    const char* title;
  } rows[] = {
      {"/usr/bin/batchspool", "batchspool"}, {"batchspool", "batchspool"},
      {"C:/Tools/PROJECT1.EXE", "Project1"}, {"/opt/my.tool.v2", "my"},
      {"/opt/x/Mixed_Case", "Mixed_case"},   {"/opt/.hidden", ""},
      {"/opt/ÉCRAN.bin", "Écran"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(toolkit::titleFromProgramPath(QString::fromUtf8(row.path)).toStdString(), row.title)
        << row.path;
  }
}

TEST(ErrorBoxText, AppendsAStopWhenTheLastCharacterLiesAboveIt) {
  const struct {
    const char* message;
    const char* shown;
  } rows[] = {
      {"No default printer", "No default printer."},
      {"Ends in a stop.", "Ends in a stop."},
      {"Ends in a bang!", "Ends in a bang!"},
      {"(parenthesis)", "(parenthesis)"},
      {"slash/", "slash/."},  // 0x2F is just above the stop
      {"dash-", "dash-"},     // 0x2D is just below it
      {"digit 7", "digit 7."},
      {"プリンタがありません", "プリンタがありません."},  // a multi-byte last character
      {"", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(toolkit::errorBoxText(QString::fromUtf8(row.message)).toStdString(), row.shown)
        << row.message;
  }
}

class Thrower : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      throw toolkit::EOSError(5, "Access denied");
    }
    return QObject::event(e);
  }
};

TEST(ApplicationObject, ShowsAToolkitExceptionFromEventDeliveryAndGoesOn) {
  testing_support::ErrorBoxes errors;
  Thrower thrower;
  QEvent event(QEvent::User);
  EXPECT_TRUE(QCoreApplication::sendEvent(&thrower, &event));
  ASSERT_EQ(errors.boxes().size(), 1U);
  EXPECT_EQ(errors.boxes()[0].text, QStringLiteral("Access denied."));
  EXPECT_EQ(errors.boxes()[0].title, toolkit::Application::current()->title());
  EXPECT_EQ(toolkit::Application::current()->title(), QStringLiteral("gui_tests"));
}

TEST(ApplicationObject, GuardShowsEveryExceptionAndGoesOn) {
  testing_support::ErrorBoxes errors;
  bool after = false;
  toolkit::guarded([] { throw toolkit::Exception("from start-up"); });
  toolkit::guarded([] { throw std::logic_error("not the toolkit's"); });
  toolkit::guarded([] { throw std::bad_alloc(); });
  toolkit::guarded([&] { after = true; });
  EXPECT_TRUE(after);
  ASSERT_EQ(errors.boxes().size(), 3U);
  EXPECT_EQ(errors.boxes()[0].text, QStringLiteral("from start-up."));
  EXPECT_EQ(errors.boxes()[1].text, QStringLiteral("not the toolkit's."));
  EXPECT_EQ(errors.boxes()[2].text, QStringLiteral("std::bad_alloc."));
}

class StdThrower : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      throw std::runtime_error("out of paper");
    }
    return QObject::event(e);
  }
};

TEST(ApplicationObject, ShowsAnyExceptionFromEventDelivery) {
  testing_support::ErrorBoxes errors;
  StdThrower thrower;
  QEvent event(QEvent::User);
  EXPECT_TRUE(QCoreApplication::sendEvent(&thrower, &event));
  ASSERT_EQ(errors.boxes().size(), 1U);
  EXPECT_EQ(errors.boxes()[0].text, QStringLiteral("out of paper."));
}

// The offscreen platform draws a frame of its own, known from the start.
TEST(OuterSize, OffscreenFrameIsInsideTheSize) {
  QWidget window;
  toolkit::showWithOuterSize(window, QSize(761, 606));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QMargins frame = window.windowHandle()->frameMargins();
  EXPECT_EQ(window.frameGeometry().size(), QSize(761, 606));
  EXPECT_EQ(window.size(), QSize(761, 606).shrunkBy(frame));
}

}  // namespace
