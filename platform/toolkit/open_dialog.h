#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace toolkit {

// The form's one file-open dialog: one file at a time, every file listed, no title of its own,
// and a typed name of a file that does not exist accepted as it stands. It remembers the name of
// the file accepted last, its next opening starts from that name, and a cancel keeps it.
class OpenDialog : public QObject {
 public:
  // How the operator is asked: the accepted full path, or nothing after a cancel. The offered
  // path is the one to fill in. Tests put their own answer here so that they need no modal loop.
  using Chooser = std::function<std::optional<QString>(QWidget* owner, const QString& offered)>;

  // A widget parent owns the dialog's window.
  explicit OpenDialog(QObject* parent = nullptr);

  // True when a file was accepted; FileName is then its full path.
  bool Execute();

  void setChooser(Chooser chooser);

  QString FileName;

 private:
  Chooser chooser_;
};

// Qt's own file dialog rather than the desktop's: the desktop's has no child widgets that a test
// can drive, and it answered with the wrong file when driven.
std::optional<QString> chooseFileInQtDialog(QWidget* owner, const QString& offered);

}  // namespace toolkit
