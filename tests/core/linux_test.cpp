#include "core/linux.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/fd.h"
#include "core/smartptr_assert.h"
#include "tests/stream_capture.h"

namespace {
std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}
}  // namespace

TEST(LinuxRun, WritesThePidWithoutEndOfLineAndRemovesIt) {
  // The name climbs out of "/var/run/" (a climb past "/" stays there) into a
  // folder of the test's own: the host's pid files are never touched.
  if (::access("/var/run/", X_OK) != 0) GTEST_SKIP() << "no /var/run/";
  char dir[] = "/tmp/velmard-run-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dir));
  std::string name = std::string("../../../../../../../..") + dir + "/server";
  std::string path = "/var/run/" + name + ".pid";
  mode_t oldMask = ::umask(0);  // the mode asked of open shows whole
  {
    Linux::Run run(name.c_str());
    ::umask(oldMask);
    ASSERT_TRUE(run.IsOpen());
    EXPECT_EQ(path, run.Path());
    EXPECT_EQ(std::to_string(::getpid()), Slurp(path));
    struct stat st;
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
  EXPECT_NE(0, ::access(path.c_str(), F_OK));
  EXPECT_EQ(0, ::rmdir(dir));
}

TEST(LinuxRun, MissingDirectoryIsNoError) {
  Linux::Run run("no-such-directory/server");
  EXPECT_FALSE(run.IsOpen());
}

TEST(FindProcByName, HintFirstThenScan) {
  // A child whose command name holds a ")"; the pid makes it unique among
  // test runs side by side.
  const std::string name = "odd)" + std::to_string(::getpid() % 100000000);
  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
    if (::write(ready[1], "x", 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(1, ::read(ready[0], &c, 1));
  ::close(ready[0]);
  ::close(ready[1]);

  EXPECT_EQ(child, find_proc_by_name(name.c_str(), child));
  EXPECT_EQ(child, find_proc_by_name(name.c_str(), 1));  // the hint names another program
  EXPECT_EQ(child, find_proc_by_name(name.c_str(), 0));
  EXPECT_EQ(-1, find_proc_by_name("odd", child));
  EXPECT_EQ(-1, find_proc_by_name("no-such-program-here", 0));

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST(Timestamp, DayMonthAndTime) {
  std::ostringstream out;
  timestamp(out);
  // "dd/mm HH:MM:SS"
  const std::string shape = "00/00 00:00:00";
  std::string text = out.str();
  ASSERT_EQ(shape.size(), text.size()) << text;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == '0')
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[i]))) << text;
    else
      EXPECT_EQ(shape[i], text[i]) << text;
  }
}

// Standard input is a pipe, a terminal or closed; failures go to standard
// error and the call returns.
TEST(Console, ModesOfStandardInput) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(0, ::grantpt(master));
  ASSERT_EQ(0, ::unlockpt(master));
  Fd tty(::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC)), rd, wr;
  int p[2];
  ASSERT_EQ(0, ::pipe2(p, O_CLOEXEC));
  rd.reset(p[0]);
  wr.reset(p[1]);
  const std::string noAttr = "can't obtain terminal attributes\ncan't set terminal attributes\n";
  const tcflag_t cleared = ICANON | ISIG | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL;
  struct {
    const Fd* input;  // null: closed
    void (*call)();
    std::string error;
  } rows[] = {
      {&rd, Console::SwitchToNonBlockMode, ""},
      {nullptr, Console::SwitchToNonBlockMode, "can't switch terminal to blocked mode\n"},
      {&tty, Console::SwitchToBinaryMode, ""},
      {&rd, Console::SwitchToBinaryMode, noAttr},
  };
  int saved = ::dup(0);
  for (const auto& r : rows) {
    termios before{};
    ::tcgetattr(tty.get(), &before);
    before.c_lflag |= cleared | IEXTEN;
    ::tcsetattr(tty.get(), TCSANOW, &before);
    r.input ? ::dup2(r.input->get(), 0) : ::close(0);
    {
      Capture err(std::cerr);
      r.call();
      EXPECT_EQ(r.error, err.text());
    }
    if (r.call == Console::SwitchToNonBlockMode && r.input) {
      EXPECT_TRUE(::fcntl(0, F_GETFL) & O_NONBLOCK);
    }
    termios after{};
    ::tcgetattr(tty.get(), &after);
    EXPECT_EQ(r.input == &tty ? before.c_lflag & ~cleared : before.c_lflag, after.c_lflag);
    ::dup2(saved, 0);
  }
  ::close(saved);
  ::close(master);
}

TEST(PointerAssertionDeathTest, ReportAndTerminate) {
  EXPECT_DEATH(SmartPtrAssertion(), "SMART POINTER ASSERTION!");
  EXPECT_DEATH(SharedPtrAssertion(), "SHARED POINTER ASSERTION!");
}
