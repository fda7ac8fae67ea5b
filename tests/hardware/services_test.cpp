// The hardware control services against the simulated board, through a
// control server whose controller is the test. The loop's clock is frozen:
// timers fire only when Advance moves it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "control/ctrl_testkit.h"
#include "control/test_support.h"
#include "hardware/board_msgs.h"
#include "hardware/busctl.h"
#include "hardware/e1ctl.h"
#include "hardware/hwmux.h"
#include "hardware/hwtests.h"
#include "hardware/spictrl.h"
#include "sim/board.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using Lines = std::vector<std::string>;

constexpr const char* kHal = "/dev/hal";
constexpr const char* kMaint = "/dev/maintenance";
constexpr const char* kCas = "/dev/e1-cas";

struct Endpoint : Control::ServiceNet {
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
};

class Bench : public ::testing::Test {
 protected:
  void SetUp() override {
    board.Reset();
    Mux::timevalset(Mux::g_tv_time, uint64_t(1700000000) * 1000);
    server.Activate(endpoint_ = new Endpoint);
  }
  void TearDown() override {
    server.Deactivate();
    Mux::g_tv_time = Mux::timeval();
  }
  // Binds the service (kept until the server is gone) and connects.
  template <class S>
  S* Connect(S* s) {
    owned_.emplace_back(s);
    server.Bind(s);
    endpoint_->Connected(pair_.daemon, pair_.peerAddr);
    return s;
  }
  void Advance(unsigned ms) {
    const Mux::timeval t = Mux::g_tv_time;
    Mux::timevalset(Mux::g_tv_time, uint64_t(t.tv_sec) * 1000 + t.tv_usec / 1000 + ms);
    multiplexer.timers_schedule();
  }
  void Send(const std::string& command) { server.OnMessage(boardmsg::Cmd(command)); }
  // What the controller received since the last call, up to a marker.
  Lines Drain() {
    LGCP::Signal marker;
    marker.select_number() = "end";
    server.SendSignal(marker);
    Lines out;
    for (std::vector<unsigned char> body; ctrltest::ReadFrame(pair_.peer.get(), body);) {
      out.push_back(boardmsg::Describe(body));
      if (out.back() == "signal 2") return out.pop_back(), out;
    }
    return out.push_back("no marker"), out;
  }
  Lines Journal(const std::string& path) {
    Lines out;
    for (auto& e : board.Journal(path)) out.push_back(e.text);
    board.ClearJournal(path);
    return out;
  }
  sim::Board& board = sim::Board::instance();
  CtrlSrv::Server server;

 private:
  Endpoint* endpoint_ = nullptr;
  ctrltest::TcpPair pair_;
  std::vector<std::unique_ptr<CtrlSrv::Service>> owned_;
};

using E1CtlTest = Bench;

// A captured log stream without the server's own connect lines.
std::string Own(const Capture& log) {
  std::istringstream in(log.text());
  std::string own;
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, 6, "ctrl [") != 0) own += line + "\n";
  return own;
}

// One pass of the loop on the frozen clock: a pipe kept readable and
// polled after every other descriptor stops the loop once the pass has
// called each handler.
void OnePass() {
  struct Stop {
    void On(int, short) { multiplexer.terminate(); }
  } stop;
  int p[2];
  ASSERT_EQ(0, ::pipe(p));
  ASSERT_EQ(1, ::write(p[1], "x", 1));
  {
    Event ev;
    ev.Bind("test stop", &Stop::On, &stop);
    ev.Schedule(p[0], POLLIN);
    multiplexer.run(false, true);
  }
  ::close(p[0]);
  ::close(p[1]);
}

