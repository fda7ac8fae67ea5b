#include "core/timer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Freezes the loop's clock at a chosen millisecond and lets tests move it.
class FrozenClock : public ::testing::Test {
 protected:
  void SetUp() override { Set(uint64_t(1700000000) * 1000); }
  void TearDown() override { Mux::g_tv_time = Mux::timeval(); }

  static void Set(uint64_t ms) { Mux::timevalset(Mux::g_tv_time, ms); }
  static uint64_t Now() {
    return uint64_t(Mux::g_tv_time.tv_sec) * 1000 + Mux::g_tv_time.tv_usec / 1000;
  }
  static void Advance(int64_t ms) { Set(uint64_t(int64_t(Now()) + ms)); }
};

struct Recorder {
  explicit Recorder(std::vector<std::string>* log, std::string tag = "") : log(log), tag(tag) {}
  void Fire() { log->push_back(tag); }
  void FireWithTimer(Timer* t) {
    log->push_back(tag + (t == &timer ? ":own" : ":other"));
    if (rearm-- > 0) timer.set(10, &Recorder::FireWithTimer, this);
  }
  std::vector<std::string>* log;
  std::string tag;
  Timer timer;
  int rearm = 0;
};

}  // namespace

using TimerTest = FrozenClock;

TEST_F(TimerTest, FiresInExpiryOrderAndEqualExpiriesFirstInFirstOut) {
  std::vector<std::string> log;
  Recorder a(&log, "a"), b(&log, "b"), c(&log, "c"), d(&log, "d");
  a.timer.set(30, &Recorder::Fire, &a);
  b.timer.set(10, &Recorder::Fire, &b);
  c.timer.set(30, &Recorder::Fire, &c);
  d.timer.set(20, &Recorder::Fire, &d);
  EXPECT_EQ(4u, multiplexer.timers_count());

  EXPECT_EQ(10, multiplexer.timers_schedule());
  EXPECT_TRUE(log.empty());
  Advance(20);
  EXPECT_EQ(10, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"b", "d"}), log);
  EXPECT_FALSE(b.timer.pending());
  EXPECT_TRUE(a.timer.pending());
  Advance(10);
  EXPECT_EQ(-1, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"b", "d", "a", "c"}), log);
  EXPECT_EQ(0u, multiplexer.timers_count());
}

TEST_F(TimerTest, RearmingFromInsideTheCallKeepsTheNewEvent) {
  std::vector<std::string> log;
  Recorder r(&log, "r");
  r.rearm = 1;
  r.timer.set(10, &Recorder::FireWithTimer, &r);
  Advance(10);
  EXPECT_EQ(10, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"r:own"}), log);
  EXPECT_TRUE(r.timer.pending());
  Advance(10);
  EXPECT_EQ(-1, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"r:own", "r:own"}), log);
  EXPECT_FALSE(r.timer.pending());
}

// Rearming, reset and destruction cancel the pending event.
TEST_F(TimerTest, RearmResetAndDestructionCancel) {
  std::vector<std::string> log;
  Recorder a(&log, "a"), r(&log, "r");
  r.timer.set(10, &Recorder::Fire, &r);
  r.timer.set(50, &Recorder::Fire, &r);
  a.timer.set(10, &Recorder::Fire, &a);
  a.timer.reset();
  EXPECT_FALSE(a.timer.pending());
  {
    Recorder gone(&log, "gone");
    gone.timer.set(10, &Recorder::Fire, &gone);
  }
  EXPECT_EQ(1u, multiplexer.timers_count());
  Advance(49);
  EXPECT_EQ(1, multiplexer.timers_schedule());
  EXPECT_TRUE(log.empty());
  Advance(1);
  EXPECT_EQ(-1, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"r"}), log);

  // Resetting a timer that is not scheduled does nothing.
  struct Idle : TimerEvent {
    void fire() override {}
  } idle;
  multiplexer.reset(&idle);
  EXPECT_EQ(0u, multiplexer.timers_count());
}

TEST_F(TimerTest, ZeroTimerArmedInsideACallFiresInTheSamePass) {
  std::vector<std::string> log;
  Recorder inner(&log, "inner");
  struct Outer {
    void Fire() {
      log->push_back("outer");
      inner->timer.set(0, &Recorder::Fire, inner);
    }
    std::vector<std::string>* log;
    Recorder* inner;
    Timer timer;
  } outer{&log, &inner, {}};
  outer.timer.set(5, &Outer::Fire, &outer);
  Advance(5);
  EXPECT_EQ(-1, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"outer", "inner"}), log);
}

