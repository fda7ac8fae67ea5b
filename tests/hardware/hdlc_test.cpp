// HDLC channels against the simulated "/dev/mcc/ctl": the channel's own
// event is polled here and dispatched as the loop would.
#include "hardware/hdlc.h"

#include <fcntl.h>
#include <poll.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/traces.h"
#include "hardware/hwmux.h"
#include "hw_testkit.h"
#include "sim/hdlc.h"

namespace {

using hwtest::board;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char kMcc[] = "/dev/mcc/ctl";

std::string Ctl(const std::string& words) {
  return board().Control(kMcc, words);
}

class Recorder : public HDLC::Notify {
 public:
  void on_hdlc_receive(Packet& frame) override {
    events.push_back("rx " + frame.text());
    if (onReceive) onReceive();
  }
  void on_hdlc_error(Cause::Type cause) override {
    events.push_back("error " + std::to_string(cause));
  }
  void on_hdlc_ready() override { events.push_back("ready"); }
  std::vector<std::string> events;
  std::function<void()> onReceive;
};

Packet Frame(const std::string& bytes) {
  Packet p;
  p.reserve_head(0);
  p.put(bytes.data(), static_cast<unsigned>(bytes.size()));
  return p;
}

class HdlcTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { HwMux::instance().IsOpened(); }
  void SetUp() override {
    ASSERT_TRUE(HwMux::instance().IsOpened());
    board().Reset();
    traces.signalling_hdlc = true;
    hdlc.logId = 7;
    hdlc.logSub = 2;
    hdlc.timeslot = 33;
    hdlc.notify = &user;
  }
  void TearDown() override {
    traces.signalling_hdlc = false;
    hdlc.deactivate();
    board().Reset();
  }
  // One dispatch of the channel's event when its descriptor becomes ready
  // within the bound (0: only when ready now); false when it did not.
  bool Pump(int waitMs = 20000) {
    pollfd p{hdlc.event.fd.get(), hdlc.event.events, 0};
    if (p.fd < 0 || poll(&p, 1, waitMs) <= 0) return false;
    hdlc.event.svc_event(p.revents);
    return true;
  }
  int Channel() {
    auto ch = board().With<sim::Mcc>(kMcc, [](sim::Mcc& m) { return m.Channels(); });
    return ch.empty() ? -1 : ch.back();
  }
  std::vector<std::string> Mcc() { return hwtest::Journal(kMcc); }

  hwtest::Capture err{std::cerr};
  hwtest::Capture log{std::clog};
  Recorder user;
  HDLC hdlc;
};

struct ModeCase {
  int mode, code;
  int ts2;
  bool txOnSecond;
};

TEST_F(HdlcTest, ModesAllocateAndSwitch) {
  const ModeCase cases[] = {{0, 3, -1, false}, {1, 0, -1, false}, {2, 1, 40, true}};
  for (const ModeCase& c : cases) {
    hdlc.deactivate();
    board().Reset();
    hdlc.mode = c.mode;
    hdlc.timeslot2 = c.ts2;
    ASSERT_TRUE(hdlc.activate()) << err.Take();
    const std::string ch = std::to_string(Channel());
    EXPECT_THAT(Mcc(), ElementsAre("open " + ch,
                                   "allocate " + ch + " " + std::to_string(c.code) + " 512 0 1 4",
                                   "timeslot " + ch));
    const std::string tx = c.txOnSecond ? "40" : "33";
    EXPECT_THAT(hwtest::Journal("/dev/hal"),
                ElementsAre("connect " + tx + " " + ch, "connect " + ch + " 33"));
    EXPECT_EQ("HDLC::OnEvent", hdlc.event.name);
    EXPECT_EQ(POLLIN | POLLOUT, hdlc.event.events);
    EXPECT_TRUE(fcntl(hdlc.event.fd.get(), F_GETFL) & O_NONBLOCK);
    EXPECT_FALSE(hdlc.is_ready());
  }
  EXPECT_EQ(
      "hdlc [7/2]: deactivated\nhdlc [7/2]: deactivated\nhdlc [7/2]: activated\n"
      "hdlc [7/2]: deactivated\nhdlc [7/2]: deactivated\nhdlc [7/2]: activated\n"
      "hdlc [7/2]: deactivated\nhdlc [7/2]: deactivated\nhdlc [7/2]: activated\n",
      log.Take());
  // Re-activation closes the old channel first and starts the counts again.
  const int old = Channel();
  hdlc.rxFrames = 5;
  ASSERT_TRUE(hdlc.activate());
  EXPECT_EQ("close " + std::to_string(old), Mcc()[3]);
  EXPECT_EQ(0u, hdlc.rxFrames);
}

