#include "core/childwait.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <vector>

#include "core/ipc.h"
#include "core/timer.h"
#include "tests/stream_capture.h"

namespace {

// Each test gets a freshly activated watcher and leaves none behind, so
// the loop has nothing attached afterwards and SIGCHLD is back to default.
class ChildWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ChildWait::Cleanup();
    ChildWait::Initialize();
    ChildWait::Activate();
    ASSERT_NE(nullptr, ChildWaitService::childWaitService);
    ASSERT_TRUE(ChildWaitService::childWaitService->writeEnd);
  }
  void TearDown() override {
    ChildWait::Cleanup();
    IPC::Signal::system(SIGCHLD);
    ChildWait::Initialize();
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // Runs the loop until `done` says so or 5 s pass.
  template <class Done>
  void RunUntil(Done done) {
    struct Watch {
      void OnDpc() {
        if ((*check)()) {
          multiplexer.terminate();
          dpc.Deactivate();
        }
      }
      void OnTimeout() {
        timedOut = true;
        multiplexer.terminate();
        wake.set(1, &Watch::OnWake, this);
      }
      void OnWake() {}
      std::function<bool()>* check;
      Dpc dpc;
      Timer timeout;
      Timer wake;
      bool timedOut = false;
    } watch;
    std::function<bool()> check = done;
    watch.check = &check;
    watch.dpc.Bind(&watch, &Watch::OnDpc);
    watch.dpc.Activate();
    watch.timeout.set(5000, &Watch::OnTimeout, &watch);
    {
      Capture logStream(std::clog);
      multiplexer.run(false, true);
      log = logStream.lines();
    }
    EXPECT_FALSE(watch.timedOut) << log;
  }

  static pid_t Spawn(int code) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(code);
    return pid;
  }

  // Waits (at most 5 s) until the SIGCHLD handler has reaped the child,
  // which it does only once the child's record is queued: a child spawned
  // afterwards has its record behind that one.
  static bool WaitReaped(pid_t pid) {
    for (int i = 0; i < 5000; ++i) {
      if (::kill(pid, 0) < 0 && errno == ESRCH) return true;
      ::usleep(1000);
    }
    return false;
  }

  std::string log;
};

struct Child {
  void OnExit(int s) {
    status = s;
    ++calls;
  }
  ChildWait wait;
  int status = -1;
  int calls = 0;
};

}  // namespace

TEST_F(ChildWaitTest, HandlerGetsTheRawWaitStatusInTheLoop) {
  Child exited, killed;
  exited.wait.Bind(&exited, &Child::OnExit);
  killed.wait.Bind(&killed, &Child::OnExit);
  pid_t pid = Spawn(7);
  ASSERT_GT(pid, 0);
  exited.wait.Attach(pid);
  EXPECT_TRUE(exited.wait.listed());
  pid_t victim = ::fork();
  if (victim == 0) {
    ::pause();
    ::_exit(0);
  }
  killed.wait.Attach(victim);
  ::kill(victim, SIGKILL);
  RunUntil([&] { return exited.calls > 0 && killed.calls > 0; });
  ASSERT_EQ(1, exited.calls);
  EXPECT_TRUE(WIFEXITED(exited.status));
  EXPECT_EQ(7, WEXITSTATUS(exited.status));
  EXPECT_FALSE(exited.wait.listed());
  // Whole lines on the log stream, in the order the children were reaped.
  auto line = [](pid_t p, int status) {
    return "terminate child process, pid=" + std::to_string(p) +
           " status=" + std::to_string(status) + "\n";
  };
  std::string one = line(pid, exited.status), other = line(victim, killed.status);
  EXPECT_TRUE(log == one + other || log == other + one) << log;
  EXPECT_TRUE(WIFSIGNALED(killed.status));
  EXPECT_EQ(SIGKILL, WTERMSIG(killed.status));
}