TEST_F(TimerTest, ExpiriesAcrossTheWrapOfTheMillisecondClock) {
  // 10 ms before the 32-bit millisecond clock wraps.
  Set((uint64_t(400) << 32) - 10);
  ASSERT_EQ(0xFFFFFFF6u, Mux::milliseconds());
  std::vector<std::string> log;
  Recorder before(&log, "before"), after(&log, "after"), across(&log, "across");
  after.timer.set(20, &Recorder::Fire, &after);
  before.timer.set(5, &Recorder::Fire, &before);
  across.timer.set(15, &Recorder::Fire, &across);
  EXPECT_EQ(5, multiplexer.timers_schedule());
  Advance(12);
  EXPECT_EQ(3, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"before"}), log);
  Advance(20);
  EXPECT_EQ(-1, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"before", "across", "after"}), log);
}

TEST_F(TimerTest, ClockSetBackMovesEveryTimerToOneSecondFromNow) {
  std::vector<std::string> log;
  Recorder a(&log, "a"), b(&log, "b");
  a.timer.set(100, &Recorder::Fire, &a);
  b.timer.set(200, &Recorder::Fire, &b);
  uint32_t first = a.timer.get()->expire;
  Advance(-3 * 3600 * 1000);
  uint32_t now = Mux::milliseconds();

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(1000, multiplexer.timers_schedule());
  EXPECT_EQ(
      "******** RUNTIME ERROR CONDITION *************"
      "Multiplexer::timers_schedule() invalid wait time detected!\n"
      "now = " +
          std::to_string(now) +
          "\n"
          "first = " +
          std::to_string(first) +
          "\n"
          "count = 2\n",
      ::testing::internal::GetCapturedStderr());

  Advance(500);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(500, multiplexer.timers_schedule());
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  Advance(500);
  EXPECT_EQ(-1, multiplexer.timers_schedule());
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), log);
}

TEST_F(TimerTest, TwoHoursAheadIsStillAValidWait) {
  std::vector<std::string> log;
  Recorder a(&log, "a");
  a.timer.set(7200000, &Recorder::Fire, &a);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(7200000, multiplexer.timers_schedule());
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  a.timer.set(7200001, &Recorder::Fire, &a);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(1000, multiplexer.timers_schedule());
  EXPECT_NE("", ::testing::internal::GetCapturedStderr());
}

// ---------------------------------------------------------- deferred calls

namespace {
struct Counted {
  void Run() {
    log->push_back(tag);
    if (once) dpc.Deactivate();
    if (victim) victim->Deactivate();
  }
  std::vector<std::string>* log = nullptr;
  std::string tag;
  bool once = false;
  Dpc* victim = nullptr;
  Dpc dpc;
};

// Each call logs its index.
template <size_t N>
void Wire(Counted (&c)[N], std::vector<std::string>* log) {
  for (size_t i = 0; i < N; ++i) {
    c[i].log = log;
    c[i].tag = std::to_string(i);
    c[i].dpc.Bind(&c[i], &Counted::Run);
  }
}
}  // namespace

TEST_F(TimerTest, ActiveDeferredCallsRunInAscendingAddressOrder) {
  std::vector<std::string> log;
  Counted c[3];
  Wire(c, &log);
  c[2].dpc.Activate();
  c[0].dpc.Activate();
  c[1].dpc.Activate();
  c[1].dpc.Activate();  // twice: still one entry
  c[1].once = true;     // deactivates itself: runs once
  multiplexer.execute_dpc();
  EXPECT_EQ((std::vector<std::string>{"0", "1", "2"}), log);
  EXPECT_FALSE(c[1].dpc.IsActive());
  c[0].dpc.Deactivate();
  c[2].dpc.Deactivate();
  log.clear();
  multiplexer.execute_dpc();
  EXPECT_TRUE(log.empty());
}

TEST_F(TimerTest, DeferredCallDeactivatedByAnotherDoesNotRunLaterInTheRun) {
  std::vector<std::string> log;
  Counted c[2];
  Wire(c, &log);
  for (Counted& x : c) x.dpc.Activate();
  c[0].victim = &c[1].dpc;
  multiplexer.execute_dpc();
  EXPECT_EQ((std::vector<std::string>{"0"}), log);
  c[0].dpc.Deactivate();
}

TEST_F(TimerTest, DeferredCallRunsTwicePerPassAndDiesWithItsOwner) {
  static int calls;
  calls = 0;
  {
    Dpc d;
    d.Bind(new DpcHandler1([] { ++calls; }));
    d.Activate();
    multiplexer.timers_schedule();  // the run after the due timers
    multiplexer.execute_dpc();      // the run before the poll
    EXPECT_EQ(2, calls);
  }
  multiplexer.execute_dpc();
  EXPECT_EQ(2, calls);
}

// ---------------------------------------------------------------- plugins

namespace {
struct Plugin : TimerPoolPlugin {
  explicit Plugin(int deadline) : deadline(deadline) {}
  int timerPoll() override {
    if (unhookOther) unhookOther->timerUnhook();
    return deadline;
  }
  int deadline;
  TimerPoolPlugin* unhookOther = nullptr;
};
}  // namespace