TEST_F(E1CtlTest, EveryTrunkOnConnectThenEverySecond) {
  board.Control(kMaint, "trunk 1 state 3 slips 7 lossBF 1 lossCarrier 2 ais 3 rai 4 w8 5 w14 6");
  board.Control(kMaint, "fail 2 EIO");       // the trunk after it is still read
  board.Control(kMaint, "trunk 3 state 7");  // no such state
  board.FailOpen(kCas, ENOENT);              // until the first tick
  const int maint = board.OpenCount(kMaint), cas = board.OpenCount(kCas);
  Capture out(std::cout), err(std::cerr), log(std::clog);
  Connect(new E1Ctl);
  const Lines round = {"e1 0 normal 0 0 0 0 0", "e1 1 ais 7 1 2 3 4", "e1 3 unknown 0 0 0 0 0"};
  const std::string failed =
      "E1: synchronization status read fail, trunk = 2 cause = Input/output error\n";
  EXPECT_EQ(round, Drain());
  EXPECT_EQ(failed, err.text());
  EXPECT_EQ("E1: TCLT = 0x0\n", Own(log));
  EXPECT_THAT(Journal(kMaint), ElementsAre("tclk 0x0"));
  board.FailOpen(kCas, 0);
  Advance(999);
  EXPECT_THAT(Drain(), IsEmpty());
  Advance(1);
  EXPECT_EQ(round, Drain());
  EXPECT_EQ(failed + failed, err.text());
  EXPECT_EQ("E1: TCLT = 0x0\nE1: cas interface opened!\n", Own(log));
  board.Control(kMaint, "fail 2 0");
  board.Control(kMaint, "trunk 0 state 6");
  board.Control(kMaint, "trunk 3 state -1");
  Advance(1000);
  EXPECT_THAT(Drain(), ElementsAre("e1 0 disabled 0 0 0 0 0", "e1 1 ais 7 1 2 3 4",
                                   "e1 2 normal 0 0 0 0 0", "e1 3 unknown 0 0 0 0 0"));
  // Trunks that take their clock from the line; no shift past the mask.
  for (const char* cfg :
       {"3, mode slave", "31, mode slave", "3, mode master", "-1, mode slave", "32, mode slave"})
    Send(std::string("trunkCfg : { trunk ") + cfg + " }");
  EXPECT_THAT(Journal(kMaint), ElementsAre("tclk 0x8", "tclk 0x80000008", "tclk 0x80000000"));
  board.Control(kMaint, "fail-tclk EIO");
  Send("trunkCfg : { trunk 0, mode slave }");
  EXPECT_THAT(Drain(), ElementsAre("ok", "ok", "ok", "ok", "ok", "ok"));
  EXPECT_THAT(Journal(kMaint), ElementsAre("tclk 0x80000001 failed 5"));
  EXPECT_EQ(failed + failed + "E1: fail to set TCLK [cause=Input/output error]\n", err.text());
  // A new controller finds every trunk a clock master again; the cycle
  // goes on through the disconnect, and nothing was opened a second time.
  board.Control(kMaint, "fail-tclk 0");
  server.OnDisconnect();
  Advance(1000);
  EXPECT_THAT(Drain(), SizeIs(4));
  server.OnConnect();
  EXPECT_THAT(Drain(), SizeIs(4));
  EXPECT_THAT(Journal(kMaint), ElementsAre("tclk 0x0"));
  EXPECT_EQ(
      "E1: TCLT = 0x0\nE1: cas interface opened!\nE1: TCLT = 0x8\nE1: TCLT = 0x80000008\n"
      "E1: TCLT = 0x80000000\nE1: TCLT = 0x0\n",
      Own(log));
  EXPECT_EQ("", out.text());
  EXPECT_THAT(board.Opens(kMaint), ElementsAre("O_RDWR|O_NONBLOCK|O_CLOEXEC"));
  EXPECT_THAT(board.Opens(kCas), ElementsAre("O_RDWR|O_NONBLOCK|O_CLOEXEC"));
  EXPECT_EQ(maint + 1, board.OpenCount(kMaint));
  EXPECT_EQ(cas + 1, board.OpenCount(kCas));
}

TEST_F(E1CtlTest, MissingDevicesAreRetriedSilently) {
  board.FailOpen(kMaint, ENOENT);
  board.FailOpen(kCas, ENOENT);
  Capture out(std::cout), err(std::cerr), log(std::clog);
  Connect(new E1Ctl);
  Send("trunkCfg : { trunk 1, mode slave }");  // kept for the device to come
  Send("ioctl : cas : { channel { path 1, timeslot 5 }, cmd open : 1 }");
  EXPECT_THAT(Drain(), ElementsAre("ok", "ok"));
  Advance(1000);
  EXPECT_THAT(Drain(), IsEmpty());
  board.FailOpen(kMaint, 0);
  board.FailOpen(kCas, 0);
  Send("ioctl : cas : { channel { path 1, timeslot 5 }, cmd open : 1 }");  // opens the device
  EXPECT_THAT(Drain(), ElementsAre("cas 1 0 0 0", "cas 1 5 0 1", "ok"));
  Advance(1000);
  EXPECT_THAT(Drain(), ElementsAre("e1 0 normal 0 0 0 0 0", "e1 1 normal 0 0 0 0 0",
                                   "e1 2 normal 0 0 0 0 0", "e1 3 normal 0 0 0 0 0"));
  Send("trunkCfg : { trunk 0, mode slave }");
  EXPECT_THAT(Drain(), ElementsAre("ok"));
  EXPECT_THAT(Journal(kMaint), ElementsAre("tclk 0x3"));
  EXPECT_THAT(Journal(kCas), ElementsAre("open 1", "configure 1 5 start 1", "get 1 5"));
  EXPECT_EQ("", err.text() + out.text());
  EXPECT_EQ("E1: cas interface opened!\nE1: open cas signalling on trunk(1) - ok\nE1: TCLT = 0x3\n",
            Own(log));
  EXPECT_THAT(board.Opens(kMaint), ElementsAre("O_RDWR|O_NONBLOCK|O_CLOEXEC"));
  EXPECT_THAT(board.Opens(kCas), ElementsAre("O_RDWR|O_NONBLOCK|O_CLOEXEC"));
}