// The exit queue holds only a few records (net.unix.max_dgram_qlen is often
// 10, and a tiny send buffer holds fewer): children whose records do not fit
// wait as zombies until the loop has read the queue, and none is lost.
TEST_F(ChildWaitTest, BurstOfThirtyChildren) {
  const int kChildren = 30;
  struct {
    int sendBuffer;  // 0: the system's default
    int firstCode;
  } rows[] = {{0, 1}, {1, 100}};
  for (const auto& r : rows) {
    if (r.sendBuffer)
      ::setsockopt(ChildWaitService::childWaitService->writeEnd.get(), SOL_SOCKET, SO_SNDBUF,
                   &r.sendBuffer, sizeof r.sendBuffer);
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < kChildren; ++i) {
      children.emplace_back(new Child);
      children.back()->wait.Bind(children.back().get(), &Child::OnExit);
      pid_t pid = Spawn(r.firstCode + i);
      ASSERT_GT(pid, 0);
      children.back()->wait.Attach(pid);
    }
    auto served = [&] {
      int n = 0;
      for (auto& c : children) n += c->calls;
      return n;
    };
    RunUntil([&] { return served() == kChildren; });
    ASSERT_EQ(kChildren, served()) << "send buffer " << r.sendBuffer;
    for (int i = 0; i < kChildren; ++i) {
      EXPECT_EQ(1, children[i]->calls) << i;
      EXPECT_TRUE(WIFEXITED(children[i]->status));
      EXPECT_EQ(r.firstCode + i, WEXITSTATUS(children[i]->status));
    }
    EXPECT_EQ(-1, ::waitpid(-1, nullptr, WNOHANG));  // every child reaped
    EXPECT_EQ(ECHILD, errno);
  }
}

TEST_F(ChildWaitTest, TwoRegistrationsForOnePidOnlyTheFirstIsCalled) {
  Child first, second;
  first.wait.Bind(&first, &Child::OnExit);
  second.wait.Bind(&second, &Child::OnExit);
  pid_t pid = Spawn(0);
  first.wait.Attach(pid);
  second.wait.Attach(pid);
  RunUntil([&] { return first.calls > 0; });
  EXPECT_EQ(1, first.calls);
  EXPECT_EQ(0, second.calls);
  EXPECT_TRUE(second.wait.listed());
  // The end of the watcher takes every registration off its list.
  ChildWait::Cleanup();
  EXPECT_FALSE(second.wait.listed());
}

TEST_F(ChildWaitTest, HandlerMayDestroyItsOwnRegistration) {
  struct SelfDestruct {
    void OnExit(int) {
      wait.reset();
      ++calls;
    }
    std::unique_ptr<ChildWait> wait{new ChildWait};
    int calls = 0;
  } s;
  s.wait->Bind(&s, &SelfDestruct::OnExit);
  s.wait->Attach(Spawn(0));
  RunUntil([&] { return s.calls > 0; });
  EXPECT_EQ(1, s.calls);
  EXPECT_EQ(nullptr, s.wait);
}

TEST_F(ChildWaitTest, RebindingReplacesTheHandlerAndUnusedRegistrationsAreHarmless) {
  {
    ChildWait never;  // neither bound nor attached
    never.Detach();
  }
  Child a, b;
  ChildWait w;
  w.Bind(&a, &Child::OnExit);
  w.Bind(&b, &Child::OnExit);
  w.Attach(Spawn(9));
  RunUntil([&] { return b.calls > 0; });
  EXPECT_EQ(0, a.calls);
  EXPECT_EQ(1, b.calls);
  EXPECT_EQ(9, WEXITSTATUS(b.status));
}

// A child whose registration went before it ended, or came after, is only
// logged.
TEST_F(ChildWaitTest, UnregisteredChildIsOnlyLogged) {
  Child detached, late, marker;
  detached.wait.Bind(&detached, &Child::OnExit);
  late.wait.Bind(&late, &Child::OnExit);
  marker.wait.Bind(&marker, &Child::OnExit);
  pid_t first = Spawn(1);
  detached.wait.Attach(first);
  detached.wait.Detach();
  EXPECT_FALSE(detached.wait.listed());
  pid_t second = Spawn(3);
  ASSERT_TRUE(WaitReaped(first));
  ASSERT_TRUE(WaitReaped(second));
  marker.wait.Attach(Spawn(2));
  RunUntil([&] { return marker.calls > 0; });
  for (pid_t pid : {first, second})
    EXPECT_NE(std::string::npos,
              log.find("terminate child process, pid=" + std::to_string(pid) +
                       " status=" + std::to_string(pid == first ? 256 : 768) + "\n"));
  late.wait.Attach(second);  // too late: its record has gone by
  EXPECT_EQ(0, detached.calls);
  EXPECT_EQ(0, late.calls);
}