TEST_F(TimerTest, PluginsGiveTheirSmallestDeadline) {
  EXPECT_EQ(2147483647, multiplexer.timerPoll_schedule());
  Plugin none(-1), far(300), near(40);
  none.timerHook();
  far.timerHook();
  near.timerHook();
  EXPECT_EQ(40, multiplexer.timerPoll_schedule());
  // A plugin unhooked during the walk is not asked.
  none.unhookOther = &near;
  EXPECT_EQ(300, multiplexer.timerPoll_schedule());
  EXPECT_FALSE(near.hooked);
  none.unhookOther = nullptr;
  EXPECT_EQ(300, multiplexer.timerPoll_schedule());
  far.timerUnhook();
  EXPECT_EQ(2147483647, multiplexer.timerPoll_schedule());
  // Nor is one unhooked during the walk after it was asked.
  near.timerHook();
  far.timerHook();
  far.unhookOther = &near;
  EXPECT_EQ(40, multiplexer.timerPoll_schedule());
  far.unhookOther = nullptr;
  EXPECT_EQ(300, multiplexer.timerPoll_schedule());
}

// ---------------------------------------------------------------- the clock

TEST(MuxTime, FrozenClockScalesAndArithmetic) {
  Mux::timeval t;
  t.tv_sec = 5000;
  t.tv_usec = 123456;
  Mux::g_tv_time = t;
  EXPECT_EQ(5000123u, Mux::milliseconds());
  EXPECT_EQ(uint32_t(5000123456ull), Mux::microseconds());
  EXPECT_EQ(5000u, Mux::seconds());
  Mux::timeval got;
  EXPECT_EQ(0, Mux::gettimeval(got));
  EXPECT_EQ(0, Mux::timevalcompare(got, t));
  Mux::g_tv_time = Mux::timeval();
  Mux::gettimeval(got);
  EXPECT_GT(got.tv_sec, 1600000000u);

  Mux::timeval a, b, out;
  Mux::timevalset(a, 1900);
  Mux::timevalset(b, 2100);
  EXPECT_EQ(200, Mux::timevaldiff(a, b));
  EXPECT_EQ(0, Mux::timevaldiff(b, a));
  EXPECT_EQ(-1, Mux::timevalcompare(a, b));
  EXPECT_EQ(1, Mux::timevalcompare(b, a));

  Mux::timevaladd2(a, b, out);
  EXPECT_EQ(4u, out.tv_sec);
  EXPECT_EQ(0u, out.tv_usec);
  Mux::timevalsub2(b, a, out);
  EXPECT_EQ(0u, out.tv_sec);
  EXPECT_EQ(200000u, out.tv_usec);

  Mux::make_from_usec(out, 2500001);
  EXPECT_EQ(2u, out.tv_sec);
  EXPECT_EQ(500001u, out.tv_usec);
  Mux::make_from_msec(out, 61001);
  EXPECT_EQ(61u, out.tv_sec);
  EXPECT_EQ(1000u, out.tv_usec);
}

TEST(MuxTime, TimevalToStringIsLocalTime) {
  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  Mux::timeval t;
  t.tv_usec = 5;
  EXPECT_EQ("1970-01-01 00:00:00.000005", Mux::timevaltostring(t));
  if (oldTz)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(MuxTime, PeriodTimer) {
  Mux::timeval start, now;
  Mux::timevalset(start, 10000);
  Mux::timeval_timer t;
  t.init(start, 100);
  Mux::timevalset(now, 10100);
  EXPECT_FALSE(t.is_expired(now));
  Mux::timevalset(now, 10101);
  EXPECT_TRUE(t.is_expired(now));
  t.inc();
  EXPECT_FALSE(t.is_expired(now));
  t.period = 0;
  Mux::timevalset(now, 99999);
  EXPECT_FALSE(t.is_expired(now));
  Mux::timeval_timer fresh;  // no period: never expires
  fresh.init_now(start);
  EXPECT_FALSE(fresh.is_expired(now));
}

TEST_F(TimerTest, BaseClassMembersBindWithADerivedObject) {
  struct Base {
    void OnTimer() { ++fired; }
    void OnDpc() { ++ran; }
    int fired = 0;
    int ran = 0;
  };
  struct Derived : Base {
    Timer timer;
    Dpc dpc;
  } d;
  d.timer.set(0, &Base::OnTimer, &d);
  d.dpc.Bind(&d, &Base::OnDpc);
  d.dpc.Activate();
  multiplexer.timers_schedule();
  d.dpc.Deactivate();
  EXPECT_EQ(1, d.fired);
  EXPECT_EQ(1, d.ran);
}
