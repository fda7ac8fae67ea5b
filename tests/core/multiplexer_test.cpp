#include "core/multiplexer.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "core/ipc.h"
#include "core/timer.h"
#include "tests/descriptor_check.h"
#include "tests/private_mounts.h"

namespace {

// A pipe whose read end an Event can poll.
struct Pipe {
  Pipe() {
    int p[2];
    EXPECT_EQ(0, ::pipe2(p, O_CLOEXEC | O_NONBLOCK));
    rd.reset(p[0]);
    wr.reset(p[1]);
  }
  void fill() { ASSERT_EQ(1, ::write(wr.get(), "x", 1)); }
  Fd rd;
  Fd wr;
};

// Stops the loop after `ms`; a short timer left behind wakes the poll that
// follows the stop, and dies with the Stopper.
struct Stopper {
  explicit Stopper(unsigned ms) { stop.set(ms, &Stopper::OnStop, this); }
  void OnStop() {
    multiplexer.terminate();
    wake.set(1, &Stopper::OnWake, this);
  }
  void OnWake() {}
  Timer stop;
  Timer wake;
};

// Records every call of its event with the events it got.
struct Probe {
  Probe(std::vector<std::string>* log, const std::string& name) : log(log), tag(name) {
    ev.Bind(name, &Probe::OnEvent, this);
  }
  void OnEvent(int, short revents) {
    log->push_back(tag + ":" + std::to_string(revents));
    if (action) action();
  }
  std::vector<std::string>* log;
  std::string tag;
  Event ev;
  std::function<void()> action;
};

// Probes named by the letters given, each polling its own pipe for
// POLLIN, attached in that order; rig['a'] is probe a.
struct Rig {
  explicit Rig(const std::string& letters) {
    for (char n : letters) add(n);
  }
  void add(char n) {
    names += n;
    pipes.emplace_back();
    probes.emplace_back(&log, std::string(1, n));
    probes.back().ev.Schedule(pipes.back().rd, POLLIN);
  }
  size_t index(char n) const { return names.find(n); }
  Probe& operator[](char n) { return probes[index(n)]; }
  // Makes the pipes of the probes named ready.
  void fill(const std::string& names) {
    for (char n : names) pipes[index(n)].fill();
  }
  // Runs the loop until probe n has been called.
  void runUntil(char n) {
    (*this)[n].action = [] { multiplexer.terminate(); };
    multiplexer.run(false, true);
  }
  std::string names;
  std::vector<std::string> log;
  std::deque<Pipe> pipes;
  std::deque<Probe> probes;
};

const std::string kIn = std::to_string(POLLIN);

// A handler the loop keeps but polls no descriptor for.
struct Unpolled : EventHandler {
  void shedule_event(pollfd& p) override { p.fd = -1; }
  void svc_event(short) override {}
};

class MultiplexerTest : public ::testing::Test {
 protected:
  void TearDown() override { Mux::g_tv_time = Mux::timeval(); }
};

}  // namespace

// ------------------------------------------------------------------ Fd

TEST(Fd, CopyTakesADuplicateThatClosesOnExec) {
  Pipe p;
  Fd copy(p.rd);
  ASSERT_GE(copy.get(), 0);
  EXPECT_NE(copy.get(), p.rd.get());
  EXPECT_TRUE(::fcntl(copy.get(), F_GETFD) & FD_CLOEXEC);
  Fd assigned;
  assigned = copy;
  EXPECT_GE(assigned.get(), 0);
  EXPECT_NE(assigned.get(), copy.get());
  // A held descriptor is closed when another takes its place (the
  // environment below counts them).
  assigned = copy;
  assigned = Fd(copy);
  assigned.reset(copy.dup());
}

