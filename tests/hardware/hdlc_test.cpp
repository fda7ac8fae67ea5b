// HDLC channels on the simulated board; the tests dispatch the event as the loop would.
#include "hardware/hdlc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "core/traces.h"
#include "hardware/hwmux.h"
#include "hw_testkit.h"
#include "sim/hdlc.h"

namespace {

using hwtest::board;
using ::testing::ElementsAre;

const std::string kMcc = "/dev/mcc/ctl";

class Recorder : public HDLC::Notify {
 public:
  void on_hdlc_receive(Packet& f) override {
    events.push_back("rx " + f.text());
    if (onReceive) onReceive();
  }
  void on_hdlc_error(Cause::Type c) override { events.push_back("error " + std::to_string(c)); }
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
  // One dispatch once the channel's descriptor is ready within the bound.
  static bool Pump(HDLC& channel, int waitMs = 20000) {
    pollfd p{channel.event.fd.get(), channel.event.events, 0};
    if (p.fd < 0 || poll(&p, 1, waitMs) <= 0) return false;
    errno = EAGAIN;  // stale: a read of 0 bytes must not take it for its own
    channel.event.svc_event(p.revents);
    return true;
  }
  bool Pump(int waitMs = 20000) { return Pump(hdlc, waitMs); }
  // Activates and answers the channel number as text.
  std::string Open() {
    user.events.clear();
    if (!hdlc.activate()) return "";
    return std::to_string(
        board().With<sim::Mcc>(kMcc, [](sim::Mcc& m) { return m.Channels().back(); }));
  }
  void Inject(const std::string& words) { board().Command("inject " + kMcc + " " + words); }

  hwtest::Capture err{std::cerr};
  hwtest::Capture log{std::clog};
  Recorder user;
  HDLC hdlc;
};

TEST_F(HdlcTest, ModesAllocateAndSwitch) {
  // mode, its code in MCC_ALLOCATE, the timeslot the channel transmits to,
  // the channel number the controller hands out (-1: the board's own)
  const int cases[][4] = {{0, 3, 33, -1}, {1, 0, 33, -1}, {2, 1, 40, -1}, {1, 0, 33, 0}};
  hdlc.timeslot2 = 40;
  board().OpenCount(kMcc);  // the board has closed its ends of earlier channels
  const int descriptors = hwtest::OpenDescriptors();
  for (auto& c : cases) {
    hdlc.deactivate();
    board().Reset();
    hdlc.mode = c[0];
    if (c[3] >= 0) board().Control(kMcc, "next " + std::to_string(c[3]));
    const std::string ch = Open();
    EXPECT_EQ(c[3] < 0 ? "16384" : std::to_string(c[3]), ch);
    // Re-activation closes the old channel: one descriptor here, one on the board.
    EXPECT_EQ(descriptors + 2, hwtest::OpenDescriptors());
    EXPECT_EQ(1, board().OpenCount(kMcc));
    EXPECT_THAT(board().Opens(kMcc), ElementsAre("O_RDWR|O_NONBLOCK|O_CLOEXEC"));
    EXPECT_TRUE(hdlc.is_open());
    EXPECT_FALSE(hdlc.is_ready());
    EXPECT_EQ(POLLIN | POLLOUT, hdlc.event.events);
    EXPECT_THAT(
        hwtest::Journal(kMcc),
        ElementsAre("open " + ch, "allocate " + ch + " " + std::to_string(c[1]) + " 512 0 1 4",
                    "timeslot " + ch));
    EXPECT_THAT(hwtest::Journal("/dev/hal"),
                ElementsAre("connect " + std::to_string(c[2]) + " " + ch, "connect " + ch + " 33"));
    EXPECT_EQ("HDLC::OnEvent", hdlc.event.name);
  }
  std::string once = "hdlc [7/2]: deactivated\nhdlc [7/2]: deactivated\nhdlc [7/2]: activated\n";
  EXPECT_EQ(once + once + once + once, log.Take());
  // Re-activation closes the old channel first and starts the counts again.
  hdlc.txFrames = hdlc.txRefused = hdlc.txErrors = hdlc.rxFrames = 5;
  Open();
  EXPECT_THAT(hwtest::Journal(kMcc)[3], ::testing::StartsWith("close "));
  for (unsigned n : {hdlc.txFrames, hdlc.txRefused, hdlc.txErrors, hdlc.rxFrames}) EXPECT_EQ(0u, n);
  EXPECT_EQ(descriptors + 2, hwtest::OpenDescriptors());
  hdlc.deactivate();
  EXPECT_EQ(0, board().OpenCount(kMcc));
  EXPECT_EQ(descriptors, hwtest::OpenDescriptors());
  EXPECT_EQ("", err.Take());
}

// The descriptor limit under which exactly `room` descriptors are free now.
rlim_t LimitLeaving(int room) {
  int fd = 0;
  for (int free = 0;; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && ++free == room) break;
  }
  return static_cast<rlim_t>(fd + 1);
}