TEST_F(HdlcTest, ActivationFailuresLeaveTheChannelClosed) {
  struct {
    const char* path;
    const char* words;
    int mode;
    const char* line;
  } rows[] = {
      {"", "", 7, "hdlc [7/2]: bad mode 7\n"},
      {kMcc, "", 0, "hdlc [7/2]: fail to open MCC device: No such file or directory\n"},
      {kMcc, "fail allocate EBUSY 1", 0,
       "hdlc [7/2]: MCC_ALLOCATE fail: Device or resource busy\n"},
      {kMcc, "fail timeslot EIO 1", 1, "hdlc [7/2]: MCC_TIMESLOT fail: Input/output error\n"},
  };
  for (auto& r : rows) {
    board().Reset();
    if (*r.path && !*r.words) board().FailOpen(kMcc, ENOENT);
    if (*r.words) Ctl(r.words);
    hdlc.mode = r.mode;
    EXPECT_FALSE(hdlc.activate());
    EXPECT_EQ(r.line, err.Take());
    EXPECT_FALSE(hdlc.is_open());
    EXPECT_EQ(0, board().OpenCount(kMcc));
    EXPECT_THAT(hwtest::Journal("/dev/hal"), IsEmpty());
  }
}

TEST_F(HdlcTest, FramesBothWaysInOrder) {
  ASSERT_TRUE(hdlc.activate());
  const std::string ch = std::to_string(Channel());
  Packet empty;
  EXPECT_TRUE(hdlc.hdlc_transmit(empty));
  Packet a = Frame("\x01\x02"), b = Frame("\xAB");
  EXPECT_TRUE(hdlc.hdlc_transmit(a));  // taken before the first POLLOUT
  EXPECT_FALSE(hdlc.is_ready());
  ASSERT_TRUE(Pump());
  EXPECT_TRUE(hdlc.is_ready());
  EXPECT_EQ(POLLIN, hdlc.event.events);
  EXPECT_TRUE(hdlc.hdlc_transmit(b));
  EXPECT_EQ(2u, hdlc.txFrames);
  EXPECT_EQ("ok\n", board().Command("inject /dev/mcc/ctl " + ch + " 0102 03"));
  EXPECT_EQ("ok\n", board().Command("inject /dev/mcc/ctl " + ch + " FF"));
  ASSERT_TRUE(Pump());
  EXPECT_THAT(user.events, ElementsAre("ready", "rx 01 02 03"));  // one frame per event
  ASSERT_TRUE(Pump());
  EXPECT_EQ(2u, hdlc.rxFrames);
  EXPECT_FALSE(Pump(0));
  EXPECT_THAT(user.events, ElementsAre("ready", "rx 01 02 03", "rx FF"));
  EXPECT_THAT(Mcc(), ElementsAre("open " + ch, ::testing::StartsWith("allocate"), "timeslot " + ch,
                                 "tx " + ch + " 01 02", "tx " + ch + " AB"));
  EXPECT_EQ(
      "hdlc [7/2]: deactivated\nhdlc [7/2]: activated\nHDLC[7]: tx 01 02\nHDLC[7]: tx AB\n"
      "hdlc [7/2]: do_read\nHDLC[7]: rx 01 02 03\nhdlc [7/2]: do_read\nHDLC[7]: rx FF\n",
      log.Take());
  hdlc.deactivate();
  EXPECT_FALSE(hdlc.hdlc_transmit(a));
  EXPECT_EQ(1u, hdlc.txRefused);
}