TEST(Fd, EmptyObjectCloseAndDestructorClose) {
  Fd empty;
  EXPECT_FALSE(empty);
  EXPECT_EQ(-1, empty.dup());
  errno = 0;
  EXPECT_EQ(-1, empty.close());
  EXPECT_EQ(EBADF, errno);
  EXPECT_FALSE(empty.NonBlock());
  Fd copy(empty);
  EXPECT_EQ(-1, copy.get());

  int raw;
  {
    Pipe p;
    raw = p.rd.get();
    EXPECT_EQ(0, p.rd.close());
    EXPECT_EQ(-1, p.rd.get());
    EXPECT_EQ(-1, ::fcntl(raw, F_GETFD));
    raw = p.wr.get();
  }
  EXPECT_EQ(-1, ::fcntl(raw, F_GETFD));

  // Descriptor 0 is owned and closed like any other (services open their
  // devices once the daemon has closed standard input).
  int saved = ::dup(0);
  std::function<void()> const drops[] = {[] { Fd(0).reset(); }, [] { Fd zero(0); }};
  for (auto const& drop : drops) {
    ::dup2(saved, 0);
    drop();
    EXPECT_EQ(-1, ::fcntl(0, F_GETFD));
  }
  ::dup2(saved, 0);
  ::close(saved);
}

// ---------------------------------------------------------------- lists

namespace {
struct Node : F_dual_list_item<Node> {
  explicit Node(int k = 0, int id = 0) : key(k), id(id) {}
  int compare(const Node* o) const { return key - o->key; }
  int key;
  int id;
};

std::vector<int> Ids(const F_dual_list<Node>& l) {
  std::vector<int> ids;
  for (const Node& n : l) ids.push_back(n.id);
  return ids;
}
}  // namespace

TEST(DualList, InsertRemoveAndMerge) {
  Node a(0, 1), b(0, 2), c(0, 3), d(0, 4);
  F_dual_list<Node> l;
  l.push_back(&a);
  l.insert_to_tail(&c);
  l.insert_after(&a, &b);
  l.insert_to_head(&d);
  EXPECT_EQ((std::vector<int>{4, 1, 2, 3}), Ids(l));
  EXPECT_EQ(4u, l.size());
  l.remove(&d);
  l.remove(&c);
  EXPECT_EQ((std::vector<int>{1, 2}), Ids(l));
  EXPECT_EQ(&b, l.tail);
  EXPECT_EQ(&a, l.remove_from_head());
  EXPECT_EQ(&b, l.remove_from_head());
  EXPECT_EQ(nullptr, l.remove_from_head());
  EXPECT_TRUE(l.empty());

  F_dual_list<Node> other;
  other.push_back(&c);
  l.merge(other);
  EXPECT_EQ((std::vector<int>{3}), Ids(l));
  EXPECT_TRUE(other.empty());
}

TEST(SortedList, InsertsByKeyEqualKeysFirstInFirstOut) {
  Node n1(5, 1), n2(3, 2), n3(5, 3), n4(1, 4), n5(9, 5);
  F_sorted_list<Node> l;
  for (Node* n : {&n1, &n2, &n3, &n4, &n5}) l.insert_to_tail_by_grown(n);
  EXPECT_EQ((std::vector<int>{4, 2, 1, 3, 5}), Ids(l));
  EXPECT_EQ(5u, l.count());
}

// -------------------------------------------------------------- Measure

TEST(Measure, FirstSampleSetsAllThenMinMaxLast) {
  Mux::timeval t;
  t.tv_sec = 1000;
  Mux::g_tv_time = t;
  Measure m;
  m.begin();
  Mux::g_tv_time.tv_usec = 30;
  EXPECT_EQ(30u, m.end());
  m.begin();
  Mux::g_tv_time.tv_usec = 40;
  m.end();
  m.begin();
  Mux::g_tv_time.tv_usec = 90;
  m.end();
  Mux::g_tv_time = Mux::timeval();
  std::ostringstream out;
  out << m;
  EXPECT_EQ("min=10 max=50 avg=50 counter=3", out.str());
  std::ostringstream fresh;
  fresh << Measure();
  EXPECT_EQ("min=0 max=0 avg=0 counter=0", fresh.str());
}

