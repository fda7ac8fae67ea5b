// E1Ctl against the simulated maintenance and CAS drivers, through a
// control server whose controller is the test.
#include "hardware/e1ctl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hardware/service_bench.h"
#include "sim/e1ctl.h"

namespace {

using boardmsg::Cas;
using boardmsg::TrunkCfg;
using hwtest::Journal;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kMaint = "/dev/maintenance";
constexpr const char* kCas = "/dev/e1-cas";
enum { kOpen, kClose, kSet, kGet };

std::string Healthy(int t) {
  return "trunk " + std::to_string(t) +
         " normal slips 0 bf 0 carrier 0 ais 0 rai 0 name '' master 0 e1";
}

class E1CtlTest : public hwtest::ServiceBench {
 protected:
  void SetUp() override {
    ServiceBench::SetUp();
    server.Bind(&e1);
  }
  void ConnectQuietly() {
    Capture log(std::clog);
    Connect();
    Drain();
    Journal(kCas);
    Journal(kMaint);
  }
  sim::Board& board = sim::Board::instance();
  E1Ctl e1;
};

TEST_F(E1CtlTest, EveryTrunkOnConnectThenEverySecond) {
  board.Control(kMaint, "trunk 1 state 3 slips 7 lossBF 1 lossCarrier 2 ais 3 rai 4");
  board.Control(kMaint, "trunk 2 state 9");  // no such state
  board.Control(kMaint, "fail 3 EIO");
  Capture err(std::cerr), log(std::clog);
  Connect();
  const std::vector<std::string> round = {
      Healthy(0), "trunk 1 ais slips 7 bf 1 carrier 2 ais 3 rai 4 name '' master 0 e1",
      "trunk 2 unknown slips 0 bf 0 carrier 0 ais 0 rai 0 name '' master 0 e1"};
  EXPECT_EQ(round, Drain());
  EXPECT_EQ("E1: synchronization status read fail, trunk = 3 cause = Input/output error\n",
            err.text());
  EXPECT_THAT(hwtest::Lines(log), ElementsAre("E1: TCLT = 0x0", "E1: cas interface opened!"));
  EXPECT_THAT(Journal(kMaint), ElementsAre("tclk 0x0"));
  Advance(999);
  EXPECT_THAT(Drain(), IsEmpty());
  Advance(1);
  EXPECT_EQ(round, Drain());
  // The cycle outlives the controller.
  server.OnDisconnect();
  Advance(1000);
  EXPECT_EQ(3u, hwtest::Lines(err).size());  // trunk 3 once more
}

TEST_F(E1CtlTest, NoMaintenanceDeviceMeansSilenceUntilItAppears) {
  board.FailOpen(kMaint, ENOENT);
  Capture err(std::cerr), log(std::clog);
  Connect();
  EXPECT_THAT(Drain(), IsEmpty());
  Send(TrunkCfg(1, LGCP::TrunkMode::slave));
  EXPECT_THAT(Drain(), ElementsAre("success"));
  EXPECT_EQ("", err.text());
  EXPECT_THAT(hwtest::Lines(log), ElementsAre("E1: cas interface opened!"));
  board.FailOpen(kMaint, 0);
  Advance(1000);
  EXPECT_THAT(Drain(), ElementsAre(Healthy(0), Healthy(1), Healthy(2), Healthy(3)));
}

TEST_F(E1CtlTest, TrunkCfgKeepsTheClockMask) {
  ConnectQuietly();
  struct Row {
    int trunk, mode;
    std::vector<std::string> written;
  } rows[] = {
      {3, LGCP::TrunkMode::slave, {"tclk 0x8"}},
      {0, LGCP::TrunkMode::slave, {"tclk 0x9"}},
      {3, LGCP::TrunkMode::master, {"tclk 0x1"}},
      {31, LGCP::TrunkMode::slave, {"tclk 0x80000001"}},
      {-1, LGCP::TrunkMode::slave, {}},  // no such trunk
      {32, LGCP::TrunkMode::slave, {}},  // beyond the mask
      {1, 7, {}},                        // no such mode
  };
  for (const Row& r : rows) {
    Capture log(std::clog);
    Send(TrunkCfg(r.trunk, r.mode));
    EXPECT_THAT(Drain(), ElementsAre("success")) << r.trunk;
    EXPECT_EQ(r.written, Journal(kMaint)) << r.trunk;
    EXPECT_EQ(r.written.empty() ? "" : "E1: TCLT = 0x" + r.written[0].substr(7) + "\n", log.text());
  }
  board.Control(kMaint, "fail-tclk EBUSY");
  Capture err(std::cerr);
  Send(TrunkCfg(2, LGCP::TrunkMode::slave));
  EXPECT_EQ("E1: fail to set TCLK [cause=Device or resource busy]\n", err.text());
  // A new controller starts with every trunk a clock master.
  board.Control(kMaint, "fail-tclk 0");
  server.OnDisconnect();
  ConnectQuietly();
  EXPECT_EQ(0u, e1.tclk());
}

TEST_F(E1CtlTest, CasOpenSetGetClose) {
  ConnectQuietly();
  board.Control(kCas, "rx 1 5 6");
  struct Row {
    LGCP::Command cmd;
    std::vector<std::string> signals;
    std::vector<std::string> requests;
  } rows[] = {
      {Cas(1, 5, kSet, 3), {}, {}},  // trunk not open yet
      {Cas(1, 5, kOpen, 0x19),
       {"cas 1 0 rx 0 tx 0", "cas 1 5 rx 6 tx 9"},
       {"open 1", "configure 1 5 start 9", "get 1 5"}},
      {Cas(1, 16, kOpen, 1), {"cas 1 0 rx 0 tx 0"}, {}},
      {Cas(1, 5, kSet, 3), {"cas 1 5 rx 6 tx 3"}, {"set 1 5 3", "get 1 5"}},
      {Cas(1, 5, kGet), {"cas 1 5 rx 6 tx 3"}, {"get 1 5"}},
      {Cas(1, 5, kClose), {"cas 1 5 rx -1 tx 1"}, {"configure 1 5 stop"}},
      {Cas(1, 0, kClose), {"cas 1 0 rx 1 tx 0"}, {"close 1"}},
      {Cas(1, 0, kClose), {}, {}},  // closed already
      {Cas(4, 5, kOpen, 1), {}, {}},
      {Cas(-1, 5, kOpen, 1), {}, {}},
  };
  for (const Row& r : rows) {
    Capture log(std::clog);
    Send(r.cmd);
    std::vector<std::string> want = r.signals;
    want.push_back("success");
    EXPECT_EQ(want, Drain()) << r.cmd;
    EXPECT_EQ(r.requests, Journal(kCas)) << r.cmd;
  }
  EXPECT_FALSE(e1.CasOpen(1));
}

TEST_F(E1CtlTest, CasFailuresReachTheControllerAsResults) {
  ConnectQuietly();
  board.Control(kCas, "result open -5");
  Capture log(std::clog);
  Send(Cas(2, 3, kOpen, 1));
  EXPECT_THAT(Drain(), ElementsAre("cas 2 0 rx -1 tx 0", "success"));
  EXPECT_EQ("E1: open cas signalling on trunk(2) - fail(-1)\n", log.text());
  EXPECT_FALSE(e1.CasOpen(2));
  board.Control(kCas, "result configure -5");
  Send(Cas(2, 3, kOpen, 1));
  EXPECT_THAT(Drain(), ElementsAre("cas 2 0 rx 0 tx 0", "cas 2 3 rx -1 tx 0", "success"));
  board.Control(kCas, "result get -5");
  Send(Cas(2, 4, kOpen, 1));
  EXPECT_THAT(Drain(), ElementsAre("cas 2 0 rx 0 tx 0", "cas 2 4 rx -1 tx 0", "success"));
  board.Control(kCas, "result set -5");
  Send(Cas(2, 4, kSet, 1));
  EXPECT_THAT(Drain(), ElementsAre("cas 2 4 rx -1 tx 0", "success"));
  board.Control(kCas, "result close -5");
  Send(Cas(2, 0, kClose));
  EXPECT_THAT(Drain(), ElementsAre("cas 2 0 rx -1 tx 0", "success"));
  EXPECT_TRUE(e1.CasOpen(2));  // still open: the close failed
  // Every trunk still open is closed when the controller goes.
  Journal(kCas);
  server.OnDisconnect();
  EXPECT_THAT(Journal(kCas), ElementsAre("close 2"));
  EXPECT_FALSE(e1.CasOpen(2));
}

TEST_F(E1CtlTest, CasEventsBecomeSignals) {
  Mux::g_tv_time = Mux::timeval();  // the loop runs on its live clock here
  ConnectQuietly();
  std::string reply;
  ASSERT_TRUE(board.Inject(kCas, {"2", "7", "5", "1"}, &reply)) << reply;
  ASSERT_TRUE(board.Inject(kCas, {"3", "9", "15", "0"}, &reply)) << reply;
  std::vector<std::string> cas;
  ctrltest::LoopRunner loop;
  loop.RunUntil([&] {
    for (auto& s : Drain())
      if (s.compare(0, 4, "cas ") == 0) cas.push_back(s);
    return cas.size() >= 2;
  });
  EXPECT_THAT(cas, ElementsAre("cas 2 7 rx 5 tx 1", "cas 3 9 rx 15 tx 0"));
}

}  // namespace