TEST_F(E1CtlTest, DescriptorsCloseWithTheService) {
  const int maint = board.OpenCount(kMaint), cas = board.OpenCount(kCas);
  {
    Capture err(std::cerr);
    board.FailOpen(kMaint, ENOENT);
    E1Ctl().select_source(3);  // no device, no line
    board.FailOpen(kMaint, 0);
    EXPECT_EQ("", err.text());
  }
  {
    Capture log(std::clog);
    E1Ctl e1;
    EXPECT_TRUE(e1.IsOpen() && e1.IsOpen() && e1.CheckOpenCas() && e1.CheckOpenCas());
    EXPECT_EQ(maint + 1, board.OpenCount(kMaint));
    EXPECT_EQ(cas + 1, board.OpenCount(kCas));
    Capture err(std::cerr);
    e1.select_source(3);
    EXPECT_THAT(Journal(kMaint), ElementsAre("clock-source 3"));
    EXPECT_EQ("", err.text());
  }
  EXPECT_EQ(maint, board.OpenCount(kMaint));
  EXPECT_EQ(cas, board.OpenCount(kCas));
  LGCP::CasChannel to;
  Assign(to, cas_channel{2, 9, 0, 0, {}});
  EXPECT_EQ(2, to.get_path().getValue());
  EXPECT_EQ(9, to.get_timeslot().getValue());
}

// Lines joined with ", ".
std::string Joined(const Lines& lines) {
  std::string out;
  for (const auto& l : lines) out += (out.empty() ? "" : ", ") + l;
  return out;
}

TEST_F(E1CtlTest, CasCommandsAndTheirOutcomes) {
  Connect(new E1Ctl);
  Send("trunkCfg : { trunk 0, mode slave }");  // the word after the trunk flags is not 0
  Drain();
  Journal(kCas);
  board.Control(kCas, "rx 1 5 6");
  const struct {
    const char* fault;  // "OP VALUE" armed first, or ""
    int path, ts;
    const char* cmd;
    const char* seen;  // what the controller got | the CAS driver's journal
  } rows[] = {
      {"", 1, 5, "set : 3", "ok | "},  // trunk not open
      {"", 1, 5, "get : NULL", "ok | "},
      {"", 1, 5, "close : NULL", "ok | "},
      {"", 4, 5, "open : 1", "ok | "},  // no such trunk
      {"", 4, 0, "close : NULL", "ok | "},
      {"", 4, 5, "set : 1", "ok | "},
      {"", 4, 5, "get : NULL", "ok | "},
      {"", -1, 5, "open : 1", "ok | "},
      {"open -5", 1, 5, "open : 1", "cas 1 0 -1 0, ok | open 1 failed 5"},
      {"", 1, 5, "open : 25",
       "cas 1 0 0 0, cas 1 5 6 9, ok | open 1, configure 1 5 start 9, get 1 5"},
      {"", 1, 16, "open : 1", "cas 1 0 0 0, ok | "},
      {"", 1, 0, "open : 1", "cas 1 0 0 0, ok | "},
      {"", 1, 5, "set : 19", "cas 1 5 6 3, ok | set 1 5 3, get 1 5"},
      {"set -5", 1, 5, "set : 2", "cas 1 5 -1 0, ok | set 1 5 2 failed 5"},
      {"get -5", 1, 5, "get : NULL", "cas 1 5 -1 0, ok | get 1 5 failed 5"},
      {"", 1, 5, "get : NULL", "cas 1 5 6 3, ok | get 1 5"},
      {"configure -5", 1, 6, "open : 1",
       "cas 1 0 0 0, cas 1 6 -1 0, ok | configure 1 6 start 1 failed 5"},
      {"get -5", 1, 7, "open : 2",
       "cas 1 0 0 0, cas 1 7 -1 0, ok | configure 1 7 start 2, get 1 7 failed 5"},
      {"", 1, 16, "close : NULL", "ok | "},
      {"configure -5", 1, 5, "close : NULL", "cas 1 5 -1 0, ok | configure 1 5 stop failed 5"},
      {"", 1, 5, "close : NULL", "cas 1 5 -1 1, ok | configure 1 5 stop"},
      {"close -5", 1, 0, "close : NULL", "cas 1 0 -1 0, ok | close 1 failed 5"},
      {"close 3", 1, 0, "close : NULL", "cas 1 0 3 0, ok | close 1"},
      {"", 1, 0, "close : NULL", "ok | "},  // closed already
      {"open 2", 2, 0, "open : 1", "cas 2 0 2 0, ok | open 2"},
      {"", 2, 0, "close : NULL", "cas 2 0 1 0, ok | close 2"},
      {"", 2, 7, "open : 1",
       "cas 2 0 0 0, cas 2 7 0 1, ok | open 2, configure 2 7 start 1, get 2 7"},
      {"", 0, 3, "get : NULL", "ok | "},
      {"", 3, 0, "open : 1", "cas 3 0 0 0, ok | open 3"},
  };
  Capture err(std::cerr), log(std::clog);
  Send("ioctl : echoSuppressor : TRUE");  // taken, but no CAS command
  EXPECT_EQ("ok | ", Joined(Drain()) + " | " + Joined(Journal(kCas)));
  for (const auto& r : rows) {
    if (*r.fault) board.Control(kCas, std::string("result ") + r.fault);
    Send("ioctl : cas : { channel { path " + std::to_string(r.path) + ", timeslot " +
         std::to_string(r.ts) + " }, cmd " + r.cmd + " }");
    EXPECT_EQ(r.seen, Joined(Drain()) + " | " + Joined(Journal(kCas)))
        << r.path << " " << r.ts << " " << r.cmd;
  }
  std::string opened;
  for (const char* t : {"1) - fail(-1)", "1) - ok", "2) - ok", "2) - ok", "3) - ok"})
    opened += std::string("E1: open cas signalling on trunk(") + t + "\n";
  EXPECT_EQ(opened, Own(log));
  // The controller goes: each trunk it opened is closed, and only those.
  server.OnDisconnect();
  EXPECT_THAT(Drain(), ElementsAre("cas 2 0 1 0", "cas 3 0 1 0"));
  EXPECT_THAT(Journal(kCas), ElementsAre("close 2", "close 3"));
  server.OnDisconnect();
  EXPECT_THAT(Journal(kCas), IsEmpty());
  EXPECT_EQ("", err.text());
}