TEST(PollEventAsText, NamesJoinedByBars) {
  EXPECT_EQ("POLLIN|POLLOUT", PollEventAsText(POLLIN | POLLOUT));
  EXPECT_EQ("", PollEventAsText(0));
  EXPECT_EQ("POLLERR|POLLHUP|POLLNVAL", PollEventAsText(POLLHUP | POLLNVAL | POLLERR));
  EXPECT_EQ("POLLPRI|POLLMSG", PollEventAsText(POLLMSG | POLLPRI));
}

// ---------------------------------------------------------------- Event

TEST_F(MultiplexerTest, EventPollsItsOwnDuplicate) {
  Pipe p;
  std::vector<std::string> log;
  Probe probe(&log, "probe");
  probe.ev.Schedule(p.rd, POLLIN);
  EXPECT_TRUE(multiplexer.event_exists(&probe.ev));
  EXPECT_NE(probe.ev.fd.get(), p.rd.get());
  p.rd.close();  // the caller's copy goes; the event still polls its own

  p.fill();
  probe.action = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ((std::vector<std::string>{"probe:" + std::to_string(POLLIN)}), log);
  EXPECT_EQ(1u, probe.ev.count);

  probe.ev.Release();
  EXPECT_FALSE(multiplexer.event_exists(&probe.ev));
  EXPECT_EQ(-1, probe.ev.fd.get());
}

// Handlers run in attach order, each with its own events; a reschedule on
// its own descriptor moves a handler to the tail, and one with an empty
// mask is called but never counted.
TEST_F(MultiplexerTest, EveryHandlerIsCalledInAttachOrderWithItsOwnEvents) {
  struct {
    short reschedule;  // the new mask of a; -1: none
    const char* fill;
    char until;
    std::vector<std::string> log;
    unsigned countA, countB;
  } const rows[] = {
      {-1, "b", 'b', {"a:0", "b:" + kIn}, 0, 1},
      {0, "ab", 'a', {"b:" + kIn, "a:0"}, 0, 1},
      {POLLIN | POLLPRI, "a", 'a', {"b:0", "a:" + kIn}, 1, 0},
  };
  for (const auto& r : rows) {
    Rig rig("ab");
    if (r.reschedule >= 0) rig['a'].ev.Schedule(rig['a'].ev.fd, r.reschedule);
    rig.fill(r.fill);
    rig.runUntil(r.until);
    EXPECT_EQ(r.log, rig.log) << "mask " << r.reschedule;
    EXPECT_EQ(r.countA, rig['a'].ev.count) << "mask " << r.reschedule;
    EXPECT_EQ(r.countB, rig['b'].ev.count) << "mask " << r.reschedule;
  }
}

TEST_F(MultiplexerTest, TimedOutPassCallsNoHandler) {
  Rig rig("a");
  Stopper stop(20);
  multiplexer.run(false, true);
  EXPECT_TRUE(rig.log.empty());
}

TEST_F(MultiplexerTest, HandlerDetachingItselfAndAnother) {
  Rig rig("abc");
  rig.fill("abc");
  rig['a'].action = [&] {
    rig['a'].ev.Release();
    rig['b'].ev.Release();
  };
  ::testing::internal::CaptureStderr();
  rig.runUntil('c');
  EXPECT_EQ("Mux: terminating...\n", ::testing::internal::GetCapturedStderr());
  EXPECT_EQ((std::vector<std::string>{"a:" + kIn, "c:" + kIn}), rig.log);
  EXPECT_FALSE(multiplexer.event_exists(&rig['a'].ev));
  EXPECT_FALSE(multiplexer.event_exists(&rig['b'].ev));
  EXPECT_TRUE(multiplexer.event_exists(&rig['c'].ev));
}

TEST_F(MultiplexerTest, HandlerDestroyingItself) {
  Rig rig("");
  Pipe p;
  auto a = std::make_unique<Probe>(&rig.log, "a");
  a->ev.Schedule(p.rd, POLLIN);
  rig.add('b');
  p.fill();
  a->action = [&] { a.reset(); };
  ::testing::internal::CaptureStderr();
  rig.runUntil('b');
  EXPECT_EQ("Mux: terminating...\n", ::testing::internal::GetCapturedStderr());
  EXPECT_EQ((std::vector<std::string>{"a:" + kIn, "b:0"}), rig.log);
}

