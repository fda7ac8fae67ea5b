// The board's hardware services from the outside: velmard-sim driven over
// TCP as a controller would, the simulated board changed through its
// control socket.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "blackbox/harness.h"
#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"
#include "hardware/board_msgs.h"

namespace {

using ::testing::ElementsAre;
using Lines = std::vector<std::string>;

class BoardRoad : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> args = {}) {
    int port = blackbox::FreePort();
    args.insert(args.begin(), {"--port", std::to_string(port)});
    ASSERT_TRUE(daemon_.Start(args));
    ASSERT_TRUE(sim_.Connect(daemon_.simSocket()));
    ASSERT_TRUE(blackbox::WaitFor([&] { return bool(c_ = ctrltest::ConnectTo(port)); }));
  }
  void Send(const std::string& command) {
    auto f = ctrltest::Frame(lgcptest::Encode(boardmsg::Cmd(command)));
    ASSERT_TRUE(ctrltest::WriteAll(c_.get(), f.data(), f.size()));
  }
  // The next n messages that start with `kind`; with no kind, the next n
  // that are no trunk or power report. Every message lands in all_.
  Lines Next(size_t n, const std::string& kind = "") {
    Lines seen;
    std::vector<unsigned char> body;
    while (seen.size() < n && ctrltest::ReadFrame(c_.get(), body, 20000)) {
      all_.push_back(boardmsg::Describe(body));
      const std::string& s = all_.back();
      // The power state every controller gets on connect counts as a report.
      bool trunk = s.compare(0, 3, "e1 ") == 0 || s.compare(0, 4, "bri ") == 0 || s == "signal 17";
      if (kind.empty() ? !trunk : s.compare(0, kind.size(), kind) == 0) seen.push_back(s);
    }
    return seen;
  }
  std::string Ctl(const std::string& line) {
    Lines data;
    return sim_.Ask(line, &data) ? (data.empty() ? "" : data[0]) : "error";
  }
  Lines Ask(const std::string& line) {
    Lines data;
    if (!sim_.Ask(line, &data)) data.push_back("error");
    return data;
  }

  blackbox::Sandbox sandbox_;
  blackbox::Daemon daemon_{sandbox_};
  blackbox::SimControl sim_;
  Fd c_;
  Lines all_;
};

using BoardMaintenance = BoardRoad;
using BoardCas = BoardRoad;
using HwTestsRoad = BoardRoad;
using BusCtlRoad = BoardRoad;