TEST_F(E1CtlTest, CasEventsAreReadOnePerPass) {
  Connect(new E1Ctl);
  Drain();
  std::string reply;
  ASSERT_TRUE(board.Inject(kCas, {"1", "5", "6", "9"}, &reply));
  ASSERT_TRUE(board.Inject(kCas, {"2", "31", "15", "1"}, &reply));
  ASSERT_TRUE(board.Inject(kCas, {"raw", "0100000005000000060900"}, &reply));  // 11 bytes
  for (const Lines& want : {Lines{"cas 1 5 6 9"}, Lines{"cas 2 31 15 1"}, Lines{}, Lines{}}) {
    OnePass();
    EXPECT_EQ(want, Drain());
  }
  std::ostringstream dump;
  multiplexer.dump(dump);
  const std::string text = dump.str();
  const size_t row = text.find("E1/Cas");
  ASSERT_NE(std::string::npos, row) << text;
  const std::string line = text.substr(row, text.find('\n', row) - row);
  EXPECT_NE(std::string::npos, line.find("|            POLLIN            |")) << line;
}

using BusCtlTest = Bench;

std::string Logged(const std::string& cfg, const char* result) {
  std::ostringstream out;
  out << "clkctl: set clock source cmd: "
      << boardmsg::Cmd(cfg).get_pdu().get_command().get_clockCfg() << "\n";
  if (result) out << "clkctl: " << result << "\n";
  return out.str();
}

TEST_F(BusCtlTest, ConnectFreeRunsThenClockCfgSelects) {
  const struct {
    const char* cfg;
    Lines written;
    const char* result;
  } rows[] = {
      {"internal, bextEn disabled, source -1", {"clock 4"}, "clock source = freerun"},  // connect
      {"internal, bextEn enabled, source 2", {"clock 4"}, "clock source = freerun"},
      {"external, bextEn disabled, source 1", {"clock 5"}, "clock source = X3"},
      {"external, bextEn enabled, source 2", {"clock 2"}, "clock source = f2"},
      {"external, bextEn enabled, source -1", {}, nullptr},
      {"external, bextEn enabled, source 0", {"clock 0"}, "clock source = f0"},
      {"external, bextEn enabled, source 1", {"clock 1"}, "clock source = f1"},
      {"external, bextEn enabled, source 3", {"clock 3"}, "clock source = f3"},
      {"external, bextEn enabled, source 4", {"clock 4"}, "clock source = freerun"},
      {"external, bextEn enabled, source 5", {"clock 5"}, "clock source = X3"},
      {"external, bextEn enabled, source 6", {"clock 6"}, "clock source = ?1"},
      {"external, bextEn enabled, source 7", {"clock 7"}, "clock source = ?2"},
      {"external, bextEn enabled, source 8", {"clock 8"}, "clock source = 8"},  // past the names
      {"external, bextEn enabled, source 3", {"clock 3 failed 5"}, "HW_CLOCK_SELECT fail."},
  };
  Capture out(std::cout), log(std::clog);
  auto* bus = new BusCtl;
  for (const auto& r : rows) {
    const std::string cfg = std::string("clockCfg : { clkSel0 ") + r.cfg + " }";
    Capture err(std::cerr);
    if (&r == rows) {
      Connect(bus);
    } else {
      if (r.written.size() && r.written[0].find("failed") != std::string::npos)
        board.Control(kHal, "fail clock EIO 1");
      Send(cfg);
      EXPECT_THAT(Drain(), ElementsAre("ok"));
    }
    EXPECT_EQ(r.written, Journal(kHal)) << r.cfg;
    EXPECT_EQ(Logged(cfg, r.result), err.text());
  }
  EXPECT_EQ("", out.text() + Own(log));
  EXPECT_THAT(board.Opens(kHal), ElementsAre("O_RDWR|O_CLOEXEC"));  // once
}