TEST_F(MultiplexerTest, HandlerAttachedDuringDispatchIsPolledFromTheNextPassAtTheTail) {
  Rig rig("abc");
  rig['c'].ev.Release();
  rig.fill("ac");
  int passes = 0;
  rig['a'].action = [&] {
    if (passes++ == 0) rig['c'].ev.Schedule(rig.pipes[rig.index('c')].rd, POLLIN);
  };
  rig.runUntil('c');
  EXPECT_EQ((std::vector<std::string>{"a:" + kIn, "b:0", "a:" + kIn, "b:0", "c:" + kIn}), rig.log);
}

TEST_F(MultiplexerTest, StopDuringDispatchEndsItBeforeTheNextHandler) {
  Rig rig("abc");
  rig.fill("a");
  ::testing::internal::CaptureStderr();
  rig.runUntil('b');
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ((std::vector<std::string>{"a:" + kIn, "b:0"}), rig.log);
  for (Probe& p : rig.probes) EXPECT_TRUE(multiplexer.event_exists(&p.ev));

  // Every handler is still polled, in the original order, on later runs.
  rig['b'].action = nullptr;
  for (int run = 0; run < 2; ++run) {
    rig.log.clear();
    rig.runUntil('c');
    EXPECT_EQ((std::vector<std::string>{"a:" + kIn, "b:0", "c:0"}), rig.log) << run;
  }
}

// The second deferred-call run of a pass comes after the poll set was
// built; what it detaches, deletes or attaches must not shift the poll
// results onto other handlers.
TEST_F(MultiplexerTest, PollResultsReachTheirOwnHandlerAfterTheDeferredCallsChangeTheSet) {
  struct Meddler {
    void OnDpc() {
      if (++calls < 2) return;  // the run just before the first poll
      change();
      dpc.Deactivate();
    }
    int calls = 0;
    std::function<void()> change;
    Dpc dpc;
  };
  for (bool destroy : {false, true}) {
    Rig rig("");
    Pipe px;
    auto x = std::make_unique<Probe>(&rig.log, "x");
    x->ev.Schedule(px.rd, POLLIN);
    rig.add('b');
    rig.add('c');
    rig['c'].ev.Release();  // attached by the deferred call
    rig.fill("b");

    Meddler meddler;
    meddler.change = [&] {
      if (destroy)
        x.reset();
      else
        x->ev.Release();
      rig['c'].ev.Schedule(rig.pipes[rig.index('c')].rd, POLLIN);
    };
    meddler.dpc.Bind(&meddler, &Meddler::OnDpc);
    meddler.dpc.Activate();
    rig.runUntil('c');
    EXPECT_EQ((std::vector<std::string>{"b:" + kIn, "b:" + kIn, "c:0"}), rig.log)
        << (destroy ? "deleted" : "detached");
  }
}

TEST_F(MultiplexerTest, DuplicateAttachIsReportedAndIgnored) {
  Pipe p;
  std::vector<std::string> log;
  Probe a(&log, "dup probe");
  a.ev.Schedule(p.rd, POLLIN);
  ::testing::internal::CaptureStderr();
  multiplexer.attach(&a.ev);
  EXPECT_EQ("duplicate multiplexer attach \"dup probe\" ignored.\n",
            ::testing::internal::GetCapturedStderr());
  a.ev.Release();
  EXPECT_FALSE(multiplexer.event_exists(&a.ev));
}

TEST_F(MultiplexerTest, DestroyedHandlerLeavesTheLoop) {
  auto h = std::make_unique<Unpolled>();
  Unpolled* raw = h.get();
  multiplexer.attach(raw);
  EXPECT_TRUE(raw->attached);
  EXPECT_TRUE(multiplexer.event_exists(raw));
  ::testing::internal::CaptureStderr();
  h.reset();
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  EXPECT_FALSE(multiplexer.event_exists(raw));
}

