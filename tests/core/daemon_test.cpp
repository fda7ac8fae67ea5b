#include "core/daemon.h"

#include "core/syslog.h"

#include "private_dev.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/logfile_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (auto const& e : std::filesystem::directory_iterator(dir))
      out.push_back(e.path().filename());
    return out;
  }

  static std::string HourName(time_t t) {
    struct tm tm;
    localtime_r(&t, &tm);
    char buf[64];
    strftime(buf, sizeof buf, "%Y_%m_%d-%H.log", &tm);
    return buf;
  }

  // Writes through a fresh buffer and returns the one file's text.
  std::string Run(std::function<void(std::ostream&)> const& write) {
    time_t before = time(nullptr);
    {
      LogFileStreamBuf buf(dir);
      std::ostream os(&buf);
      write(os);
    }
    time_t after = time(nullptr);
    std::vector<std::string> files = Files();
    EXPECT_EQ(1u, files.size());
    if (files.empty()) return std::string();
    EXPECT_TRUE(files[0] == HourName(before) || files[0] == HourName(after)) << files[0];
    std::ifstream in(dir + "/" + files[0], std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string dir;
};

// Length of the "mm:ss:uuuuu: " prefix that starts a line, 0 when none.
size_t PrefixLength(std::string const& line) {
  std::string shape;
  for (char c : line.substr(0, 14)) shape += isdigit(static_cast<unsigned char>(c)) ? 'd' : c;
  for (std::string p : {"dd:dd:ddddd: ", "dd:dd:dddddd: "})
    if (shape.compare(0, p.size(), p) == 0) return p.size();
  return 0;
}

// Replaces each line's prefix by "P|" (and marks a line without one by
// "?|"), so the tests compare plain text.
std::string Mask(std::string const& text, std::vector<std::string>* prefixes = nullptr) {
  std::string out;
  for (size_t i = 0, end; i < text.size(); i = end) {
    end = std::min(text.find('\n', i), text.size() - 1) + 1;
    std::string line = text.substr(i, end - i);
    size_t n = PrefixLength(line);
    if (n && prefixes) prefixes->push_back(line.substr(0, n));
    out += (n ? "P|" : "?|") + line.substr(n);
  }
  return out;
}

TEST_F(LogFileTest, OneFlushSharesOnePrefix) {
  std::string text = Run([](std::ostream& os) { os << "a\nb\n" << std::flush; });
  std::vector<std::string> prefixes;
  EXPECT_EQ("P|a\nP|b\n", Mask(text, &prefixes)) << text;
  ASSERT_EQ(2u, prefixes.size());
  EXPECT_EQ(prefixes[0], prefixes[1]);
}

// A line split over flushes, or longer than the 16-byte area, gets its
// prefix once.
TEST_F(LogFileTest, LineAcrossFlushesPrefixedOnce) {
  std::string text = Run([](std::ostream& os) {
    os << "ab" << std::flush;
    os << "cd\n" << std::flush;
    os << "a rather longer line than sixteen bytes\n" << std::flush;
    os << "tail";
    os << std::flush;
  });
  EXPECT_EQ("P|abcd\nP|a rather longer line than sixteen bytes\nP|tail", Mask(text)) << text;
}

TEST_F(LogFileTest, UnflushedTailIsDropped) {
  std::string text = Run([](std::ostream& os) { os << "kept\nlost"; });
  // "kept\n" and "lost" fit the 16-byte area without a flush: both stay
  // there and go with the buffer.
  EXPECT_EQ("", text);
}

TEST_F(LogFileTest, MissingDirectoryLosesQuietly) {
  LogFileStreamBuf buf(dir + "/absent");
  std::ostream os(&buf);
  os << "nowhere" << std::endl;
  EXPECT_TRUE(os.good());
  EXPECT_TRUE(Files().empty());
}

using testing_private_dev::Recv;

// The messages of one datagram without their 16-byte time stamps; bytes
// that are no syslog message stay as they are.
std::string Unstamp(std::string const& datagram) {
  if (datagram.empty() || datagram[0] != '<') return datagram;
  std::string out;
  size_t pos = 0;
  while (pos < datagram.size()) {
    size_t end = std::min(datagram.find('\0', pos), datagram.size() - 1) + 1;
    size_t text = std::min(datagram.find('>', pos) + 1 + 16, end);
    out +=
        datagram.substr(pos, datagram.find('>', pos) + 1 - pos) + datagram.substr(text, end - text);
    pos = end;
  }
  return out;
}

// Runs `start` (which detaches) in a grandchild and reaps the detached
// process, whose parent then is this (subreaper) process. Returns the
// detached one's status.
int Detach(std::function<void()> const& start) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    start();
    std::exit(0);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  int detached = -1;
  pid_t p;
  while ((p = waitpid(-1, &detached, 0)) < 0 && errno == EINTR) {
  }
  EXPECT_GT(p, 0);
  return WIFEXITED(detached) ? WEXITSTATUS(detached) : 128 + WTERMSIG(detached);
}