TEST_F(BusCtlTest, DisabledControlNeverTouchesTheSelector) {
  Capture out(std::cout), err(std::cerr), log(std::clog);
  auto* bus = new BusCtl;
  bus->DisableControl();
  Connect(bus);
  const std::string cfg = "clockCfg : { clkSel0 external, bextEn enabled, source 2 }";
  Send(cfg);
  EXPECT_THAT(Drain(), ElementsAre("error 6"));  // unsupported
  // Taken: no service bound later is offered it.
  EXPECT_TRUE(bus->OnCommand(boardmsg::Cmd(cfg).get_pdu().get_command()));
  EXPECT_FALSE(bus->IsOpen());
  EXPECT_THAT(board.Opens(kHal), IsEmpty());
  EXPECT_THAT(Journal(kHal), IsEmpty());
  EXPECT_EQ("clock control disabled.\n", Own(log));
  EXPECT_EQ("", out.text() + err.text());
}

TEST_F(BusCtlTest, UnreachableSelectorReleasesTheClockMaster) {
  board.FailOpen(kHal, ENOENT);
  Capture log(std::clog), err(std::cerr);
  BusCtl bus;
  {
    spiCtrl spi;
    BusCtl(&spi).SetDefaultClock();
    bus.DrvSetClkSrc(2);
    board.FailOpen(kHal, 0);
  }  // the line interfaces never opened: their teardown opens nothing either
  EXPECT_EQ("clkctl: set clock source fail: code 1.\nclkctl: device open error\n", err.text());
  EXPECT_EQ(
      "spi: try init\nspi: /dev/hal open fail\nspi: try init\nspi: /dev/hal open fail\n"
      "spi: clock master disabled\n",
      Own(log));
  // The selector appears: the next use opens it.
  bus.DrvSetClkSrc(2);
  EXPECT_THAT(Journal(kHal), ElementsAre("clock 2"));
  EXPECT_THAT(board.Opens(kHal), ElementsAre("O_RDWR|O_CLOEXEC"));
}

class SpiCtrlTest : public Bench {
 protected:
  void Start() {
    Capture log(std::clog);
    spi = Connect(new spiCtrl);
    // Channels 0..6 set up and enabled; channel 7 left as it came up.
    Lines setup;
    std::string logged = "spi: try init\n";
    for (int ch = 0; ch < 7; ++ch) {
      for (const char* w :
           {"50 0x80", "48 0x08", "87 0x30", "52 0x60", "53 0x00", "54 0x00", "55 0x00", "50 0x00"})
        setup.push_back("spi-write " + std::to_string(ch) + " " + w);
      logged += "spi: init channel " + std::to_string(ch) + "\nspi: enable channel " +
                std::to_string(ch) + "\n";
    }
    EXPECT_EQ(setup, Journal(kHal));
    EXPECT_EQ(logged, Own(log));
    EXPECT_THAT(board.Opens(kHal), ElementsAre("O_RDWR|O_CLOEXEC"));
  }
  void Status(int ch, unsigned value) {
    board.Control(kHal, "spi " + std::to_string(ch) + " 51 " + std::to_string(value));
  }
  // The SPI block's part of the switch's journal: a switch opened by an
  // earlier test refreshes its outputs while timers run.
  Lines SpiJournal() {
    Lines spi;
    for (auto& line : Journal(kHal))
      if (line.compare(0, 4, "spi-") == 0) spi.push_back(line);
    return spi;
  }
  spiCtrl* spi = nullptr;
};

