// The file list's three buttons on the real window: loading a list file, choosing the source
// folder and adding single files. The dialogs answer through their choosers, except in the tests
// that drive Qt's own dialogs.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form/Unit1.h"
#include "platform/toolkit/folder_browser.h"
#include "platform/toolkit/open_dialog.h"
#include "platform/toolkit/text_bytes.h"
#include "tests/gui/modal_driver.h"
#include "tests/printer/fake_enumeration.h"
#include "tests/support/recording_spooler.h"

namespace {

using testing_support::ModalDriver;
using Answers = std::deque<std::optional<QString>>;

const QString kPrompt = QStringLiteral("フォルダを指定して下さい。");

std::optional<QString> nextAnswer(Answers& answers) {
  if (answers.empty()) {
    ADD_FAILURE() << "a dialog was opened that the test did not expect";
    return std::nullopt;
  }
  std::optional<QString> answer = answers.front();
  answers.pop_front();
  return answer;
}

// The pane's lines as bytes; an empty pane has none.
std::vector<std::string> lines(const QPlainTextEdit* pane) {
  std::vector<std::string> result;
  const QString text = pane->toPlainText();
  if (text.isEmpty()) {
    return result;
  }
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    result.push_back(toolkit::toBytes(line));
  }
  return result;
}

using Lines = std::vector<std::string>;

class FileListTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    form_.OpenDialog1->setChooser([this](QWidget*, const QString& offered) {
      offeredFiles_.push_back(offered);
      return nextAnswer(fileAnswers_);
    });
    form_.FolderBrowser1.setChooser([this](QWidget*, const QString& prompt, const QString& start) {
      prompts_.push_back(prompt);
      starts_.push_back(start);
      return nextAnswer(folderAnswers_);
    });
  }

  // Writes the bytes to a file under the test's folder; returns its full path.
  QString write(const QString& relative, std::string_view bytes) const {
    const QString path = dir_.filePath(relative);
    EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    EXPECT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
              static_cast<qint64>(bytes.size()));
    return path;
  }
  QString folderOf(const QString& relative) const { return dir_.filePath(relative) + "/"; }

  QTemporaryDir dir_;
  testing_support::RecordingSpooler spooler_;
  testing_support::FakeEnumeration printers_;
  TForm1 form_{spooler_, printers_};
  Answers fileAnswers_;
  Answers folderAnswers_;
  std::vector<QString> offeredFiles_;
  std::vector<QString> prompts_;
  std::vector<QString> starts_;
};

TEST_F(FileListTest, FirstLoadCancelledLogsTheEmptyNameAndChangesNothingElse) {
  form_.Edit1->setText("typed by hand");
  form_.Edit3->setText("/kept/");
  form_.Memo2->setPlainText("a\nb");
  fileAnswers_ = {std::nullopt};

  form_.Button1->click();

  EXPECT_EQ(form_.Edit1->text(), "");
  EXPECT_EQ(lines(form_.Memo1), Lines{"list fname is empty."});
  EXPECT_EQ(form_.Edit3->text(), "/kept/");
  EXPECT_EQ(lines(form_.Memo2), (Lines{"a", "b"}));
}

TEST_F(FileListTest, LoadTakesTheListFilesFolderAndEveryLineByteForByte) {
  const QString list =
      write("jobs/list.lst", "one.prn\r\n# comment\n\n  spaced \nend\n\x82\xa0\xff.prn\nlast");
  fileAnswers_ = {list};

  form_.Button1->click();

  EXPECT_EQ(form_.Edit1->text(), list);
  EXPECT_EQ(form_.Edit3->text(), folderOf("jobs"));
  EXPECT_EQ(lines(form_.Memo2),
            (Lines{"one.prn", "# comment", "", "  spaced ", "end", "\x82\xa0\xff.prn", "last"}));
  EXPECT_EQ(lines(form_.Memo1), Lines{});
}

TEST_F(FileListTest, CancelAfterALoadReadsTheSameFileAgain) {
  const QString list = write("jobs/list.lst", "a\n");
  fileAnswers_ = {list, std::nullopt};
  form_.Button1->click();
  write("jobs/list.lst", "b\nc\n");
  form_.Edit3->setText("/elsewhere/");
  form_.Memo2->setPlainText("typed");

  form_.Button1->click();

  EXPECT_EQ(offeredFiles_, (std::vector<QString>{"", list}));
  EXPECT_EQ(form_.Edit1->text(), list);
  EXPECT_EQ(form_.Edit3->text(), folderOf("jobs"));
  EXPECT_EQ(lines(form_.Memo2), (Lines{"b", "c"}));
  EXPECT_EQ(lines(form_.Memo1), Lines{});
}

TEST_F(FileListTest, UnopenableListFileLeavesTheNewFolderAndAnEmptyPane) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath("jobs/a folder"));
  for (const char* relative : {"jobs/missing.lst", "jobs/a folder"}) {
    SCOPED_TRACE(relative);
    form_.Memo1->clear();
    form_.Memo2->setPlainText("old");
    form_.Edit3->setText("/old/");
    fileAnswers_ = {dir_.filePath(relative)};

    form_.Button1->click();

    EXPECT_EQ(form_.Edit3->text(), folderOf("jobs"));
    EXPECT_EQ(lines(form_.Memo2), Lines{});
    EXPECT_EQ(lines(form_.Memo1), Lines{"cannot open list file"});
  }
}

