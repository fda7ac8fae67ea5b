// The board's hardware services from the outside: velmard-sim driven over
// TCP as a controller would, the simulated board watched and changed
// through its control socket.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "blackbox/harness.h"
#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"
#include "hardware/board_msgs.h"

namespace {

using blackbox::kStderr;
using blackbox::kStdout;
using boardmsg::Describe;
using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

class BoardRoad : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> extra = {}) {
    port_ = blackbox::FreePort();
    ASSERT_GT(port_, 0);
    std::vector<std::string> args = {"--port", std::to_string(port_)};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(daemon_.Start(args));
    ASSERT_TRUE(daemon_.WaitLine(kStdout, "Starting server"));
    ASSERT_TRUE(sim_.Connect(daemon_.simSocket()));
    blackbox::WaitFor([&] {
      c_ = ctrltest::ConnectTo(static_cast<unsigned short>(port_));
      return bool(c_);
    });
    ASSERT_TRUE(c_);
    connected_ = Clock::now();
  }
  void Send(LGCP::Command const& cmd, int seq = 1) {
    auto f = ctrltest::Frame(lgcptest::Encode(boardmsg::Wrap(cmd, seq)));
    ASSERT_TRUE(ctrltest::WriteAll(c_.get(), f.data(), f.size()));
  }
  // What arrives, one line each, until `last` has come (true) or the
  // connection goes quiet (false); lines that `keep` refuses are dropped.
  bool Until(std::vector<std::string>& seen, std::function<bool(const std::string&)> last,
             std::function<bool(const std::string&)> keep = nullptr) {
    for (;;) {
      std::vector<unsigned char> body;
      if (!ctrltest::ReadFrame(c_.get(), body, 20000)) return false;
      LGCP::Message m;
      ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
      const char* b = reinterpret_cast<const char*>(body.data());
      std::string text = ASN1::decode(b, b + body.size(), &env, m, true) ? Describe(m) : "??";
      if (!keep || keep(text)) seen.push_back(text);
      if (last(text)) return true;
    }
  }
  // The answers and CAS signals up to the next answer (trunk reports and
  // the power state sent on connect are left out).
  std::vector<std::string> Answer() {
    std::vector<std::string> seen;
    Until(
        seen, [](const std::string& s) { return s == "success" || s.compare(0, 5, "error") == 0; },
        [](const std::string& s) { return s.compare(0, 6, "trunk ") != 0 && s != "signal 17"; });
    return seen;
  }
  std::string Ctl(const std::string& line) {
    std::vector<std::string> data;
    std::string error;
    if (!sim_.Ask(line, &data, &error)) return "error " + error;
    return data.empty() ? "" : data[0];
  }

  blackbox::Sandbox sandbox_;
  blackbox::Daemon daemon_{sandbox_};
  blackbox::SimControl sim_;
  Fd c_;
  int port_ = 0;
  Clock::time_point connected_;
};

bool IsE1(const std::string& s) {
  return s.compare(0, 6, "trunk ") == 0 && s.substr(s.size() - 3) == " e1";
}
bool IsBri(const std::string& s) {
  return s.compare(0, 6, "trunk ") == 0 && s.substr(s.size() - 4) == " bri";
}
std::string Line(int t, const char* state, int carrier, const char* type) {
  return "trunk " + std::to_string(t) + " " + state + " slips 0 bf 0 carrier " +
         std::to_string(carrier) + " ais 0 rai 0 name '' master 0 " + type;
}

TEST_F(BoardRoad, E1CtlTrunkStatusOnConnectAndEverySecond) {
  Start();
  std::vector<std::string> e1;
  ASSERT_TRUE(Until(
      e1, [&](const std::string&) { return e1.size() == 4; }, IsE1));
  EXPECT_THAT(e1, ElementsAre(Line(0, "normal", 0, "e1"), Line(1, "normal", 0, "e1"),
                              Line(2, "normal", 0, "e1"), Line(3, "normal", 0, "e1")));
  EXPECT_EQ("", Ctl("ctl /dev/maintenance trunk 2 state 2 lossCarrier 5"));
  ASSERT_TRUE(Until(
      e1, [&](const std::string&) { return e1.size() == 12; }, IsE1));
  // Two more rounds, a second apart at least; the change shows by the last.
  EXPECT_GE(Clock::now() - connected_, std::chrono::milliseconds(1900));
  EXPECT_EQ(Line(2, "lossCarrier", 5, "e1"), e1[10]);
  EXPECT_EQ(Line(3, "normal", 0, "e1"), e1[11]);
}