TEST_F(SpiCtrlTest, ReportsEveryChannelEachSecondWhileConnected) {
  const unsigned regs[8] = {0xC5, 0x85, 0x45, 0x01, 0x00, 0x05, 0xC1, 0xC4};
  for (int ch = 0; ch < 8; ++ch) Status(ch, regs[ch]);
  Start();
  const Lines report = {"bri 0 normal 0 0 0 0 0",      "bri 1 rai 0 0 0 0 0",
                        "bri 2 ais 0 0 0 0 0",         "bri 3 lossBF 0 0 0 0 0",
                        "bri 4 lossCarrier 0 0 0 0 0", "bri 5 ais 0 0 0 0 0",
                        "bri 6 lossBF 0 0 0 0 0",      "bri 7 lossCarrier 0 0 0 0 0"};
  EXPECT_THAT(Drain(), IsEmpty());  // the first report comes a second later
  Advance(999);
  EXPECT_THAT(Drain(), IsEmpty());
  Advance(1);
  EXPECT_EQ(report, Drain());
  Advance(1000);
  EXPECT_EQ(report, Drain());
  server.OnDisconnect();
  EXPECT_FALSE(spi->reporting());
  Advance(1000);
  EXPECT_THAT(Drain(), IsEmpty());
  server.OnConnect();
  Advance(999);
  EXPECT_THAT(Drain(), IsEmpty());
  Advance(1);
  EXPECT_EQ(report, Drain());
  EXPECT_THAT(SpiJournal(), IsEmpty());  // status reads are not journaled
}

// A slip is counted once per channel while its flag stays set; one channel's
// flag neither hides nor fakes another's.
TEST_F(SpiCtrlTest, EachChannelLatchesItsOwnSlip) {
  Start();
  const struct {
    unsigned set;  // channels whose register 51 flags a slip
    const char* slips;
  } reports[] = {
      {0x01, "10000000"}, {0x01, "00000000"},  // channel 0 latched
      {0xFF, "01111111"}, {0xFF, "00000000"},  // the others latch their own
      {0x7F, "00000000"},                      // channel 7 clears only its own
      {0xFF, "00000001"},
  };
  for (const auto& r : reports) {
    for (int ch = 0; ch < 8; ++ch) Status(ch, r.set >> ch & 1 ? 0xE5 : 0xC5);
    Advance(1000);
    std::string slips;
    for (const std::string& s : Drain()) slips += s.substr(13, 1);
    EXPECT_EQ(r.slips, slips) << r.set;
  }
}

TEST_F(SpiCtrlTest, ChannelRequestsAndTheirBounds) {
  Start();
  auto clockWrites = [](int master) {
    Lines w;
    for (int ch = 0; ch < 8; ++ch) w.push_back("spi-write " + std::to_string(ch) + " 87 0x30");
    if (master >= 0) w.push_back("spi-write " + std::to_string(master) + " 87 0x38");
    return w;
  };
  const struct {
    std::function<void()> op;
    Lines written;
    const char* logged;
  } rows[] = {
      {[&] { spi->init_channel(7); },
       {"spi-write 7 50 0x80", "spi-write 7 48 0x08", "spi-write 7 87 0x30", "spi-write 7 52 0x60",
        "spi-write 7 53 0x00", "spi-write 7 54 0x00", "spi-write 7 55 0x00"},
       "spi: init channel 7\n"},
      {[&] { spi->init_channel(8); }, {}, "spi: bad channel for init 8\n"},
      {[&] { spi->init_channel(-1); }, {}, "spi: bad channel for init -1\n"},
      {[&] { spi->enable_channel(7); }, {"spi-write 7 50 0x00"}, "spi: enable channel 7\n"},
      {[&] { spi->enable_channel(8); }, {}, "spi: bad channel for enable 8\n"},
      {[&] { spi->disable_channel(0); }, {"spi-write 0 50 0x80"}, "spi: disable channel 0\n"},
      {[&] { spi->disable_channel(-1); }, {}, "spi: bad channel for disable -1\n"},
      {[&] { spi->clock(7); }, clockWrites(7), "spi: set clock master on channel 7\n"},
      {[&] { spi->clock(0); }, clockWrites(0), "spi: set clock master on channel 0\n"},
      {[&] { spi->clock(-1); }, clockWrites(-1), "spi: clock master disabled\n"},
      {[&] { spi->clock(8); }, {}, "spi: bad channel for set clock master 8\n"},
      {[&] { spi->clock(-2); }, {}, "spi: bad channel for set clock master -2\n"},
      {[&] {
         board.Control(kHal, "fail spi-write EIO 1");
         spi->disable_channel(2);
       },
       {"spi-write 2 50 0x80 failed 5"},
       "spi: write error: channel=2 addr=50 data=128\nspi: disable channel 2\n"},
      {[&] {  // the register is the result's low 8 bits; the record is the question
         Status(3, 0x5A);
         board.Control(kHal, "spi-high 0x7FFFFF00");
         EXPECT_EQ(0x5Au, spi->read(3, 51));
       },
       {},
       ""},
      {[&] {  // SPI gone under the first write: nothing more, not even the line
         board.Control(kHal, "fail spi-write ENODEV 1");
         spi->clock(-1);
       },
       {"spi-write 0 87 0x30 failed 19"},
       "spi: hal without spi\n"},
  };
  for (const auto& r : rows) {
    Capture out(std::cout), err(std::cerr), log(std::clog);
    r.op();
    EXPECT_EQ(r.written, Journal(kHal)) << r.logged;
    EXPECT_EQ(r.logged, Own(log));
    EXPECT_EQ("", out.text() + err.text());
  }
}