TEST_F(FileListTest, SecondLoadReplacesThePaneAndTheFolder) {
  fileAnswers_ = {write("a/list.lst", "x\ny\n"), write("b/empty.lst", "")};
  form_.Button1->click();
  form_.Memo2->appendPlainText("typed");
  ASSERT_EQ(lines(form_.Memo2), (Lines{"x", "y", "typed"}));

  form_.Button1->click();

  EXPECT_EQ(form_.Edit3->text(), folderOf("b"));
  EXPECT_EQ(lines(form_.Memo2), Lines{});
  EXPECT_EQ(lines(form_.Memo1), Lines{});
}

TEST_F(FileListTest, BrowseThenCancelEmptiesTheFolderBoxAndLogsOnlyTheFirst) {
  form_.Edit3->setText("/typed/");
  folderAnswers_ = {QStringLiteral("/srv/print out"), std::nullopt};

  form_.Button2->click();
  EXPECT_EQ(form_.Edit3->text(), "/srv/print out");
  const Lines logged{toolkit::toBytes(QStringLiteral("「/srv/print out」が選択されました。"))};
  EXPECT_EQ(lines(form_.Memo1), logged);

  form_.Button2->click();
  EXPECT_EQ(form_.Edit3->text(), "");
  EXPECT_EQ(lines(form_.Memo1), logged);
  EXPECT_EQ(prompts_, (std::vector<QString>{kPrompt, kPrompt}));
  EXPECT_EQ(starts_, (std::vector<QString>{"", ""})) << "the folder box is never offered";
}

TEST_F(FileListTest, SingleFileGoesOnALineOfItsOwnWhateverThePaneEndsIn) {
  const struct {
    const char* pane;
    Lines expected;
  } cases[] = {
      {"", {"a.prn"}},
      {"x", {"x", "a.prn"}},
      {"x\n", {"x", "a.prn"}},
      {"x\n\n", {"x", "", "a.prn"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pane);
    form_.Memo2->setPlainText(c.pane);
    form_.Edit3->setText("/source/");
    fileAnswers_ = {QStringLiteral("/other/dir/a.prn")};

    form_.Button5->click();

    EXPECT_EQ(lines(form_.Memo2), c.expected);
    EXPECT_EQ(form_.Edit3->text(), "/source/");
  }
  EXPECT_EQ(lines(form_.Memo1), Lines{});
}

TEST_F(FileListTest, SameFileTwiceAppendsItTwiceAndACancelChangesNothing) {
  fileAnswers_ = {QStringLiteral("/other/a.prn"), QStringLiteral("/other/a.prn"), std::nullopt};
  form_.Button5->click();
  form_.Button5->click();
  form_.Button5->click();

  EXPECT_EQ(lines(form_.Memo2), (Lines{"a.prn", "a.prn"}));
  EXPECT_EQ(form_.OpenDialog1->FileName, "/other/a.prn");
  EXPECT_EQ(lines(form_.Memo1), Lines{});
}

TEST_F(FileListTest, NamePartIsEveryByteAfterTheLastSeparator) {
  const std::string longName = std::string(300, 'n') + ".prn";
  for (const std::string& name : {longName, std::string("\x82\xa0\xff.prn"), std::string(" b ")}) {
    form_.Memo2->clear();
    fileAnswers_ = {toolkit::fromBytes("/d/e/" + name)};
    form_.Button5->click();
    EXPECT_EQ(lines(form_.Memo2), Lines{name});
  }
}

TEST_F(FileListTest, BothButtonsShareTheDialogsLastName) {
  const QString single = write("jobs/other.lst", "q\n");
  const QString list = write("jobs/list.lst", "r\n");
  fileAnswers_ = {single, std::nullopt, std::nullopt, list, std::nullopt};

  form_.Button5->click();
  form_.Button1->click();  // cancelled: the single file is loaded as a list
  EXPECT_EQ(form_.Edit1->text(), single);
  EXPECT_EQ(lines(form_.Memo2), Lines{"q"});

  form_.Button5->click();  // cancelled
  form_.Button1->click();
  form_.Button5->click();  // cancelled

  EXPECT_EQ(offeredFiles_, (std::vector<QString>{"", single, single, single, list}));
  EXPECT_EQ(lines(form_.Memo2), Lines{"r"});
}

// Names may hold characters at which a text pane breaks its lines (a list in UTF-8 may hold
// U+2028, U+2029, U+FDD0, U+FDD1; a picked file's name even a line feed or carriage return).
// Each still stays one entry of the pane, and the run looks for, and prints, exactly the files
// the entries name; each message about one stays one line.
TEST_F(FileListTest, EntriesHoldingLineBreakingCharactersStayOneEntryEach) {
  const Lines listed = {
      "a\xe2\x80\xa8"
      "b.prn",
      "c\xe2\x80\xa9"
      "d.prn",
      "e\xef\xb7\x90.prn", "f\xef\xb7\x91.prn"};
  const std::string picked = "g\nh\ri.prn";
  std::string listBytes;
  for (const std::string& name : listed) {
    listBytes += name + "\n";
  }
  Lines all = listed;
  all.push_back(picked);
  for (const std::string& name : all) {
    write("jobs/" + toolkit::fromBytes(name), "%!PS " + name);
  }
  fileAnswers_ = {write("jobs/list.lst", listBytes), toolkit::fromBytes("/elsewhere/" + picked)};

  form_.Button1->click();
  EXPECT_EQ(form_.Memo2->blockCount(), 4);
  form_.Button5->click();
  EXPECT_EQ(form_.Memo2->blockCount(), 5);

  form_.Button3->click();
  ASSERT_EQ(spooler_.jobs.size(), all.size()) << form_.Memo1->toPlainText().toStdString();
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(spooler_.jobs[i].name, toolkit::toBytes(folderOf("jobs")) + all[i]);
    EXPECT_EQ(spooler_.jobs[i].bytes, "%!PS " + all[i]);
  }
  // "printer name : ..." and one "manage ..." per file, each a line of its own.
  EXPECT_EQ(form_.Memo1->blockCount(), 1 + static_cast<int>(all.size()));
}

