// The hardware control services against the simulated board, through a
// control server whose controller is the test. The loop's clock is frozen:
// timers fire only when Advance moves it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

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

TEST_F(E1CtlTest, EveryTrunkOnConnectThenEverySecond) {
  board.Control(kMaint, "trunk 1 state 3 slips 7 lossBF 1 lossCarrier 2 ais 3 rai 4");
  board.Control(kMaint, "trunk 2 state 9");  // no such state
  board.Control(kMaint, "fail 3 EIO");
  Capture err(std::cerr), log(std::clog);
  Connect(new E1Ctl);
  const Lines round = {"e1 0 normal 0 0 0 0 0", "e1 1 ais 7 1 2 3 4", "e1 2 unknown 0 0 0 0 0"};
  EXPECT_EQ(round, Drain());
  EXPECT_EQ("E1: synchronization status read fail, trunk = 3 cause = Input/output error\n",
            err.text());
  EXPECT_NE(std::string::npos, log.text().find("E1: TCLT = 0x0\nE1: cas interface opened!\n"));
  EXPECT_THAT(Journal(kMaint), ElementsAre("tclk 0x0"));
  Advance(999);
  EXPECT_THAT(Drain(), IsEmpty());
  Advance(1);
  EXPECT_EQ(round, Drain());
  // Trunks that take their clock from the line; no shift past the mask.
  for (const char* cfg :
       {"3, mode slave", "31, mode slave", "3, mode master", "-1, mode slave", "32, mode slave"})
    Send(std::string("trunkCfg : { trunk ") + cfg + " }");
  EXPECT_THAT(Journal(kMaint), ElementsAre("tclk 0x8", "tclk 0x80000008", "tclk 0x80000000"));
}

TEST_F(E1CtlTest, CasCommandsAndTheirOutcomes) {
  Connect(new E1Ctl);
  Drain();
  board.Control(kCas, "rx 1 5 6");
  auto cas = [](int path, int ts, const std::string& cmd) {
    return "ioctl : cas : { channel { path " + std::to_string(path) + ", timeslot " +
           std::to_string(ts) + " }, cmd " + cmd + " }";
  };
  const struct {
    const char* fault;  // "OP VALUE" armed first, or ""
    std::string cmd;
    Lines signals;
  } rows[] = {
      {"", cas(1, 5, "set : 3"), {}},  // trunk not open
      {"open -5", cas(1, 5, "open : 1"), {"cas 1 0 -1 0"}},
      {"", cas(1, 5, "open : 25"), {"cas 1 0 0 0", "cas 1 5 6 9"}},
      {"", cas(1, 16, "open : 1"), {"cas 1 0 0 0"}},
      {"", cas(1, 5, "set : 3"), {"cas 1 5 6 3"}},
      {"get -5", cas(1, 5, "get : NULL"), {"cas 1 5 -1 0"}},
      {"configure -5", cas(1, 6, "open : 1"), {"cas 1 0 0 0", "cas 1 6 -1 0"}},
      {"", cas(1, 5, "close : NULL"), {"cas 1 5 -1 1"}},
      {"close -5", cas(1, 0, "close : NULL"), {"cas 1 0 -1 0"}},
      {"", cas(1, 0, "close : NULL"), {"cas 1 0 1 0"}},
      {"", cas(1, 0, "close : NULL"), {}},  // closed already
      {"", cas(2, 7, "open : 1"), {"cas 2 0 0 0", "cas 2 7 0 1"}},
  };
  for (const auto& r : rows) {
    if (*r.fault) board.Control(kCas, std::string("result ") + r.fault);
    Send(r.cmd);
    Lines want = r.signals;
    want.push_back("ok");
    EXPECT_EQ(want, Drain()) << r.cmd;
  }
  EXPECT_THAT(Journal(kCas), ::testing::Contains("configure 1 5 start 9"));
  server.OnDisconnect();  // trunk 2 is still open
  EXPECT_THAT(Journal(kCas), ElementsAre("close 2"));
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
      {"external, bextEn enabled, source 9", {"clock 9"}, "clock source = 9"},  // past the names
      {"external, bextEn enabled, source 3", {"clock 3 failed 5"}, "HW_CLOCK_SELECT fail."},
  };
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
}

TEST_F(BusCtlTest, UnreachableSelectorReleasesTheClockMaster) {
  board.FailOpen(kHal, ENOENT);
  Capture log(std::clog), err(std::cerr);
  spiCtrl spi;
  BusCtl(&spi).SetDefaultClock();
  EXPECT_EQ("clkctl: set clock source fail: code 1.\n", err.text());
  EXPECT_NE(std::string::npos, log.text().find("open fail\nspi: clock master disabled\n"));
}

class SpiCtrlTest : public Bench {
 protected:
  void Start() {
    Capture log(std::clog);
    spi = Connect(new spiCtrl);
    Lines setup = Journal(kHal);  // channels 0..6, eight writes each
    EXPECT_EQ("56 spi-write 6 50 0x80 spi-write 6 50 0x00",
              std::to_string(setup.size()) + " " + setup.at(48) + " " + setup.at(55));
  }
  void Status(int ch, unsigned value) {
    board.Control(kHal, "spi " + std::to_string(ch) + " 51 " + std::to_string(value));
  }
  spiCtrl* spi = nullptr;
};

TEST_F(SpiCtrlTest, ReportsEveryChannelEachSecondWhileConnected) {
  const unsigned regs[8] = {0xC5, 0x85, 0x45, 0x01, 0x00, 0x05, 0xC1, 0xC4};
  for (int ch = 0; ch < 8; ++ch) Status(ch, regs[ch]);
  Start();
  EXPECT_THAT(Drain(), IsEmpty());  // the first report comes a second later
  Advance(1000);
  EXPECT_THAT(Drain(), ElementsAre("bri 0 normal 0 0 0 0 0", "bri 1 rai 0 0 0 0 0",
                                   "bri 2 ais 0 0 0 0 0", "bri 3 lossBF 0 0 0 0 0",
                                   "bri 4 lossCarrier 0 0 0 0 0", "bri 5 ais 0 0 0 0 0",
                                   "bri 6 lossBF 0 0 0 0 0", "bri 7 lossCarrier 0 0 0 0 0"));
  server.OnDisconnect();
  EXPECT_FALSE(spi->reporting());
}

TEST_F(SpiCtrlTest, EachChannelLatchesItsOwnSlip) {
  Start();
  std::string seen;
  for (unsigned reg0 : {0xE5u, 0xE5u, 0xC5u, 0xE5u}) {
    Status(0, reg0);  // bit 5: a slip; channel 1 has none
    Advance(1000);
    seen += Drain().at(0).substr(13, 1);
  }
  EXPECT_EQ("1001", seen);
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
  EXPECT_EQ("spi: read error: channel=0 addr=51\nspi: hal without spi\n", log.text());
  // Only the SPI block: a switch opened by an earlier test refreshes its outputs here too.
  Lines spi;
  for (auto& line : Journal(kHal))
    if (line.compare(0, 4, "spi-") == 0) spi.push_back(line);
  EXPECT_THAT(spi, ElementsAre("spi-read 0 51 failed 5", "spi-read 0 51 failed 19"));
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
