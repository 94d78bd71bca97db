// A print server that wants a user for job operations, answered through the window's password
// dialog: a private cupsd over TCP whose policy asks for Basic authentication, checked by PAM
// against a real user of the machine that the test makes and removes. The window runs with the
// CUPS layer and the prompt the program itself installs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/password_prompt.h"
#include "form/Unit1.h"
#include "platform/cups/cups_printers.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/text_bytes.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/system_user.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing_support::PrivateCupsd;
using testing_support::SystemUser;
using testing_support::TempFolder;

constexpr const char* kQueue = "locked";

constexpr const char* kJobOperations = "Create-Job Print-Job Send-Document";

// A server that asks for a user for the operations named, and for nothing else.
testing_support::ServerSettings askingServer(const std::string& operations = kJobOperations) {
  testing_support::ServerSettings settings;
  settings.tcp = true;
  // Without it cupsd refuses Basic: "Basic authentication is not enabled".
  settings.directives = {"DefaultAuthType Basic"};
  settings.policyLimits = "  <Limit " + operations +
                          ">\n"
                          "    AuthType Basic\n"
                          "    Require valid-user\n"
                          "  </Limit>\n";
  return settings;
}

std::string loginName() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw == nullptr ? std::string() : pw->pw_name;
}

// What the operator does with each password dialog, in turn.
enum class Answer { Right, Wrong, Cancel };

// What a dialog showed.
struct Asked {
  QString prompt;
  QString prefilledUser;
  const QWidget* over = nullptr;
};

// Answers every password dialog that opens while it lives, key by key and click by click, with
// the next of its answers, after thinking for `thinking` as a person does; once the answers are
// used up, it cancels. A dialog is answered only once: answering closes it.
class Operator {
 public:
  Operator(const SystemUser& user, std::vector<Answer> answers,
           std::chrono::milliseconds thinking = std::chrono::milliseconds(0))
      : user_(user), answers_(std::move(answers)), thinking_(thinking) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start(std::chrono::milliseconds(5));
  }

  const std::vector<Asked>& asked() const { return asked_; }

 private:
  void poll() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) {
      return;
    }
    auto* user = dialog->findChild<QLineEdit*>("userEdit");
    auto* password = dialog->findChild<QLineEdit*>("passwordEdit");
    auto* buttons = dialog->findChild<QDialogButtonBox*>("buttons");
    const auto* prompt = dialog->findChild<QLabel*>("prompt");
    if (user == nullptr || password == nullptr || buttons == nullptr || prompt == nullptr) {
      ADD_FAILURE() << "a modal dialog that is not the password dialog";
      dialog->reject();
      return;
    }
    asked_.push_back({prompt->text(), user->text(), dialog->parentWidget()});
    const Answer answer =
        asked_.size() <= answers_.size() ? answers_[asked_.size() - 1] : Answer::Cancel;
    if (thinking_.count() > 0) {
      // The operator's own time: nothing to wait for but the time itself.
      QTest::qWait(static_cast<int>(thinking_.count()));
    }
    if (answer == Answer::Cancel) {
      QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
      return;
    }
    user->selectAll();
    QTest::keyClicks(user, QString::fromStdString(user_.name()));
    QTest::keyClicks(password,
                     QString::fromStdString(answer == Answer::Right ? user_.password()
                                                                    : user_.password() + "-not"));
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
  }

  const SystemUser& user_;
  std::vector<Answer> answers_;
  std::chrono::milliseconds thinking_;
  std::vector<Asked> asked_;
  QTimer timer_;
};

class PasswordInWindow : public testing::Test {
 protected:
  // The operations the server wants a user for.
  virtual std::string limitedOperations() const { return kJobOperations; }

