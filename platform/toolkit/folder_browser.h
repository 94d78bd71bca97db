#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace toolkit {

// A modal choice of one folder of the file system, the prompt shown above the folder tree. The
// tree starts at the top of the file system; a folder passed in is opened when it exists.
class FolderBrowser {
 public:
  // How the operator is asked: the accepted folder, or nothing after a cancel. Tests put their
  // own answer here so that they need no modal loop.
  using Chooser = std::function<std::optional<QString>(QWidget* owner, const QString& prompt,
                                                       const QString& start)>;

  explicit FolderBrowser(QWidget* owner = nullptr);

  // True when a folder was accepted, and folder is then its path; a cancel leaves folder as it
  // was. The root comes back as "/", every other folder without a trailing separator.
  bool selectDirectory(const QString& prompt, QString& folder);

  void setChooser(Chooser chooser);

 private:
  QWidget* owner_ = nullptr;
  Chooser chooser_;
};

// Qt's own folder dialog, folders only, with the prompt as the label above the tree.
std::optional<QString> chooseFolderInQtDialog(QWidget* owner, const QString& prompt,
                                              const QString& start);

// A folder path in the one form the browser gives: the root as "/", any other folder with no
// separator at its end and no doubled or "." parts.
QString browserFolderPath(const QString& path);

}  // namespace toolkit