TEST_F(HdlcTest, ActivationFailuresLeaveTheChannelClosed) {
  const std::string kOpen = "open 16384", kClose = "close 16384";
  const struct {
    int mode;
    const char *ctl, *line;
    std::vector<std::string> mcc;
    bool noDescriptor;  // no descriptor left once the device is open
  } rows[] = {
      {7, "", "bad mode 7", {}, false},
      {-1, "", "bad mode -1", {}, false},
      {0, "", "fail to open MCC device: No such file or directory", {}, false},
      {0,
       "fail allocate EBUSY 1",
       "MCC_ALLOCATE fail: Device or resource busy",
       {kOpen, "allocate 16384 3 512 0 1 4 failed 16", kClose},
       false},
      {1,
       "fail timeslot EIO 1",
       "MCC_TIMESLOT fail: Input/output error",
       {kOpen, "allocate 16384 0 512 0 1 4", "timeslot 16384 failed 5", kClose},
       false},
      {2,
       "",
       "fail to poll MCC device: Too many open files",
       {kOpen, "allocate 16384 1 512 0 1 4", "timeslot 16384", kClose},
       true},
  };
  hdlc.timeslot2 = 40;
  for (auto& r : rows) {
    SCOPED_TRACE(r.line);
    board().Reset();
    board().FailOpen(kMcc, r.mcc.empty() ? ENOENT : 0);  // no open at all for a bad mode
    board().Control(kMcc, r.ctl);
    hdlc.mode = r.mode;
    board().OpenCount(kMcc);  // the board has closed its ends of earlier channels
    const int descriptors = hwtest::OpenDescriptors();
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    if (r.noDescriptor) {
      // Room for the open's socket pair (the board keeps one end), none for the loop's copy.
      rlimit low = saved;
      low.rlim_cur = LimitLeaving(2);
      ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &low));
    }
    const bool activated = hdlc.activate();
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(activated);
    EXPECT_EQ(std::string("hdlc [7/2]: ") + r.line + "\n", err.Take());
    EXPECT_FALSE(hdlc.is_open());
    EXPECT_FALSE(hdlc.is_ready());
    EXPECT_EQ(0, board().OpenCount(kMcc));
    EXPECT_EQ(descriptors, hwtest::OpenDescriptors());
    EXPECT_EQ(r.mcc, hwtest::Journal(kMcc));
    EXPECT_EQ(r.mcc.empty() ? 0u : 1u, board().Opens(kMcc).size());
    EXPECT_TRUE(hwtest::Journal("/dev/hal").empty());
    hwtest::LoopPass()();
    EXPECT_THAT(hwtest::PolledEvents("HDLC::OnEvent"), ::testing::IsEmpty());
    EXPECT_THAT(user.events, ::testing::IsEmpty());
  }
}

TEST_F(HdlcTest, FramesBothWaysInOrder) {
  const std::string ch = Open();
  Packet empty, a = Frame("\x01\x02"), b = Frame("\xAB");
  EXPECT_TRUE(hdlc.hdlc_transmit(empty));
  EXPECT_TRUE(hdlc.hdlc_transmit(a));  // taken before the first POLLOUT
  EXPECT_FALSE(hdlc.is_ready());
  ASSERT_TRUE(Pump());
  EXPECT_TRUE(hdlc.is_ready());
  EXPECT_EQ(POLLIN, hdlc.event.events);
  EXPECT_TRUE(hdlc.hdlc_transmit(b));
  Inject(ch + " 0102 03");
  Inject(ch + " FF");
  ASSERT_TRUE(Pump());  // one frame per event
  EXPECT_THAT(user.events, ElementsAre("ready", "rx 01 02 03"));
  ASSERT_TRUE(Pump());
  EXPECT_FALSE(Pump(0));
  EXPECT_THAT(user.events, ElementsAre("ready", "rx 01 02 03", "rx FF"));
  EXPECT_THAT(hwtest::Journal(kMcc),
              ::testing::IsSupersetOf({"tx " + ch + " 01 02", "tx " + ch + " AB"}));
  EXPECT_THAT(log.Take(), ::testing::EndsWith(
                              "activated\nHDLC[7]: tx 01 02\nHDLC[7]: tx AB\nhdlc [7/2]: do_read\n"
                              "HDLC[7]: rx 01 02 03\nhdlc [7/2]: do_read\nHDLC[7]: rx FF\n"));
  // The longest frame the driver gives fills a whole packet.
  ASSERT_EQ("ok\n", board().Command("inject " + kMcc + " " + ch + " " + std::string(131072, 'E')));
  ASSERT_TRUE(Pump());
  EXPECT_EQ(3u + 3 * 65536 - 1, user.events.back().size());
  EXPECT_EQ(3u, hdlc.rxFrames);
  hdlc.deactivate();
  EXPECT_FALSE(hdlc.hdlc_transmit(a));
  EXPECT_EQ(1u, hdlc.txRefused);
  log.Take();
  hdlc.on_event(-1, POLLIN);  // a stale event reads nothing
  EXPECT_EQ("hdlc [7/2]: do_read\nhdlc [7/2]: do_read: !m_event.IsActive()\n", log.Take());
  EXPECT_EQ(3u, hdlc.rxFrames);
}

