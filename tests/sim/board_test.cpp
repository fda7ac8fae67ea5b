// The simulated board seen from the daemon's side: the real C library calls,
// interposed in this process.
#include "sim/board.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern "C" int __open_2(const char* path, int flags);
extern "C" int __open64_2(const char* path, int flags);

namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const char kWatchdog[] = "/dev/misc/gw-wd";
const char kProbe[] = "/dev/sim-test/probe";

// A device of the tests' own: journals what it sees and answers ioctls.
class Probe : public sim::Device {
 public:
  void OnWrite(sim::Port&, const std::string& packet) override { Record("write " + packet); }
  int OnIoctl(sim::Port&, unsigned long request, void* arg, int* err) override {
    Record("ioctl " + std::to_string(request));
    if (request == 0xBAD) {
      *err = EIO;
      return -1;
    }
    if (arg) *static_cast<int*>(arg) = 42;
    return 7;
  }
  bool OnInject(const std::vector<sim::Port*>& ports, const std::vector<std::string>& words,
                std::string* reply) override {
    if (words.size() != 1) {
      *reply = "usage: inject PATH TEXT";
      return false;
    }
    for (sim::Port* p : ports) p->Send(words[0]);
    *reply = "sent " + std::to_string(ports.size());
    return true;
  }
};

std::vector<std::string> Texts(const std::string& path) {
  std::vector<std::string> out;
  for (auto& e : sim::Board::instance().Journal(path)) out.push_back(e.text);
  return out;
}

class BoardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sim::Board::instance().Add(kProbe, std::make_unique<Probe>()); }
  void SetUp() override { sim::Board::instance().Reset(); }
  void TearDown() override {
    for (int fd : fds_) close(fd);
    sim::Board::instance().Reset();
  }
  int Keep(int fd) {
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  std::vector<int> fds_;
};

struct OpenCase {
  const char* name;
  std::function<int(const char*, int)> open;
};

class OpenVariants : public BoardTest, public ::testing::WithParamInterface<OpenCase> {};