// "a", LF, LF is the entry "a" and an empty one: the empty entry stays a line of the pane, and
// a file added then goes below it.
TEST_F(FileListTest, EmptyLastEntryOfAListStaysAndAnAddedFileGoesBelowIt) {
  fileAnswers_ = {write("jobs/list.lst", "a\n\n"), QStringLiteral("/elsewhere/b.prn")};
  form_.Button1->click();
  EXPECT_EQ(lines(form_.Memo2), (Lines{"a", "", ""}));
  form_.Button5->click();
  EXPECT_EQ(lines(form_.Memo2), (Lines{"a", "", "b.prn"}));
}

// Qt's own dialogs, driven through their widgets while they run modally.
class RealDialogTest : public FileListTest {
 protected:
  void SetUp() override {
    FileListTest::SetUp();
    form_.OpenDialog1->setChooser(toolkit::chooseFileInQtDialog);
    form_.FolderBrowser1.setChooser(toolkit::chooseFolderInQtDialog);
  }

  // Types the path into the dialog's name box and accepts, after checking who owns the dialog.
  ModalDriver typeAndAccept(const QString& path) {
    return ModalDriver([this, path](QDialog& shown) {
      EXPECT_EQ(shown.parentWidget(), &form_);
      auto* edit = shown.findChild<QLineEdit*>("fileNameEdit");
      if (edit == nullptr) {
        ADD_FAILURE() << "no fileNameEdit";
        shown.reject();
        return;
      }
      edit->setText(path);
      shown.accept();
    });
  }
};

TEST_F(RealDialogTest, ListFilePickedInTheDialogFillsThePaneAndTheFolder) {
  const QString list = write("jobs/list.lst", "a.prn\r\nb.prn\r\n");
  {
    const ModalDriver driver = typeAndAccept(list);
    form_.Button1->click();
    EXPECT_TRUE(driver.drove());
  }
  EXPECT_EQ(form_.Edit1->text(), list);
  EXPECT_EQ(form_.Edit3->text(), folderOf("jobs"));
  EXPECT_EQ(lines(form_.Memo2), (Lines{"a.prn", "b.prn"}));
}

TEST_F(RealDialogTest, FolderChosenInTheBrowserFillsTheFolderBox) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath("out"));
  const QString chosen = dir_.filePath("out");
  QString promptShown;
  QString openedAt;
  {
    ModalDriver driver([&](QDialog& shown) {
      if (const auto* label = shown.findChild<QLabel*>("lookInLabel")) {
        promptShown = label->text();
      }
      if (const auto* fileDialog = qobject_cast<QFileDialog*>(&shown)) {
        openedAt = fileDialog->directory().absolutePath();
      }
      shown.findChild<QLineEdit*>("fileNameEdit")->setText(chosen);
      shown.accept();
    });
    form_.Button2->click();
    EXPECT_TRUE(driver.drove());
  }
  EXPECT_EQ(promptShown, kPrompt);
  EXPECT_EQ(openedAt, QDir::rootPath());
  EXPECT_EQ(form_.Edit3->text(), chosen);
  EXPECT_EQ(lines(form_.Memo1), Lines{toolkit::toBytes(QStringLiteral("「") + chosen +
                                                       QStringLiteral("」が選択されました。"))});
}

TEST_F(RealDialogTest, FilePickedInTheDialogAddsOnlyItsName) {
  const QString picked = write("elsewhere/a.prn", "%!PS\n");
  form_.Memo2->setPlainText("x");
  {
    const ModalDriver driver = typeAndAccept(picked);
    form_.Button5->click();
    EXPECT_TRUE(driver.drove());
  }
  EXPECT_EQ(lines(form_.Memo2), (Lines{"x", "a.prn"}));
}

}  // namespace