// A write interrupted is written again; other failures are counted, not logged.
TEST_F(HdlcTest, WriteFaultsAreRetriedOrCounted) {
  const struct {
    int err;
    bool taken;
    unsigned frames, errors;
  } rows[] = {{EINTR, true, 1, 0}, {EIO, false, 0, 1}};
  traces.signalling_hdlc = false;
  for (auto& r : rows) {
    const std::string ch = Open();
    board().FailIo(kMcc, true, r.err, 1);
    Packet f = Frame("\x07");
    EXPECT_EQ(r.taken, hdlc.hdlc_transmit(f));
    EXPECT_EQ(r.frames, hdlc.txFrames);
    EXPECT_EQ(r.errors, hdlc.txErrors);
    EXPECT_EQ(r.taken ? "tx " + ch + " 07" : "timeslot " + ch, hwtest::Journal(kMcc).back());
    EXPECT_EQ(POLLIN | POLLOUT, hdlc.event.events);
    EXPECT_FALSE(hdlc.is_ready());
  }
  EXPECT_EQ("", err.Take());
  EXPECT_EQ("", log.Take());
}

TEST_F(HdlcTest, BackPressureAndRecovery) {
  traces.signalling_hdlc = false;
  const std::string ch = Open();
  ASSERT_TRUE(Pump());
  board().Control(kMcc, "hold " + ch);
  Packet big = Frame(std::string(1000, '\x5A'));
  unsigned sent = 0;
  while (sent < 100000 && hdlc.hdlc_transmit(big)) ++sent;
  ASSERT_LT(sent, 100000u);
  EXPECT_EQ(POLLIN | POLLOUT, hdlc.event.events);
  EXPECT_FALSE(Pump(0));  // no POLLOUT while the driver's queue is full
  hwtest::LoopPass pass;
  pass();
  EXPECT_THAT(hwtest::PolledEvents("HDLC::OnEvent"), ElementsAre("POLLIN|POLLOUT"));
  board().Control(kMcc, "release " + ch);
  pollfd room{hdlc.event.fd.get(), POLLOUT, 0};
  ASSERT_EQ(1, poll(&room, 1, 20000));
  pass();
  EXPECT_THAT(hwtest::PolledEvents("HDLC::OnEvent"), ElementsAre("POLLIN"));
  EXPECT_THAT(user.events, ElementsAre("ready", "ready"));
  EXPECT_EQ(sent, hdlc.txFrames);
  EXPECT_EQ(sent + 3, hwtest::Journal(kMcc).size());  // open, allocate, timeslot, the frames
}

// The first dispatch has POLLIN and POLLOUT: a channel closed by its read
// must not turn ready on it; end of file is an error, not a retry.
TEST_F(HdlcTest, ReadErrorsCloseTheChannelOnce) {
  const struct {
    const char *arm, *line;
  } rows[] = {
      {"EIO", "hdlc [7/2]: read error: Input/output error\n"},
      {"", "hdlc [7/2]: read error: end of file\n"},
      {"EAGAIN", ""},
  };
  traces.signalling_hdlc = false;
  for (auto& r : rows) {
    const std::string ch = Open();
    if (*r.arm) board().Control(kMcc, "fail-read " + ch + " " + r.arm);
    Inject(*r.arm ? ch + " 11" : "eof " + ch);
    ASSERT_TRUE(Pump());
    EXPECT_EQ(r.line, err.Take());
    if (*r.line) {
      EXPECT_FALSE(hdlc.is_open());
      EXPECT_THAT(user.events, ElementsAre("error 0"));
    } else {
      ASSERT_TRUE(Pump());  // the frame is still there
      EXPECT_THAT(user.events, ElementsAre("ready", "rx 11"));
    }
  }
  EXPECT_EQ("", log.Take());  // no traces asked for
}