// Device paths give a socket the board journals; other paths reach the real call.
TEST_P(OpenVariants, DevicesAndOtherPaths) {
  int fd = Keep(GetParam().open(kWatchdog, O_WRONLY));
  ASSERT_GE(fd, 0) << strerror(errno);
  EXPECT_EQ(1, sim::Board::instance().OpenCount(kWatchdog));
  for (const char* text : {"START", "PING", "STOP"})
    ASSERT_EQ(ssize_t(strlen(text)), write(fd, text, strlen(text)));
  EXPECT_THAT(Texts(kWatchdog), ElementsAre("START", "PING", "STOP"));
  EXPECT_GE(Keep(GetParam().open("/dev/null", O_RDONLY)), 0);
  errno = 0;
  EXPECT_EQ(-1, GetParam().open("/dev/misc/no-such-device", O_RDONLY));
  EXPECT_EQ(ENOENT, errno);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, OpenVariants,
    ::testing::Values(OpenCase{"open", [](const char* p, int f) { return open(p, f); }},
                      OpenCase{"open64", [](const char* p, int f) { return open64(p, f); }},
                      OpenCase{"open_2", [](const char* p, int f) { return __open_2(p, f); }},
                      OpenCase{"open64_2", [](const char* p, int f) { return __open64_2(p, f); }},
                      OpenCase{"openat",
                               [](const char* p, int f) { return openat(AT_FDCWD, p, f); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BoardTest, OpenFlagsApplyToTheDaemonsEnd) {
  struct {
    int flags;
    bool nonblock, cloexec;
  } cases[] = {
      {O_WRONLY | O_NONBLOCK, true, false},
      {O_RDWR | O_CLOEXEC, false, true},
  };
  for (auto& c : cases) {
    int fd = Keep(open(kWatchdog, c.flags));
    ASSERT_GE(fd, 0);
    EXPECT_EQ(c.nonblock, (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0) << c.flags;
    EXPECT_EQ(c.cloexec, (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0) << c.flags;
  }
}

TEST_F(BoardTest, IoctlReachesTheDeviceAlsoThroughADuplicate) {
  int fd = Keep(open(kProbe, O_RDWR));
  ASSERT_GE(fd, 0);
  int copy = Keep(dup(fd));
  int value = 0;
  EXPECT_EQ(7, ioctl(fd, 0x1234, &value));
  EXPECT_EQ(42, value);
  value = 0;
  EXPECT_EQ(7, ioctl(copy, 0x5678, &value));
  EXPECT_EQ(42, value);
  errno = 0;
  EXPECT_EQ(-1, ioctl(copy, 0xBAD, nullptr));
  EXPECT_EQ(EIO, errno);
  EXPECT_THAT(Texts(kProbe), ElementsAre("ioctl 4660", "ioctl 22136", "ioctl 2989"));
}

TEST_F(BoardTest, IoctlOnOtherDescriptorsReachesTheRealCall) {
  int p[2];
  ASSERT_EQ(0, pipe(p));
  Keep(p[0]);
  Keep(p[1]);
  Keep(open(kProbe, O_RDWR));  // a device is open, so ioctl looks each descriptor up
  ASSERT_EQ(3, write(p[1], "abc", 3));
  int pending = 0;
  EXPECT_EQ(0, ioctl(p[0], FIONREAD, &pending));
  EXPECT_EQ(3, pending);
  errno = 0;
  EXPECT_EQ(-1, ioctl(p[0], 0x1234, &pending));
  EXPECT_EQ(ENOTTY, errno);
  EXPECT_TRUE(Texts(kProbe).empty());
}

TEST_F(BoardTest, WatchdogAnswersNoIoctlAndTakesNoEvent) {
  int fd = Keep(open(kWatchdog, O_WRONLY));
  errno = 0;
  EXPECT_EQ(-1, ioctl(fd, 0x1, nullptr));
  EXPECT_EQ(ENOTTY, errno);
  std::string reply;
  EXPECT_FALSE(sim::Board::instance().Inject(kWatchdog, {"x"}, &reply));
}

TEST_F(BoardTest, ClosingEveryCopyClosesThePort) {
  int fd = open(kWatchdog, O_WRONLY);
  int copy = dup(fd);
  close(fd);
  EXPECT_EQ(1, sim::Board::instance().OpenCount(kWatchdog));
  EXPECT_EQ(4, write(copy, "PING", 4));
  close(copy);
  EXPECT_EQ(0, sim::Board::instance().OpenCount(kWatchdog));
  EXPECT_THAT(Texts(kWatchdog), ElementsAre("PING"));
}

TEST_F(BoardTest, InjectedEventIsWhatTheDaemonReads) {
  int fd = Keep(open(kProbe, O_RDWR | O_NONBLOCK));
  char buf[64];
  EXPECT_EQ(-1, read(fd, buf, sizeof buf));
  EXPECT_EQ(EAGAIN, errno);
  std::string reply;
  ASSERT_TRUE(sim::Board::instance().Inject(kProbe, {"tone-5"}, &reply));
  EXPECT_EQ("sent 1", reply);
  ssize_t n = read(fd, buf, sizeof buf);
  ASSERT_EQ(6, n);
  EXPECT_EQ("tone-5", std::string(buf, n));
  EXPECT_FALSE(sim::Board::instance().Inject(kProbe, {}, &reply));
  EXPECT_FALSE(sim::Board::instance().Inject("/dev/none", {"x"}, &reply));
}

TEST_F(BoardTest, InjectedFaults) {
  sim::Board& b = sim::Board::instance();
  ASSERT_TRUE(b.FailOpen(kWatchdog, EACCES));
  errno = 0;
  EXPECT_EQ(-1, open(kWatchdog, O_WRONLY));
  EXPECT_EQ(EACCES, errno);
  ASSERT_TRUE(b.FailOpen(kWatchdog, 0));
  int fd = Keep(open(kWatchdog, O_WRONLY));
  ASSERT_GE(fd, 0);

  ASSERT_TRUE(b.FailIo(kWatchdog, true, EIO, 2));
  int other[2];
  ASSERT_EQ(0, pipe(other));
  Keep(other[0]);
  Keep(other[1]);
  EXPECT_EQ(1, write(other[1], "x", 1)) << "a fault belongs to its device only";
  for (int i = 0; i < 2; ++i) {
    errno = 0;
    EXPECT_EQ(-1, write(fd, "PING", 4));
    EXPECT_EQ(EIO, errno);
  }
  EXPECT_EQ(4, write(fd, "PING", 4));
  EXPECT_THAT(Texts(kWatchdog), ElementsAre("PING"));

  int probe = Keep(open(kProbe, O_RDWR | O_NONBLOCK));
  ASSERT_TRUE(b.FailIo(kProbe, false, ENXIO, 1));
  char buf[8];
  EXPECT_EQ(-1, read(probe, buf, sizeof buf));
  EXPECT_EQ(ENXIO, errno);
  EXPECT_EQ(-1, read(probe, buf, sizeof buf));
  EXPECT_EQ(EAGAIN, errno);

  EXPECT_FALSE(b.FailOpen("/dev/none", EIO));
  EXPECT_FALSE(b.FailIo("/dev/none", true, EIO, 1));
}

TEST_F(BoardTest, WaitJournalSeesWritesOfAnotherThread) {
  int fd = Keep(open(kWatchdog, O_WRONLY));
  std::thread writer([fd] {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(4, write(fd, "PING", 4));
  });
  EXPECT_TRUE(sim::Board::instance().WaitJournal(kWatchdog, "PING", 3, 10s));
  writer.join();
  EXPECT_FALSE(sim::Board::instance().WaitJournal(kWatchdog, "PING", 4, 50ms));
}

TEST_F(BoardTest, JournalEscapesBytesThatAreNotPrintable) {
  int fd = Keep(open(kWatchdog, O_WRONLY));
  ASSERT_EQ(4, write(fd, "A\n\\\xff", 4));
  EXPECT_THAT(Texts(kWatchdog), ElementsAre("A\\x0A\\x5C\\xFF"));
}

// The exit status of a child, or -1 (the child killed) when it still runs
// after a generous bound: a child that deadlocked fails the test instead of
// hanging it.
int ChildStatus(pid_t pid) {
  const auto until = std::chrono::steady_clock::now() + 20s;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= until) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(5ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Writes text on a new descriptor of the watchdog and waits until the board
// thread journaled it.
bool Echoed(const char* text) {
  int fd = open(kWatchdog, O_WRONLY);
  bool ok = fd >= 0 && write(fd, text, strlen(text)) == ssize_t(strlen(text)) &&
            sim::Board::instance().WaitJournal(kWatchdog, text, 1, 20s);
  if (fd >= 0) close(fd);
  return ok;
}

// The control protocol, as velmard-sim serves it to black-box tests.
class ControlTest : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    char dir[] = "/tmp/velmard-sim-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    path_ = dir_ + "/control";
    ASSERT_TRUE(sim::Board::instance().ServeControl(path_));
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path_.c_str());
    ASSERT_EQ(0, connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  }
  void TearDown() override {
    close(fd_);
    unlink(path_.c_str());
    rmdir(dir_.c_str());
    BoardTest::TearDown();
  }
  // Sends one line and returns the answer up to its "ok" or "error" line.
  std::string Ask(const std::string& line) {
    std::string out = line + "\n";
    EXPECT_EQ(ssize_t(out.size()), send(fd_, out.data(), out.size(), MSG_NOSIGNAL));
    return Answer();
  }
  // One answer: data lines up to and including the "ok" or "error" line.
  std::string Answer() {
    const auto until = std::chrono::steady_clock::now() + 20s;
    for (;;) {
      size_t start = 0, eol;
      while ((eol = pending_.find('\n', start)) != std::string::npos) {
        std::string l = pending_.substr(start, eol - start);
        if (l == "ok" || l.rfind("error", 0) == 0) {
          std::string answer = pending_.substr(0, eol + 1);
          pending_.erase(0, eol + 1);
          return answer;
        }
        start = eol + 1;
      }
      if (std::chrono::steady_clock::now() >= until) return pending_ + "<no answer>";
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) continue;
      char buf[4096];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return pending_ + "<closed>";
      pending_.append(buf, n);
    }
  }
  std::string pending_;
  std::string dir_, path_;
  int fd_ = -1;
};

TEST_F(ControlTest, Commands) {
  int fd = Keep(open(kWatchdog, O_WRONLY));
  Keep(open(kWatchdog, O_RDWR | O_NONBLOCK | O_CLOEXEC));
  Keep(open(kWatchdog, O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(5, write(fd, "START", 5));
  EXPECT_THAT(Ask("devices"), HasSubstr("device /dev/misc/gw-wd\n"));
  EXPECT_THAT(Ask("opened /dev/misc/gw-wd"), ::testing::StrEq("opened 3\nok\n"));
  EXPECT_EQ("open O_WRONLY\nopen O_RDWR|O_NONBLOCK|O_CLOEXEC\nopen O_RDONLY|O_CLOEXEC\nok\n",
            Ask("opens /dev/misc/gw-wd"));
  EXPECT_THAT(Ask("journal /dev/misc/gw-wd"), ::testing::MatchesRegex("entry [0-9]+ START\nok\n"));
  EXPECT_EQ("ok\n", Ask("wait /dev/misc/gw-wd START 1 5000"));
  EXPECT_EQ("error timeout\n", Ask("wait /dev/misc/gw-wd PING 1 10"));
  EXPECT_EQ("ok\n", Ask("clear /dev/misc/gw-wd"));
  EXPECT_EQ("ok\n", Ask("journal /dev/misc/gw-wd"));
  EXPECT_THAT(Ask("now"), ::testing::MatchesRegex("now [0-9]+\nok\n"));
  EXPECT_EQ("sent 0\nok\n", Ask(std::string("inject ") + kProbe + " x"));
}

TEST_F(ControlTest, WaitIsAnsweredWhenTheDaemonWrites) {
  int fd = Keep(open(kWatchdog, O_WRONLY));
  std::string line = "wait /dev/misc/gw-wd STOP 1 20000\n";
  ASSERT_EQ(ssize_t(line.size()), send(fd_, line.data(), line.size(), MSG_NOSIGNAL));
  pollfd p{fd_, POLLIN, 0};
  EXPECT_EQ(0, poll(&p, 1, 50)) << "answered before the write";
  ASSERT_EQ(4, write(fd, "STOP", 4));
  // A command sent behind the wait is answered after it, in order.
  EXPECT_EQ("ok\n", Ask("opened /dev/misc/gw-wd"));
  EXPECT_EQ("opened 1\nok\n", Answer());
}

// daemon(3) forks right after start-up, when the board thread has only just
// been created and is still inside the C and sanitizer run-time (which
// allocate under locks no fork handler releases). Every round makes a
// process whose thread starts that very moment and forks it: both sides
// must go on using their board, and the parent's thread must serve again.
TEST_F(BoardTest, ForkRightAfterTheBoardThreadStarts) {
  for (int round = 0; round < 20; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // No board thread in here until this open starts one.
      const int fd = open(kWatchdog, O_WRONLY);
      pid_t grandchild = fork();
      if (grandchild == 0) _exit(Echoed("GRANDCHILD") ? 0 : 1);
      bool ok = fd >= 0 && Echoed("CHILD");
      _exit(ok && grandchild > 0 && ChildStatus(grandchild) == 0 ? 0 : 1);
    }
    ASSERT_EQ(0, ChildStatus(child)) << "round " << round;
  }
  int fd = Keep(open(kWatchdog, O_WRONLY));
  ASSERT_EQ(6, write(fd, "PARENT", 6));
  EXPECT_TRUE(sim::Board::instance().WaitJournal(kWatchdog, "PARENT", 1, 20s));
}

TEST_F(ControlTest, FaultsThroughTheSocket) {
  EXPECT_EQ("ok\n", Ask("fail-open /dev/misc/gw-wd ENOENT"));
  errno = 0;
  EXPECT_EQ(-1, open(kWatchdog, O_WRONLY));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ("ok\n", Ask("fail-open /dev/misc/gw-wd 0"));
  int fd = Keep(open(kWatchdog, O_WRONLY));
  EXPECT_EQ("ok\n", Ask("fail-write /dev/misc/gw-wd EIO 1"));
  EXPECT_EQ(-1, write(fd, "PING", 4));
  EXPECT_EQ(EIO, errno);
  EXPECT_EQ(4, write(fd, "PING", 4));
  EXPECT_EQ("ok\n", Ask("reset"));
}

TEST_F(ControlTest, BadCommandsAreAnsweredWithAnError) {
  const char* bad[] = {
      "",
      "frobnicate",
      "journal",
      "journal /dev/none",
      "fail-open /dev/misc/gw-wd EWHAT",
      "fail-write /dev/misc/gw-wd EIO -1",
      "fail-write /dev/misc/gw-wd EIO",
      "wait /dev/misc/gw-wd PING",
      "wait /dev/misc/gw-wd PING x 10",
      "wait /dev/none PING 1 10",
      "inject /dev/misc/gw-wd x",
  };
  for (const char* line : bad) {
    std::string answer = Ask(line);
    EXPECT_EQ(0u, answer.rfind("error ", 0)) << line << " -> " << answer;
    EXPECT_EQ('\n', answer.back()) << line;
  }
  // One answer: the clock may gain a digit between two.
  const std::string now = Ask("now");
  EXPECT_EQ("ok\n", now.substr(now.find('\n') + 1)) << "the connection survives";
}

}  // namespace
