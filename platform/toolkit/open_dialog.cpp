#include "platform/toolkit/open_dialog.h"

#include <QFileDialog>
#include <QStringList>
#include <QWidget>
#include <utility>

namespace toolkit {

OpenDialog::OpenDialog(QObject* parent) : QObject(parent), chooser_(chooseFileInQtDialog) {}

bool OpenDialog::Execute() {
  std::optional<QString> chosen = chooser_(qobject_cast<QWidget*>(parent()), FileName);
  if (!chosen) {
    return false;
  }
  FileName = std::move(*chosen);
  return true;
}

void OpenDialog::setChooser(Chooser chooser) {
  chooser_ = std::move(chooser);
}

std::optional<QString> chooseFileInQtDialog(QWidget* owner, const QString& offered) {
  QFileDialog dialog(owner);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  // AnyFile rather than ExistingFile: a typed name is accepted whether the file exists or not.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (!offered.isEmpty()) {
    dialog.selectFile(offered);
  }
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) {
    return std::nullopt;
  }
  return files.first();
}

}  // namespace toolkit
