#pragma once

#include <QApplication>
#include <QSize>
#include <QString>
#include <QWidget>
#include <exception>
#include <functional>

namespace toolkit {

// The application title: the program file's name without its folder, cut at its first full
// stop, the first character in upper case and every other in lower case.
QString titleFromProgramPath(const QString& programPath);

// The error box's text: the message, with "." appended when the first byte of its last
// character (in UTF-8) lies above "." (0x2E).
QString errorBoxText(const QString& message);

// The application object. It shows any exception that escapes an event handler in the error
// box and goes on (a std::bad_alloc from a huge list as much as the toolkit's own), since an
// exception that crosses Qt's event loop is undefined. Qt is given no option from the command
// line: the program takes none.
class Application : public QApplication {
  Q_OBJECT

 public:
  // Where error boxes go: the title and the text. Tests replace it to see the boxes without a
  // modal loop; the real one is a critical message box with one OK button.
  using ErrorSink = std::function<void(const QString& title, const QString& text)>;

  Application(int& argc, char** argv);

  // The running application object; null when the one running is not ours.
  static Application* current();

  QString title() const { return title_; }
  void setErrorSink(ErrorSink sink) { errorSink_ = std::move(sink); }
  // Shows the exception's message (UTF-8) in the error box.
  void showException(const std::exception& error) const;
  void showMessage(const char* message) const;

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  QString title_;
  ErrorSink errorSink_;
};

// Runs fn; any exception escaping it is shown in the running application's error box, and the
// program goes on. Without an application object it passes through. The form's creation
// handler, every handler of the form and the entry's start-up go through this.
void guarded(const std::function<void()>& fn);

// Shows a top-level window whose outer size, frame and title bar included, is `outer`: the
// client area is fitted again once the window manager has told the frame it draws, however
// late; where nothing draws a frame, the client area takes the whole size.
void showWithOuterSize(QWidget& window, QSize outer);

}  // namespace toolkit