TEST_F(SpiCtrlTest, TearDownDisablesEveryChannelAndClosesTheDevice) {
  const int before = board.OpenCount(kHal);
  Capture log(std::clog);
  {
    spiCtrl alone;
    EXPECT_EQ(before + 1, board.OpenCount(kHal));
    Journal(kHal);
    log.clear();
  }
  Lines written;
  std::string logged;
  for (int ch = 0; ch < 8; ++ch) {
    written.push_back("spi-write " + std::to_string(ch) + " 50 0x80");
    logged += "spi: disable channel " + std::to_string(ch) + "\n";
  }
  for (int ch = 0; ch < 8; ++ch) written.push_back("spi-write " + std::to_string(ch) + " 87 0x30");
  EXPECT_EQ(written, Journal(kHal));
  EXPECT_EQ(logged + "spi: clock master disabled\n", Own(log));
  EXPECT_EQ(before, board.OpenCount(kHal));
  // A device that could not be opened is tried again by the next request.
  board.FailOpen(kHal, ENOENT);
  spiCtrl late;
  board.FailOpen(kHal, 0);
  late.disable_channel(3);
  EXPECT_THAT(Journal(kHal), SizeIs(57));  // channels 0..6 set up, then channel 3
}

TEST_F(SpiCtrlTest, NoSpiAtStartUpMeansNoReportEver) {
  board.Control(kHal, "spi-present off");
  Capture log(std::clog);
  spi = Connect(new spiCtrl);
  EXPECT_EQ("spi: try init\nspi: hal without spi\n", Own(log));
  EXPECT_THAT(Journal(kHal), ElementsAre("spi-write 0 50 0x80 failed 19"));
  EXPECT_FALSE(spi->reporting());
  board.Control(kHal, "spi-present on");
  server.OnConnect();
  EXPECT_FALSE(spi->reporting());
  spi->clock(3);
  spi->clock(8);  // not even the bad channels are logged
  spi->init_channel(8);
  spi->enable_channel(8);
  spi->init_channel(1);
  spi->enable_channel(1);
  spi->disable_channel(1);
  spi->status();
  EXPECT_EQ(0u, spi->read(0, 51));
  Advance(1000);
  EXPECT_THAT(Drain(), IsEmpty());
  EXPECT_THAT(SpiJournal(), IsEmpty());
  EXPECT_EQ("spi: try init\nspi: hal without spi\n", Own(log));
}

TEST_F(SpiCtrlTest, LosingSpiSilencesTheServiceForGood) {
  Start();
  board.Control(kHal, "fail spi-read EIO 1");
  Capture log(std::clog);
  Advance(1000);
  EXPECT_EQ("bri 0 lossCarrier 0 0 0 0 0", Drain().at(0));
  board.Control(kHal, "fail spi-read ENODEV 1");
  Advance(1000);
  EXPECT_THAT(Drain(), IsEmpty());  // nothing for the channels never read
  EXPECT_FALSE(spi->reporting());
  spi->clock(-1);
  Advance(1000);
  EXPECT_THAT(Drain(), IsEmpty());
  EXPECT_EQ("spi: read error: channel=0 addr=51\nspi: hal without spi\n", Own(log));
  EXPECT_THAT(SpiJournal(), ElementsAre("spi-read 0 51 failed 5", "spi-read 0 51 failed 19"));
}

// Without a standard input the first device opened is descriptor 0: each
// service keeps it as open, and opens nothing twice.
TEST_F(SpiCtrlTest, DescriptorZeroIsOpenToo) {
  const int in = ::dup(0);
  Capture log(std::clog), err(std::cerr);
  ::close(0);
  // Each service closes descriptor 0 with itself.
  auto closed = [] { return ::fcntl(0, F_GETFD) < 0; };
  {
    spiCtrl zero;
    EXPECT_THAT(Journal(kHal), SizeIs(56));  // set up as usual
    zero.enable_channel(1);
    EXPECT_EQ(0xC5u, zero.read(1, 51));
    EXPECT_THAT(Journal(kHal), ElementsAre("spi-write 1 50 0x00"));
    zero.OnConnect();
    EXPECT_TRUE(zero.reporting());
  }
  EXPECT_THAT(Journal(kHal), SizeIs(16));  // its teardown
  EXPECT_TRUE(closed());
  {
    BusCtl zero;
    zero.DrvSetClkSrc(2);
    zero.DrvSetClkSrc(3);
  }
  EXPECT_TRUE(closed());
  {
    E1Ctl zero;
    EXPECT_TRUE(zero.CheckOpenCas() && zero.CheckOpenCas());
  }
  EXPECT_TRUE(closed());
  {
    E1Ctl zero;
    EXPECT_TRUE(zero.IsOpen() && zero.IsOpen());
  }
  EXPECT_TRUE(closed());
  ::dup2(in, 0);
  ::close(in);
  EXPECT_THAT(Journal(kHal), ElementsAre("clock 2", "clock 3"));
  EXPECT_THAT(board.Opens(kHal), ElementsAre("O_RDWR|O_CLOEXEC", "O_RDWR|O_CLOEXEC"));
  EXPECT_THAT(board.Opens(kCas), SizeIs(1));
  EXPECT_THAT(board.Opens(kMaint), SizeIs(1));
}

