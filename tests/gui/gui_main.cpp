// The entry of every widget test process: a private runtime folder, our application object
// (offscreen), and an error box that fails the test unless a test has put its own in place.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QDir>
#include <QString>
#include <string>

#include "platform/toolkit/application.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing tests happens at build time, outside the test environment, where no display may
  // exist: no application object is made for it.
  if (GTEST_FLAG_GET(list_tests)) {
    return RUN_ALL_TESTS();
  }
  std::string runtimeDir = QDir::tempPath().toStdString() + "/batchspool-gui-XXXXXX";
  if (mkdtemp(runtimeDir.data()) == nullptr) {
    return 1;
  }
  setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
  // libcups lets a client on this machine in without a password when it can read the local
  // certificate of the server's state folder; an empty one of our own holds none, so a server
  // that asks for a password is answered only through the program's own prompt. libcups reads
  // the variable once per thread, so it is set before any thread calls libcups.
  const std::string stateDir = runtimeDir + "/cups-state";
  if (mkdir(stateDir.c_str(), 0700) != 0) {
    return 1;
  }
  setenv("CUPS_STATEDIR", stateDir.c_str(), 1);
  int result = 0;
  {
    toolkit::Application application(argc, argv);
    application.setErrorSink([](const QString& title, const QString& text) {
      ADD_FAILURE() << "unexpected error box: " << title.toStdString() << ": "
                    << text.toStdString();
    });
    result = RUN_ALL_TESTS();
  }
  QDir(QString::fromStdString(runtimeDir)).removeRecursively();
  return result;
}