  void SetUp() override {
    server_.emplace(askingServer(limitedOperations()));
    // Only over TCP does cupsd ask for a password: on its socket it knows the user already.
    server_->routeClients(testing_support::ClientRoute::tcpEnvironment);
    server_->addCaptureQueue(kQueue);
    server_->setDefault(kQueue);
    // Three pieces and a bit, with bytes that are not text.
    for (int i = 0; i < 13'000; ++i) {
      bytes_.push_back(static_cast<char>((i * 131 + 17) % 256));
    }
    path_ = files_.write("a.prn", bytes_);
  }

  struct Run {
    std::vector<std::string> lines;
    std::vector<Asked> asked;
    const QWidget* window = nullptr;
  };

  // Presses the start button of a window whose CUPS layer asks through the program's own
  // dialog prompt, with the operator answering each dialog in turn.
  Run startButton(std::vector<Answer> answers,
                  std::chrono::milliseconds thinking = std::chrono::milliseconds(0),
                  std::chrono::milliseconds bound = batchcups::kDefaultServerBound) {
    // Wired as the program's entry wires it.
    TForm1* window = nullptr;
    const batchcups::PasswordPrompt prompt =
        app::dialogPasswordPrompt([&window]() -> QWidget* { return window; });
    const auto passwords = std::make_shared<batchcups::PasswordMemory>();
    const batchcups::ThreadPasswordPrompt onThisThread(prompt, passwords);
    batchcups::SpoolerSettings settings;
    settings.bound = bound;
    settings.passwordPrompt = prompt;
    settings.passwords = passwords;
    batchcups::CupsSpooler spooler(settings);
    batchcups::CupsPrinters printers;
    TForm1 form(spooler, printers);
    window = &form;
    form.show();
    EXPECT_EQ(form.ComboBox1->currentText(), kQueue) << "the default printer is shown";
    QTest::keyClicks(form.Edit3, QString::fromStdString(files_.path().string()));
    QTest::keyClicks(form.Memo2, "a.prn");
    Operator op(user_, std::move(answers), thinking);
    QTest::mouseClick(form.Button3, Qt::LeftButton);
    Run run;
    for (const QString& line : form.Memo1->toPlainText().split(u'\n')) {
      run.lines.push_back(toolkit::toBytes(line));
    }
    run.asked = op.asked();
    run.window = &form;
    return run;
  }

  std::vector<std::string> printedPass() const {
    return {std::string("printer name : ") + kQueue, "manage " + path_};
  }
  std::vector<std::string> failedPass() const {
    std::vector<std::string> lines = printedPass();
    lines.push_back("StartDocPrinter failed. Terminated.");
    return lines;
  }

  void expectPrinted() {
    const auto jobs = server_->waitForJobs(kQueue, 1);
    ASSERT_EQ(jobs.size(), 1U);
    EXPECT_EQ(jobs[0].title, path_);
    EXPECT_TRUE(jobs[0].bytes == bytes_) << "the job's bytes differ from the file's";
  }
  void expectNoJob() { EXPECT_TRUE(server_->serverJobs(kQueue).empty()); }

  SystemUser user_;
  std::optional<PrivateCupsd> server_;
  TempFolder files_;
  std::string bytes_;
  std::string path_;
};

TEST_F(PasswordInWindow, TheRightPasswordPrintsTheFileByteForByte) {
  const Run run = startButton({Answer::Right});
  EXPECT_EQ(run.lines, printedPass());
  ASSERT_EQ(run.asked.size(), 1U);
  EXPECT_EQ(run.asked[0].over, run.window);
  EXPECT_EQ(run.asked[0].prefilledUser.toStdString(), loginName());
  EXPECT_TRUE(run.asked[0].prompt.contains("127.0.0.1")) << run.asked[0].prompt.toStdString();
  expectPrinted();
}

TEST_F(PasswordInWindow, CancelEndsThePassWhereTheServerFirstWantsTheUser) {
  // Create-Job is the first request that needs the user.
  const Run run = startButton({Answer::Cancel});
  EXPECT_EQ(run.lines, failedPass());
  EXPECT_EQ(run.asked.size(), 1U);
  expectNoJob();
}