using HwTestsTest = Bench;

std::string TestBpc(int bus, int seed, const char* mode, int start, int length) {
  return "testBpc : { bus " + std::to_string(bus) + ", seed " + std::to_string(seed) + ", mode " +
         mode + " : NULL, timeslot-start " + std::to_string(start) + ", timeslot-length " +
         std::to_string(length) + " }";
}
std::string Hex(unsigned b) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X ", b);
  return buf;
}

// The switch requests of a run: `op` ("write", "read") of channel
// first + i with the byte of the seed's sequence, for i < n.
Lines Requests(const char* op, int first, const std::vector<unsigned>& bytes, size_t n) {
  Lines out;
  for (size_t i = 0; i < n; ++i)
    out.push_back(op + (" " + std::to_string(first + int(i))) + " 0x" + Hex(bytes[i]).substr(0, 2));
  return out;
}

TEST_F(HwTestsTest, WrittenRunReadsBackWithTheSameSeedOnly) {
  std::vector<unsigned> bytes[2];
  for (int seed : {7, 8}) {
    srandom(seed);
    for (int i = 0; i < 100; ++i) bytes[seed - 7].push_back(random() & 0xFF);
  }
  unsigned first = 0;
  while (bytes[0][first] == bytes[1][first]) ++first;
  HwMux::instance();  // opened, its first sweep done
  Journal(kHal);
  Capture err(std::cerr), log(std::clog);
  Connect(new HwTests);
  log.clear();
  const int run = 8192 + 2 * 128 + 100;  // on into bus 3
  Send(TestBpc(2, 7, "write", 100, 100));
  Lines expect = Requests("write", run, bytes[0], 100),
        reads = Requests("read", run, bytes[0], 100);
  expect.insert(expect.end(), reads.begin(), reads.end());
  EXPECT_EQ(expect, Journal(kHal));
  Send(TestBpc(2, 7, "read", 100, 100));
  EXPECT_EQ(reads, Journal(kHal));
  Send(TestBpc(2, 8, "read", 100, 100));  // stops at the first mismatch
  EXPECT_EQ(Lines(reads.begin(), reads.begin() + first + 1), Journal(kHal));
  for (const char* mode : {"read", "write", "disconnect"}) Send(TestBpc(15, 4, mode, 127, 0));
  EXPECT_THAT(Journal(kHal), IsEmpty());
  EXPECT_THAT(Drain(), ElementsAre("ok", "ok", "error 10", "ok", "ok", "ok"));
  EXPECT_EQ("bus 2: test failed on channel " + std::to_string((100 + first) % 128) + " expected " +
                Hex(bytes[1][first]) + " read " + Hex(bytes[0][first]) + "\n",
            err.text());
  err.clear();
  Send(TestBpc(2, 7, "disconnect", 126, 3));
  EXPECT_THAT(Journal(kHal), ElementsAre("disable 8574", "disable 8575", "disable 8576"));
  LGCP::Message noMode = boardmsg::Cmd(TestBpc(1, 7, "read", 0, 2));
  noMode.get_pdu().get_command().get_testBpc().get_mode().setSelection(
      LGCP::BpcTestMode::unselected_, nullptr);
  server.OnMessage(noMode);
  Send("clockCfg : { clkSel0 external, bextEn enabled, source 2 }");  // not the bus test's
  EXPECT_THAT(Journal(kHal), IsEmpty());
  board.Control(kHal, "fail write EIO 1");
  Send(TestBpc(1, 7, "write", 0, 2));
  EXPECT_THAT(Drain(), ElementsAre("ok", "error 0", "error 4", "error 10"));
  EXPECT_EQ("bus 1: write failed on channel 0 write " + Hex(bytes[0][0]) + " written FF \n",
            err.text());
  EXPECT_EQ(
      "hwMux: write failed 8320 <- 0x" + Hex(bytes[0][0]).substr(0, 2) + " : Input/output error\n",
      log.text());
}

}  // namespace