TEST_F(BoardMaintenance, TrunkAndBriStatusEverySecond) {
  Start();
  EXPECT_THAT(Next(4, "e1"), ElementsAre("e1 0 normal 0 0 0 0 0", "e1 1 normal 0 0 0 0 0",
                                         "e1 2 normal 0 0 0 0 0", "e1 3 normal 0 0 0 0 0"));
  EXPECT_EQ("", Ctl("ctl /dev/maintenance trunk 2 state 2 lossCarrier 5"));
  EXPECT_EQ("e1 2 lossCarrier 0 0 5 0 0", Next(8, "e1").at(6));
  Lines bri;
  for (auto& s : all_)
    if (s.compare(0, 4, "bri ") == 0) bri.push_back(s);
  ASSERT_GE(bri.size(), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ("bri " + std::to_string(i) + " normal 0 0 0 0 0", bri[i]);
  // Two rounds later each device is still open once: the switch, the line
  // interfaces, then the clock selector at the connect.
  const Lines e1 = {"open O_RDWR|O_NONBLOCK|O_CLOEXEC"};
  EXPECT_EQ(e1, Ask("opens /dev/maintenance"));
  EXPECT_EQ(e1, Ask("opens /dev/e1-cas"));
  EXPECT_EQ((Lines{"open O_RDWR", "open O_RDWR|O_CLOEXEC", "open O_RDWR|O_CLOEXEC"}),
            Ask("opens /dev/hal"));
  EXPECT_EQ("opened 1", Ctl("opened /dev/maintenance"));
  EXPECT_EQ("opened 1", Ctl("opened /dev/e1-cas"));
  EXPECT_EQ("opened 3", Ctl("opened /dev/hal"));
}

TEST_F(BoardCas, RoundTripAndInjectedEvent) {
  Start();
  ASSERT_TRUE(daemon_.WaitLine(blackbox::kStderr, "E1: cas interface opened!"));
  EXPECT_EQ("", Ctl("ctl /dev/e1-cas rx 1 5 6"));
  const std::string cas = "ioctl : cas : { channel { path 1, timeslot 5 }, cmd ";
  Send(cas + "open : 9 }");
  Send(cas + "set : 3 }");
  Send(cas + "get : NULL }");
  EXPECT_THAT(Next(7), ElementsAre("cas 1 0 0 0", "cas 1 5 6 9", "ok", "cas 1 5 6 3", "ok",
                                   "cas 1 5 6 3", "ok"));
  EXPECT_EQ("", Ctl("inject /dev/e1-cas 2 7 5 1"));
  EXPECT_THAT(Next(1, "cas"), ElementsAre("cas 2 7 5 1"));
  // The status table lists the CAS device, polled for input only.
  ASSERT_TRUE(daemon_.Signal(SIGUSR2));
  std::string status;
  ASSERT_TRUE(blackbox::WaitFor([&] {
    sandbox_.ReadFile("/var/log/server-status", &status);
    return status.size() > 4 && status.compare(status.size() - 4, 4, "-+\n\n") == 0;
  }));
  const size_t row = status.find("|                 E1/Cas                 |");
  ASSERT_NE(std::string::npos, row) << status;
  EXPECT_EQ("|            POLLIN            |", status.substr(row + 41, 32));
  // The controller goes: the trunk it opened is closed, the device stays.
  c_.close();
  EXPECT_TRUE(sim_.WaitJournal("/dev/e1-cas", "close 1", 1));
  Lines journal;
  for (const std::string& e : Ask("journal /dev/e1-cas"))  // "entry MS TEXT"
    journal.push_back(e.substr(e.find(' ', 6) + 1));
  EXPECT_EQ((Lines{"open 1", "configure 1 5 start 9", "get 1 5", "set 1 5 3", "get 1 5", "get 1 5",
                   "close 1"}),
            journal);
  EXPECT_EQ("opened 1", Ctl("opened /dev/e1-cas"));
}

TEST_F(HwTestsRoad, BpcWriteThenRead) {
  Start();
  const std::string run = " : NULL, timeslot-start 0, timeslot-length 20 }";
  Send("testBpc : { bus 4, seed 7, mode write" + run);
  Send("testBpc : { bus 4, seed 7, mode read" + run);
  Send("testBpc : { bus 4, seed 8, mode read" + run);
  EXPECT_THAT(Next(3), ElementsAre("ok", "ok", "error 10"));
  EXPECT_TRUE(daemon_.WaitLine(blackbox::kStderr, "bus 4: test failed on channel "));
  // The switch opened the device first, at start-up: read-write, close-on-exec
  // set afterwards.
  Lines opens;
  ASSERT_TRUE(sim_.Ask("opens /dev/hal", &opens));
  ASSERT_FALSE(opens.empty());
  EXPECT_EQ("open O_RDWR", opens[0]);
}

TEST_F(BusCtlRoad, ClockCfgSelectsTheSource) {
  Start();
  ASSERT_TRUE(blackbox::WaitFor([&] { return Ctl("ctl /dev/hal clock") == "clock 4"; }));
  Send("clockCfg : { clkSel0 external, bextEn enabled, source 2 }");
  EXPECT_THAT(Next(1), ElementsAre("ok"));
  EXPECT_EQ("clock 2", Ctl("ctl /dev/hal clock"));
}

TEST_F(BusCtlRoad, DisabledClockRefusesClockCfg) {
  Start({"--disable-clock"});
  Send("clockCfg : { clkSel0 external, bextEn enabled, source 2 }");
  EXPECT_THAT(Next(1), ElementsAre("error 6"));  // unsupported
  EXPECT_EQ("clock -1", Ctl("ctl /dev/hal clock"));
  EXPECT_TRUE(daemon_.WaitLine(blackbox::kStderr, "clock control disabled."));
  EXPECT_EQ((Lines{"open O_RDWR", "open O_RDWR|O_CLOEXEC"}), Ask("opens /dev/hal"));  // no selector
}

}  // namespace