TEST_F(HdlcTest, BackPressureAndRecovery) {
  ASSERT_TRUE(hdlc.activate());
  const std::string ch = std::to_string(Channel());
  ASSERT_TRUE(Pump());
  traces.signalling_hdlc = false;
  EXPECT_EQ("ok\n", Ctl("hold " + ch));
  Packet big = Frame(std::string(1000, '\x5A'));
  unsigned sent = 0;
  while (sent < 100000 && hdlc.hdlc_transmit(big)) ++sent;
  ASSERT_LT(sent, 100000u);
  EXPECT_FALSE(hdlc.is_ready());
  EXPECT_EQ(POLLIN | POLLOUT, hdlc.event.events);
  EXPECT_FALSE(Pump(0));  // no POLLOUT while the driver's queue is full
  EXPECT_EQ("ok\n", Ctl("release " + ch));
  ASSERT_TRUE(Pump());
  EXPECT_THAT(user.events, ElementsAre("ready", "ready"));
  EXPECT_EQ(sent, hdlc.txFrames);
  EXPECT_EQ(0u, hdlc.txErrors);
  std::vector<std::string> j = Mcc();
  EXPECT_EQ(sent, static_cast<unsigned>(std::count_if(
                      j.begin(), j.end(), [&](auto& t) { return t.rfind("tx " + ch, 0) == 0; })));
}

struct ErrorCase {
  const char* what;
  const char* arm;   // ctl words before the frame, CH replaced
  bool frame;        // a frame is injected to make the channel readable
  const char* line;  // on standard error
  bool closed;
};

TEST_F(HdlcTest, ReadErrorsCloseTheChannelOnce) {
  const ErrorCase cases[] = {
      {"error", "fail-read CH EIO", true, "hdlc [7/2]: read error: Input/output error\n", true},
      {"end of file", "", false, "hdlc [7/2]: read error: end of file\n", true},
      {"try again", "fail-read CH EAGAIN", true, "", false},
  };
  traces.signalling_hdlc = false;
  for (const ErrorCase& c : cases) {
    user.events.clear();
    ASSERT_TRUE(hdlc.activate());
    const std::string ch = std::to_string(Channel());
    std::string arm = c.arm;
    if (!arm.empty()) Ctl(arm.replace(arm.find("CH"), 2, ch));
    board().Command(c.frame ? "inject /dev/mcc/ctl " + ch + " 11"
                            : "inject /dev/mcc/ctl eof " + ch);
    // The first dispatch has POLLIN and POLLOUT: a closed channel must not
    // turn ready on it.
    ASSERT_TRUE(Pump()) << c.what;
    EXPECT_EQ(c.line, err.Take()) << c.what;
    EXPECT_EQ(!c.closed, hdlc.is_open()) << c.what;
    if (c.closed) {
      EXPECT_THAT(user.events, ElementsAre("error 0")) << c.what;
    } else {
      EXPECT_THAT(user.events, ElementsAre("ready")) << c.what;
      ASSERT_TRUE(Pump()) << c.what;  // the frame is still there
      EXPECT_THAT(user.events, ElementsAre("ready", "rx 11")) << c.what;
    }
  }
}

TEST_F(HdlcTest, UserClosesOrReopensFromReceive) {
  for (bool reopen : {false, true}) {
    user.events.clear();
    ASSERT_TRUE(hdlc.activate());
    const int first = Channel();
    user.onReceive = [&] {
      hdlc.deactivate();
      if (reopen) hdlc.activate();
    };
    board().Command("inject /dev/mcc/ctl " + std::to_string(first) + " 42");
    ASSERT_TRUE(Pump());
    user.onReceive = nullptr;
    EXPECT_THAT(user.events, ElementsAre("rx 42")) << reopen;
    EXPECT_FALSE(hdlc.is_ready());
    EXPECT_EQ(reopen, hdlc.is_open());
    if (reopen) {
      EXPECT_EQ(POLLIN | POLLOUT, hdlc.event.events);
      ASSERT_TRUE(Pump());
      EXPECT_THAT(user.events, ElementsAre("rx 42", "ready"));
    }
  }
}

TEST_F(HdlcTest, UnboundChannelDropsEvents) {
  hdlc.unbind();
  ASSERT_TRUE(hdlc.activate());
  board().Command("inject /dev/mcc/ctl eof " + std::to_string(Channel()));
  ASSERT_TRUE(Pump());
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_THAT(user.events, IsEmpty());
}

}  // namespace
