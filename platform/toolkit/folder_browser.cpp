#include "platform/toolkit/folder_browser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <utility>

namespace toolkit {

FolderBrowser::FolderBrowser(QWidget* owner) : owner_(owner), chooser_(chooseFolderInQtDialog) {}

bool FolderBrowser::selectDirectory(const QString& prompt, QString& folder) {
  const std::optional<QString> chosen = chooser_(owner_, prompt, folder);
  if (!chosen) {
    return false;
  }
  folder = browserFolderPath(*chosen);
  return true;
}

void FolderBrowser::setChooser(Chooser chooser) {
  chooser_ = std::move(chooser);
}

std::optional<QString> chooseFolderInQtDialog(QWidget* owner, const QString& prompt,
                                              const QString& start) {
  QFileDialog dialog(owner);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  // The "Look in" label heads the dialog above the folder view, where the prompt belongs.
  dialog.setLabelText(QFileDialog::LookIn, prompt);
  const bool startExists = !start.isEmpty() && QFileInfo(start).isDir();
  dialog.setDirectory(startExists ? start : QDir::rootPath());
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  const QStringList folders = dialog.selectedFiles();
  if (folders.isEmpty()) {
    return std::nullopt;
  }
  return folders.first();
}

QString browserFolderPath(const QString& path) {
  return QDir::cleanPath(path);
}

}  // namespace toolkit