TEST_F(BoardRoad, SpiCtrlBriReportsEverySecond) {
  Start();
  std::vector<std::string> bri;
  ASSERT_TRUE(Until(
      bri, [&](const std::string&) { return bri.size() == 16; }, IsBri));
  EXPECT_GE(Clock::now() - connected_, std::chrono::milliseconds(1900));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Line(i % 8, "normal", 0, "bri"), bri[i]);
}

TEST_F(BoardRoad, BoardCasRoundTripAndInjectedEvent) {
  Start();
  ASSERT_TRUE(daemon_.WaitLine(kStderr, "E1: cas interface opened!"));
  EXPECT_EQ("", Ctl("ctl /dev/e1-cas rx 1 5 6"));
  Send(boardmsg::Cas(1, 5, LGCP::CasCommandSignal::e_open, 9));
  EXPECT_THAT(Answer(), ElementsAre("cas 1 0 rx 0 tx 0", "cas 1 5 rx 6 tx 9", "success"));
  Send(boardmsg::Cas(1, 5, LGCP::CasCommandSignal::e_set, 3));
  EXPECT_THAT(Answer(), ElementsAre("cas 1 5 rx 6 tx 3", "success"));
  Send(boardmsg::Cas(1, 5, LGCP::CasCommandSignal::e_get));
  EXPECT_THAT(Answer(), ElementsAre("cas 1 5 rx 6 tx 3", "success"));
  EXPECT_EQ("", Ctl("inject /dev/e1-cas 2 7 5 1"));
  std::vector<std::string> seen;
  EXPECT_TRUE(Until(seen, [](const std::string& s) { return s.compare(0, 4, "cas ") == 0; }));
  EXPECT_EQ("cas 2 7 rx 5 tx 1", seen.back());
}

TEST_F(BoardRoad, HwTestsBpcWriteThenRead) {
  Start();
  Send(boardmsg::TestBpc(4, 7, LGCP::BpcTestMode::e_write, 0, 20));
  EXPECT_THAT(Answer(), ElementsAre("success"));
  Send(boardmsg::TestBpc(4, 7, LGCP::BpcTestMode::e_read, 0, 20));
  EXPECT_THAT(Answer(), ElementsAre("success"));
  Send(boardmsg::TestBpc(4, 8, LGCP::BpcTestMode::e_read, 0, 20));
  EXPECT_THAT(Answer(), ElementsAre("error 10"));
  EXPECT_TRUE(daemon_.WaitLine(kStderr, "bus 4: test failed on channel "));
}

TEST_F(BoardRoad, BusCtlClockCfgSelectsTheSource) {
  Start();
  // The connect put the board on its own clock.
  ASSERT_TRUE(blackbox::WaitFor([&] { return Ctl("ctl /dev/hal clock") == "clock 4"; }));
  Send(boardmsg::ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2));
  EXPECT_THAT(Answer(), ElementsAre("success"));
  EXPECT_TRUE(daemon_.WaitLine(kStderr, "clkctl: clock source = f2"));
  EXPECT_EQ("clock 2", Ctl("ctl /dev/hal clock"));
}

TEST_F(BoardRoad, BusCtlDisabledClockRefusesClockCfg) {
  Start({"--disable-clock"});
  EXPECT_TRUE(daemon_.WaitLine(kStderr, "clock control disabled."));
  Send(boardmsg::ClockCfg(LGCP::ClkSel0::internal, LGCP::BExtEn::disabled, -1));
  EXPECT_THAT(Answer(), ElementsAre("error 6"));  // unsupported
  EXPECT_EQ("clock -1", Ctl("ctl /dev/hal clock"));
  EXPECT_EQ(0u, daemon_.CountLines(kStderr, "clkctl: "));
}

}  // namespace