// A server that wants the user already to look at the printer.
class PasswordAtOpen : public PasswordInWindow {
 protected:
  std::string limitedOperations() const override {
    return std::string("Get-Printer-Attributes ") + kJobOperations;
  }
};

TEST_F(PasswordAtOpen, CancelEndsThePassWhereThePrinterIsOpened) {
  const Run run = startButton({Answer::Cancel});
  std::vector<std::string> expected = printedPass();
  expected.push_back(std::string("OpenPrinter for ") + kQueue + " failed. Terminated.");
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(run.asked.size(), 1U);
  expectNoJob();
}

TEST_F(PasswordAtOpen, TheRightPasswordPrintsAndIsAskedForOnce) {
  const Run run = startButton({Answer::Right});
  EXPECT_EQ(run.lines, printedPass());
  EXPECT_EQ(run.asked.size(), 1U);
  expectPrinted();
}

// Each wrong password costs some 5 s: libcups sends it twice, and PAM makes cupsd wait about
// 2.5 s after every failure.
TEST_F(PasswordInWindow, AfterAWrongPasswordTheOperatorIsAskedAgain) {
  const Run run = startButton({Answer::Wrong, Answer::Right});
  EXPECT_EQ(run.lines, printedPass());
  ASSERT_EQ(run.asked.size(), 2U);
  EXPECT_EQ(run.asked[1].prefilledUser.toStdString(), user_.name())
      << "asked again, the dialog offers the name given before";
  expectPrinted();
}

TEST_F(PasswordInWindow, WrongPasswordsFailTheRequestAfterAFewAsks) {
  // The right answer in reserve: an operator who is asked too often would give it.
  const Run run = startButton(
      {Answer::Wrong, Answer::Wrong, Answer::Wrong, Answer::Wrong, Answer::Wrong, Answer::Right});
  EXPECT_EQ(run.lines, failedPass());
  EXPECT_GE(run.asked.size(), 2U) << "not asked again after a wrong password";
  EXPECT_LE(run.asked.size(), 3U) << "asked again and again";
  expectNoJob();
}

// An operator may take longer to find the password than the server is given to answer; the
// time in the dialog is the operator's, not the server's.
TEST_F(PasswordInWindow, AnOperatorSlowerThanTheServersBoundStillPrints) {
  // The bound still leaves cupsd room for its own password check, which takes over a second on
  // a busy machine.
  const Run run = startButton({Answer::Right}, std::chrono::milliseconds(6000),
                              std::chrono::milliseconds(3000));
  EXPECT_EQ(run.lines, printedPass());
  EXPECT_EQ(run.asked.size(), 1U);
  expectPrinted();
}

// The printer box is filled by libcups calls on the window's thread, outside the CUPS layer's
// run: the prompt that the program installs for that thread asks through the same dialog, and
// what the operator gave for the list is remembered for the default.
TEST(PasswordForThePrinterBox, TheServersListIsHadThroughTheDialog) {
  const SystemUser user;
  testing_support::ServerSettings settings = askingServer();
  settings.policyLimits +=
      "  <Limit CUPS-Get-Printers CUPS-Get-Default>\n"
      "    AuthType Basic\n"
      "    Require valid-user\n"
      "  </Limit>\n";
  PrivateCupsd server(settings);
  server.routeClients(testing_support::ClientRoute::tcpEnvironment);
  server.addCaptureQueue(kQueue);
  server.setDefault(kQueue);

  const Operator op(user, {Answer::Right, Answer::Right, Answer::Right});
  const batchcups::PasswordPrompt prompt =
      app::dialogPasswordPrompt([]() -> QWidget* { return nullptr; });
  const auto passwords = std::make_shared<batchcups::PasswordMemory>();
  const batchcups::ThreadPasswordPrompt onThisThread(prompt, passwords);
  batchcups::SpoolerSettings spoolerSettings;
  spoolerSettings.passwordPrompt = prompt;
  spoolerSettings.passwords = passwords;
  batchcups::CupsSpooler spooler(spoolerSettings);
  batchcups::CupsPrinters printers;
  TForm1 form(spooler, printers);
  EXPECT_EQ(form.ComboBox1->currentText(), kQueue);
  EXPECT_EQ(form.ComboBox1->count(), 1);
  ASSERT_EQ(op.asked().size(), 1U) << "the list and the default ask once between them";
  EXPECT_EQ(op.asked()[0].prefilledUser.toStdString(), loginName());
}

