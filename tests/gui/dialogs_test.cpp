// The two dialogs as the operator meets them: Qt's own file and folder dialogs, driven through
// their child widgets while they run modally.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include "platform/toolkit/folder_browser.h"
#include "platform/toolkit/open_dialog.h"
#include "tests/gui/modal_driver.h"

namespace {

using testing_support::ModalDriver;

QLineEdit& fileNameEdit(QDialog& dialog) {
  auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
  if (edit == nullptr) {
    throw std::runtime_error("the file dialog has no fileNameEdit");
  }
  return *edit;
}

void typeAndAccept(QDialog& dialog, const QString& path) {
  fileNameEdit(dialog).setText(path);
  dialog.accept();
}

class DialogsTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString path(const QString& name) const { return dir_.filePath(name); }
  QString touch(const QString& name) const {
    QFile file(path(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return file.fileName();
  }

  QTemporaryDir dir_;
};

TEST_F(DialogsTest, OpenDialogGivesTheTypedPathAndOffersItAgainAfterwards) {
  const QString picked = touch("picked.lst");
  toolkit::OpenDialog dialog;
  {
    ModalDriver driver([&](QDialog& shown) {
      auto* fileDialog = qobject_cast<QFileDialog*>(&shown);
      ASSERT_NE(fileDialog, nullptr);
      EXPECT_TRUE(fileDialog->testOption(QFileDialog::DontUseNativeDialog));
      EXPECT_EQ(fileNameEdit(shown).text(), "");
      typeAndAccept(shown, picked);
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_TRUE(driver.drove());
  }
  EXPECT_EQ(dialog.FileName, picked);

  QString offered;
  ModalDriver driver([&](QDialog& shown) {
    offered = fileNameEdit(shown).text();
    shown.reject();
  });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_TRUE(driver.drove());
  EXPECT_EQ(offered, "picked.lst");
  EXPECT_EQ(dialog.FileName, picked) << "a cancel keeps the last accepted path";
}

TEST_F(DialogsTest, OpenDialogAcceptsTheNameOfAFileThatDoesNotExist) {
  const QString missing = path("not-there.lst");
  toolkit::OpenDialog dialog;
  ModalDriver driver([&](QDialog& shown) { typeAndAccept(shown, missing); });
  EXPECT_TRUE(dialog.Execute());
  EXPECT_TRUE(driver.drove());
  EXPECT_EQ(dialog.FileName, missing);
}

TEST_F(DialogsTest, FolderBrowserShowsThePromptAndGivesTheFolderWithoutATrailingSeparator) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("out"));
  const QString chosen = path("out");
  toolkit::FolderBrowser browser;
  QString folder;
  ModalDriver driver([&](QDialog& shown) {
    auto* fileDialog = qobject_cast<QFileDialog*>(&shown);
    ASSERT_NE(fileDialog, nullptr);
    EXPECT_EQ(fileDialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(fileDialog->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_EQ(fileDialog->directory().absolutePath(), QDir::rootPath());
    EXPECT_EQ(fileDialog->labelText(QFileDialog::LookIn), "pick one");
    const auto* label = shown.findChild<QLabel*>("lookInLabel");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "pick one");
    // Typed with a trailing separator, as an operator may.
    typeAndAccept(shown, chosen + "/");
  });
  EXPECT_TRUE(browser.selectDirectory("pick one", folder));
  EXPECT_TRUE(driver.drove());
  EXPECT_EQ(folder, chosen);
}

TEST_F(DialogsTest, FolderBrowserGivesTheRootAsASeparatorAndKeepsTheFolderOnCancel) {
  toolkit::FolderBrowser browser;
  QString folder;
  {
    ModalDriver driver([](QDialog& shown) { shown.accept(); });
    EXPECT_TRUE(browser.selectDirectory("p", folder));
    EXPECT_TRUE(driver.drove());
  }
  EXPECT_EQ(folder, "/");

  folder = "kept";
  ModalDriver driver([](QDialog& shown) { shown.reject(); });
  EXPECT_FALSE(browser.selectDirectory("p", folder));
  EXPECT_TRUE(driver.drove());
  EXPECT_EQ(folder, "kept");
}

TEST(BrowserFolderPath, HasOneFormForEveryFolder) {
  const struct {
    const char* given;
    const char* expected;
  } cases[] = {
      {"/", "/"},
      {"//", "/"},
      {"/srv/print/", "/srv/print"},
      {"/srv/./print", "/srv/print"},
      {"/srv/print", "/srv/print"},
      {"/srv/ a b ", "/srv/ a b "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toolkit::browserFolderPath(c.given), c.expected) << c.given;
  }
}

}  // namespace