TEST_F(MultiplexerTest, DetachOfAnUnknownHandlerIsReported) {
  Event e;
  e.name = "stranger";
  ::testing::internal::CaptureStderr();
  multiplexer.detach(&e);
  EXPECT_EQ("indvalid Multiplexer::detach stranger\n", ::testing::internal::GetCapturedStderr());
}

namespace {
void StopOnAlarm(int) {
  multiplexer.terminate();
}
}  // namespace

// A timer already due when the wait is computed means a wait of 0 ms, not
// "no deadline": armed by the deferred-call run after the due timers
// (call 1) or by the one just before the poll (call 2), it fires at once
// although the only descriptor stays idle. An alarm ends a loop that would
// wait for ever.
TEST_F(MultiplexerTest, TimerArmedByADeferredCallDoesNotWaitForADescriptor) {
  for (int armingCall : {1, 2}) {
    struct Arming {
      void OnDpc() {
        if (++calls != armingCall) return;
        timer.set(0, &Arming::Fire, this);
        dpc.Deactivate();
      }
      void Fire() {
        fired = true;
        multiplexer.terminate();
      }
      int armingCall;
      int calls = 0;
      bool fired = false;
      Timer timer;
      Dpc dpc;
    } arming;
    arming.armingCall = armingCall;
    arming.dpc.Bind(&arming, &Arming::OnDpc);
    arming.dpc.Activate();
    Pipe idle;
    std::vector<std::string> log;
    Probe probe(&log, "idle");
    probe.ev.Schedule(idle.rd, POLLIN);

    ASSERT_EQ(0, IPC::Signal::handle(SIGALRM, StopOnAlarm, 0));
    ::alarm(5);
    multiplexer.run(false, true);
    ::alarm(0);
    IPC::Signal::system(SIGALRM);
    EXPECT_TRUE(arming.fired) << "armed by call " << armingCall;
    EXPECT_TRUE(log.empty());
  }
}

