// The least a Qt Widgets program does to open a window: the yardstick for the program's
// start-up.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.show();
  return QApplication::exec();
}