// The program started from a terminal: libcups's own prompt would read the password from it,
// waiting for a line nobody types. The case above runs in a process whose controlling terminal
// and standard input are a pseudo-terminal with lines already typed into it, which must all
// still be there when the case has passed.
TEST(PasswordOnATerminal, NothingIsReadFromTheTerminalTheProgramRunsIn) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  std::array<char, 128> name{};
  ASSERT_EQ(::ptsname_r(master, name.data(), name.size()), 0);
  // Our own look at the terminal's input queue.
  const int slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(slave, 0);
  const auto unread = [slave] {
    int n = -1;
    return ::ioctl(slave, FIONREAD, &n) == 0 ? n : -1;
  };
  // Whole lines, since a terminal in line mode reports only those as ready.
  const std::string typedAhead = "typed ahead\nand more\n";
  ASSERT_EQ(::write(master, typedAhead.data(), typedAhead.size()),
            static_cast<ssize_t>(typedAhead.size()));
  const int typed = static_cast<int>(typedAhead.size());
  ASSERT_TRUE(QTest::qWaitFor([&] { return unread() == typed; }, 5'000)) << unread();

  TempFolder folder;
  const fs::path output = folder.path() / "child.out";
  const int outFd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(outFd, 0);
  const std::string program = fs::read_symlink("/proc/self/exe").string();
  std::string filter = "--gtest_filter=PasswordInWindow.TheRightPasswordPrintsTheFileByteForByte";
  std::array<char*, 3> argv = {const_cast<char*>(program.c_str()), filter.data(), nullptr};
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only what is safe between fork and exec: a session of its own, whose controlling
    // terminal the pseudo-terminal becomes as it is opened.
    if (::setsid() < 0) {
      ::_exit(120);
    }
    const int tty = ::open(name.data(), O_RDWR);
    if (tty < 0 || ::ioctl(tty, TIOCSCTTY, 0) != 0 || ::dup2(tty, STDIN_FILENO) < 0 ||
        ::dup2(outFd, STDOUT_FILENO) < 0 || ::dup2(outFd, STDERR_FILENO) < 0) {
      ::_exit(121);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(122);
  }
  ::close(outFd);

  // libcups's prompt flushes the terminal's input before it reads: a drop in what is unread
  // tells at once, and the child would then wait for a line forever.
  int status = 0;
  bool ended = false;
  bool drained = false;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (!ended && !drained && Clock::now() < deadline) {
    ended = ::waitpid(child, &status, WNOHANG) == child;
    drained = unread() != typed;
    if (!ended && !drained) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (!ended) {
    // The whole session: the case's own cupsd too, which would outlive it.
    ::kill(-child, SIGKILL);
    ::waitpid(child, &status, 0);
    SystemUser::removeLeftBy(child);
  }
  std::ostringstream childOutput;
  childOutput << std::ifstream(output).rdbuf();
  EXPECT_EQ(unread(), typed) << "the terminal was read from";
  EXPECT_TRUE(ended) << "the case did not end: " << childOutput.str();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << childOutput.str();
  EXPECT_NE(childOutput.str().find("[  PASSED  ] 1 test."), std::string::npos) << childOutput.str();
  ::close(slave);
  ::close(master);
}

}  // namespace