// Static objects of other units detach, cancel and deactivate through the
// loop from their exit handlers, in whatever order those run: the loop has
// nothing to destroy, so it outlives them all.
TEST(MultiplexerLifetimeDeathTest, ServesTheExitHandlersOfOtherUnits) {
  static_assert(std::is_trivially_destructible<Multiplexer>::value,
                "the loop must not be destroyed at exit");
  EXPECT_EXIT(
      {
        struct Unit {
          void On(int, short) {}
          void OnTimer() {}
          void OnDpc() {}
          Pipe pipe;
          Event ev;
          Timer timer;
          Dpc dpc;
        };
        static Unit unit;
        unit.ev.Bind("Unit::On", &Unit::On, &unit);
        unit.ev.Schedule(unit.pipe.rd, POLLIN);
        unit.timer.set(60000, &Unit::OnTimer, &unit);
        unit.dpc.Bind(&unit, &Unit::OnDpc);
        unit.dpc.Activate();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// Without any handler the loop sleeps until the timer; a stop from the last
// timer, with nothing left to poll, is a stop and not a hang.
TEST_F(MultiplexerTest, StopFromTheLastTimerIsNoHang) {
  struct LastTimer {
    void OnStop() { multiplexer.terminate(); }
    Timer t;
  } last;
  uint32_t start = Mux::milliseconds();
  last.t.set(30, &LastTimer::OnStop, &last);
  multiplexer.run(false, true);
  EXPECT_GE(Mux::milliseconds() - start, 30u);
}

TEST_F(MultiplexerTest, MissingWatchdogDeviceIsReportedAndTheLoopRunsWithout) {
  if (::access("/dev/misc/gw-wd", F_OK) == 0) GTEST_SKIP() << "a watchdog device is present";
  Stopper stop(10);
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  multiplexer.run(true, true);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ("Mux: fail to open watchdog: No such file or directory\nMux: terminating...\n",
            ::testing::internal::GetCapturedStderr());
  ::testing::internal::CaptureStderr();
  multiplexer.resetWD();  // closed: nothing happens
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
}

namespace {

// Collapses runs of the same piece into one: how many pings a run makes
// depends on the machine's speed.
std::string Collapse(std::string text, const std::string& piece) {
  const std::string twice = piece + piece;
  for (size_t at; (at = text.find(twice)) != std::string::npos;) text.erase(at, piece.size());
  return text;
}

// Runs the loop with the watchdog for a few milliseconds in a child process
// that has a private /dev, whose watchdog device is a plain file; writes
// fail with EFBIG past `sizeLimit` bytes. Gives what the child wrote to
// standard error and the bytes the device got; false when no private mount
// namespace can be had here.
bool RunWithWatchdogFile(rlim_t sizeLimit, std::string* stderrText, std::string* device) {
  int out[2];
  if (::pipe(out) != 0) return false;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    if (::unshare(CLONE_NEWNS) != 0 || !testsupport::MakeMountsPrivate() ||
        ::mount("none", "/dev", "tmpfs", 0, nullptr) != 0 || ::mkdir("/dev/misc", 0755) != 0)
      ::_exit(77);
    int wd = ::open("/dev/misc/gw-wd", O_CREAT | O_WRONLY, 0644);
    if (wd < 0) ::_exit(77);
    ::close(wd);
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim;
    lim.rlim_cur = lim.rlim_max = sizeLimit;
    ::setrlimit(RLIMIT_FSIZE, &lim);
    ::dup2(out[1], STDERR_FILENO);
    {
      Stopper stop(10);
      multiplexer.run(true, true);
    }
    char bytes[256];
    int rd = ::open("/dev/misc/gw-wd", O_RDONLY);
    ssize_t n = rd < 0 ? 0 : ::read(rd, bytes, sizeof bytes);
    std::cerr << "device=" << std::string(bytes, n > 0 ? size_t(n) : 0) << std::flush;
    ::_exit(0);
  }
  ::close(out[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 77) return false;
  size_t at = text.rfind("device=");
  if (at == std::string::npos) return false;
  *stderrText = text.substr(0, at);
  *device = text.substr(at + 7);
  return true;
}

}  // namespace

TEST(MultiplexerWatchdog, StartPingStopAndTheirFailures) {
  const std::string tooLarge = std::strerror(EFBIG);
  struct {
    rlim_t sizeLimit;
    std::string stderrText;
    std::string device;
  } rows[] = {
      {RLIM_INFINITY, "Mux: terminating...\n", "STARTPINGSTOP"},
      // START cannot be written: the loop runs without the watchdog.
      {0, "Mux: fail to activate watchdog: " + tooLarge + "\nMux: terminating...\n", ""},
      // Room for START only: every ping and the stop fail, the loop goes on.
      {5,
       "Mux: ping watchdog failed: " + tooLarge + "\nMux: terminating...\n" +
           "Mux: stop watchdog failed: " + tooLarge + "\n",
       "START"},
  };
  for (const auto& r : rows) {
    std::string err, device;
    if (!RunWithWatchdogFile(r.sizeLimit, &err, &device))
      GTEST_SKIP() << "no private mount namespace";
    EXPECT_EQ(r.stderrText, Collapse(err, "Mux: ping watchdog failed: " + tooLarge + "\n"))
        << "limit " << r.sizeLimit;
    EXPECT_EQ(r.device, Collapse(device, "PING")) << "limit " << r.sizeLimit;
  }
}

TEST_F(MultiplexerTest, FrozenClockStillRuns) {
  Stopper stop(10);
  multiplexer.run(false, false);
  EXPECT_NE(0u, Mux::g_tv_time.tv_sec);
}

using MultiplexerDeathTest = MultiplexerTest;

TEST_F(MultiplexerDeathTest, NothingToWaitForIsAHang) {
  EXPECT_DEATH(
      {
        ::alarm(5);
        multiplexer.run(false, true);
      },
      "multiplexer: system hang detected!!!");
  // The deferred calls just before the poll release the last handler.
  EXPECT_DEATH(
      {
        ::alarm(5);
        struct Last {
          void OnDpc() {
            if (++calls == 2) ev.Release();
          }
          int calls = 0;
          Pipe pipe;
          Event ev;
          Dpc dpc;
        };
        static Last last;
        last.ev.Schedule(last.pipe.rd, POLLIN);
        last.dpc.Bind(&last, &Last::OnDpc);
        last.dpc.Activate();
        multiplexer.run(false, true);
      },
      "multiplexer: system hang detected!!!");
}

TEST_F(MultiplexerDeathTest, PollFailureAborts) {
  EXPECT_DEATH(
      {
        ::alarm(5);
        // poll rejects more records than the descriptor limit, even
        // records it would skip.
        static Unpolled handlers[65];
        for (Unpolled& h : handlers) h.mux_attach();
        rlimit lim;
        lim.rlim_cur = lim.rlim_max = 64;
        ::setrlimit(RLIMIT_NOFILE, &lim);
        multiplexer.run(false, true);
      },
      "multiplexer poll failed: Invalid argument");
}

// ------------------------------------------------------------------ dump

TEST_F(MultiplexerTest, DumpWritesTimingLinesAndTheTableOfPolledEvents) {
  Pipe p1, p2;
  Event named;
  struct Owner {
    void On(int, short) {}
  } owner;
  named.Bind("Test::OnSocketEvent", &Owner::On, &owner);
  named.Schedule(p1.rd, POLLIN | POLLOUT);
  Event unbound;
  unbound.name = "a name far longer than the forty characters of its column";
  unbound.Schedule(p2.rd, POLLIN);
  Unpolled nameless;  // polled, but left out of the table
  nameless.mux_attach();
  Stopper stop(5);  // one pass moves them all into the polled list
  multiplexer.run(false, true);

  std::ostringstream out;
  multiplexer.dump(out);
  std::string text = out.str();

  const char* heads[] = {"dpc transition measurement (min/max/cur/counter): min=",
                         "event transition measurement (min/max/cur/counter): min=",
                         "timer transition measurement (min/max/cur/counter): min="};
  size_t pos = 0;
  for (const char* h : heads) {
    ASSERT_EQ(0u, text.compare(pos, std::strlen(h), h)) << text;
    pos = text.find('\n', pos) + 1;
  }

  auto dashes = [](int n) { return std::string(n, '-'); };
  auto spaces = [](int n) { return std::string(n, ' '); };
  std::string rule = "+" + dashes(40) + "+" + dashes(30) + "+" + dashes(10) + "+" + dashes(10) +
                     "+" + dashes(5) + "+" + dashes(60) + "+\n";
  std::string header = "|" + spaces(18) + "name" + spaces(18) + "|" + spaces(12) + "events" +
                       spaces(12) + "|" + spaces(2) + "count" + spaces(3) + "|" + spaces(1) +
                       "handler" + spaces(2) + "|" + " fd  " + "|" + spaces(26) + "measure" +
                       spaces(27) + "|\n";
  auto fdCell = [](int fd) {
    std::string t = std::to_string(fd);
    int rest = 5 - int(t.size());
    return std::string(rest / 2, ' ') + t + std::string((rest + 1) / 2, ' ');
  };
  std::string measure = "min=0 max=0 avg=0 counter=0";  // 27 characters
  std::string row1 = "|" + spaces(10) + "Test::OnSocketEvent" + spaces(11) + "|" + spaces(8) +
                     "POLLIN|POLLOUT" + spaces(8) + "|" + spaces(4) + "0" + spaces(5) + "|" +
                     spaces(1) + "attached" + spaces(1) + "|" + fdCell(named.fd.get()) + "|" +
                     spaces(16) + measure + spaces(17) + "|\n";
  std::string row2 = "|a name far longer than the forty charact|" + spaces(12) + "POLLIN" +
                     spaces(12) + "|" + spaces(4) + "0" + spaces(5) + "|unattached|" +
                     fdCell(unbound.fd.get()) + "|" + spaces(16) + measure + spaces(17) + "|\n";
  std::string table = rule + header + rule + row1 + row2 + rule + "\n";
  ASSERT_GE(text.size(), table.size());
  EXPECT_EQ(table, text.substr(text.size() - table.size())) << text;
}