void LogAtExit() {
  std::cerr << "bye" << std::endl;
}

TEST(DaemonSentry, SyslogModeRoutesStreamsAndDescriptors) {
  auto body = [] {
    int srv = testing_private_dev::BindLog(SOCK_DGRAM);
    Daemon::Params params;
    params.name = "vld-" + std::string(100, 'n');
    int status = Detach([&] {
      Daemon::Init(params);
      // Exit handlers log too; the client must still be there.
      std::atexit(LogAtExit);
      // Only the first call detaches.
      pid_t before = getpid();
      Daemon::Params again;
      again.mode = 1;
      Daemon::Init(again);
      if (getpid() != before) std::cerr << "detached twice" << std::endl;
      std::cout << "notice" << std::endl;
      std::cerr << "error" << std::endl;
      std::clog << "trace" << std::endl;
      ssize_t r = write(1, "raw\n", 4);
      (void)r;
      std::cout << "two\nlines" << std::endl;
      // Left for the final flush of the standard streams, which
      // comes after the destructors of ordinary globals.
      std::clog << "unflushed\n";
    });
    EXPECT_EQ(0, status);
    std::string ident = "vld-" + std::string(75, 'n') + ": ";
    // One entry a datagram, in order of arrival.
    std::string const datagrams[] = {
        "<29>" + ident + "notice" + '\0',
        "<27>" + ident + "error" + '\0',
        "<31>" + ident + "trace" + '\0',
        "raw\n",
        "<29>" + ident + "two" + '\0' + "<29>" + ident + "lines" + '\0',
        "<27>" + ident + "bye" + '\0',
        "<31>" + ident + "unflushed" + '\0',
    };
    for (std::string const& d : datagrams) EXPECT_EQ(d, Unstamp(Recv(srv)));
  };
  RUN_ISOLATED_WITH(body, true);
}

TEST(DaemonSentry, DaemonModeLogsUnderTheBuildTag) {
  auto body = [] {
    int srv = testing_private_dev::BindLog(SOCK_DGRAM);
    EXPECT_EQ(0, Detach([] {
                RunDaemon();
                std::cout << "up" << std::endl;
              }));
    EXPECT_EQ(std::string("<29>vld-T250327-1818: up") + '\0', Unstamp(Recv(srv)));
  };
  RUN_ISOLATED_WITH(body, true);
}

TEST(DaemonSentry, DaemonFailureExitsWithTwo) {
  RUN_ISOLATED([] {
    int p[2];
    ASSERT_EQ(0, pipe(p));
    dup2(p[1], 2);
    close(p[1]);
    Daemon::Params params;
    params.mode = 2;
    // No /dev/null in this /dev: daemon(3) fails in the detached child.
    EXPECT_EQ(2, Detach([&] { Daemon::Init(params); }));
    char buf[128];
    ssize_t n = read(p[0], buf, sizeof buf);
    EXPECT_EQ("daemon() fail!\n", std::string(buf, size_t(n > 0 ? n : 0)));
  });
}

}  // namespace