// Without a user (never bound, or unbound) readiness, frames and the
// error still run their course and reach no one.
TEST_F(HdlcTest, WithoutUserEventsAreDropped) {
  traces.signalling_hdlc = false;
  HDLC fresh;
  Packet early = Frame("\x01");
  EXPECT_FALSE(fresh.hdlc_transmit(early));  // closed
  EXPECT_EQ(std::vector<unsigned>({0, 1, 0, 0, 0, 0}),
            std::vector<unsigned>({fresh.txFrames, fresh.txRefused, fresh.txErrors, fresh.spare,
                                   fresh.rxFrames, unsigned(fresh.cookie)}));
  EXPECT_EQ(std::vector<int>({0, -1, -1, HDLC::kMode0}),
            std::vector<int>({fresh.ready, fresh.timeslot, fresh.timeslot2, fresh.mode}));
  fresh.timeslot = 34;
  hdlc.unbind();
  for (HDLC* channel : {&fresh, &hdlc}) {
    ASSERT_TRUE(channel->activate());
    const int ch = board().With<sim::Mcc>(kMcc, [](sim::Mcc& m) { return m.Channels().back(); });
    Inject(std::to_string(ch) + " 5A");
    ASSERT_TRUE(Pump(*channel));
    EXPECT_TRUE(channel->is_ready());
    Inject("eof " + std::to_string(ch));
    ASSERT_TRUE(Pump(*channel));
    EXPECT_FALSE(channel->is_open());
    EXPECT_EQ(1u, channel->rxFrames);
  }
  EXPECT_THAT(user.events, ::testing::IsEmpty());
  EXPECT_EQ("hdlc [0/0]: read error: end of file\nhdlc [7/2]: read error: end of file\n",
            err.Take());
  {
    HDLC gone;
    ASSERT_TRUE(gone.activate());
    EXPECT_EQ(1, board().OpenCount(kMcc));
  }
  EXPECT_EQ(0, board().OpenCount(kMcc));  // destroyed, closed
}

// A driver that reports an error or a hang-up without data: the read
// finds it out, the channel closes once and the loop stops polling it.
TEST_F(HdlcTest, ErrorOrHangupWithoutDataClosesTheChannel) {
  const struct {
    std::string how, line;
  } rows[] = {
      {"hangup", "hdlc [7/2]: read error: end of file\n"},
      {"error", "hdlc [7/2]: read error: Bad file descriptor\n"},
      {"POLLNVAL", "hdlc [7/2]: read error: end of file\n"},
  };
  traces.signalling_hdlc = false;
  hwtest::LoopPass pass;
  for (auto& r : rows) {
    SCOPED_TRACE(r.how);
    board().OpenCount(kMcc);  // the board has closed its ends of earlier channels
    const int descriptors = hwtest::OpenDescriptors();
    const std::string ch = Open();
    pass();
    EXPECT_THAT(hwtest::PolledEvents("HDLC::OnEvent"), ElementsAre("POLLIN"));
    if (r.how == "POLLNVAL") {
      Inject("eof " + ch);
      hdlc.on_event(hdlc.event.fd.get(), POLLNVAL);
    } else {
      EXPECT_EQ("ok\n", board().Control(kMcc, r.how + " " + ch));
      pass();
    }
    EXPECT_EQ(r.line, err.Take());
    EXPECT_THAT(user.events, ElementsAre("ready", "error 0"));
    EXPECT_FALSE(hdlc.is_open());
    pass();
    EXPECT_THAT(hwtest::PolledEvents("HDLC::OnEvent"), ::testing::IsEmpty());
    EXPECT_EQ(0, board().OpenCount(kMcc));
    EXPECT_EQ("close " + ch, hwtest::Journal(kMcc).back());
    EXPECT_EQ(descriptors, hwtest::OpenDescriptors());
  }
  EXPECT_EQ(
      "error usage: channels | hold CH | release CH | hangup CH | error CH | fail-read CH "
      "ERRNO | fail allocate|timeslot ERRNO COUNT | next CH\n",
      board().Control(kMcc, "hangup"));
  EXPECT_EQ("error no such channel: 99\n", board().Control(kMcc, "error 99"));
}

TEST_F(HdlcTest, UserClosesOrReopensFromReceive) {
  for (bool reopen : {false, true}) {
    Inject(Open() + " 42");
    user.onReceive = [&] {
      hdlc.deactivate();
      if (reopen) hdlc.activate();
    };
    ASSERT_TRUE(Pump());
    user.onReceive = nullptr;
    EXPECT_THAT(user.events, ElementsAre("rx 42"));
    EXPECT_FALSE(hdlc.is_ready());
    EXPECT_EQ(reopen, hdlc.is_open());
  }
  ASSERT_TRUE(Pump());  // the new channel's own POLLOUT
  EXPECT_THAT(user.events, ElementsAre("rx 42", "ready"));
}

}  // namespace
