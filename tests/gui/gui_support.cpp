#include "tests/gui/gui_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

namespace testing_support {

ErrorBoxes::ErrorBoxes() {
  toolkit::Application::current()->setErrorSink([this](const QString& title, const QString& text) {
    boxes_.push_back({title, text});
  });
}

ErrorBoxes::~ErrorBoxes() {
  toolkit::Application::current()->setErrorSink([](const QString& title, const QString& text) {
    ADD_FAILURE() << "unexpected error box: " << title.toStdString() << ": " << text.toStdString();
  });
}

bool showAndActivate(QWidget& window) {
  window.show();
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

}  // namespace testing_support
