#include "platform/toolkit/keep_alive.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace toolkit {

void keepWindowsAlive() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace toolkit
