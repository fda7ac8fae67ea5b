#include "core/linux.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>

#include "core/smartptr_assert.h"

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

TEST(PointerAssertionDeathTest, ReportAndTerminate) {
  EXPECT_DEATH(SmartPtrAssertion(), "SMART POINTER ASSERTION!");
  EXPECT_DEATH(SharedPtrAssertion(), "SHARED POINTER ASSERTION!");
}
