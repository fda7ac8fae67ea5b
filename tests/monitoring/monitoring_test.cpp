// The monitoring service and an agent link, timed on the frozen clock.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "control/ctrl_testkit.h"
#include "monitoring/monitoringctl.h"

using namespace ctrltest;

namespace {

class SnmpAgentLiveness : public ::testing::Test {
 protected:
  void SetUp() override {
    unsigned short port = 0;
    Fd listener = Listen(port);
    std::istringstream text("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(port) +
                            "\nname = web\n");
    text >> file;
    monitoring.Configure(file);
    loop.RunUntil([&] { return agent().IsConnected(); });
    peer = Fd(::accept(listener.get(), nullptr, nullptr));
    ASSERT_EQ(Next(), MON::Command::e_snmp_set);  // the full refresh
    Mux::mux_settimeofday();
    Answer();  // heard now, on the frozen clock
  }
  void TearDown() override { Mux::g_tv_time = Mux::timeval(); }

  SnmpAgentInstance& agent() { return monitoring.GetAgents().at(0); }
  // The command alternative of the agent's next frame, -1 for none.
  int Next() {
    std::vector<unsigned char> b;
    MON::Message m;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    if (!ReadFrame(peer.get(), b, 2000)) return -1;
    auto p = reinterpret_cast<char const*>(b.data());
    if (!ASN1::decode(p, p + b.size(), &env, m, true)) return -1;
    return m.get_pdu().get_command().currentSelection();
  }
  // One ping period later: what the agent got.
  int Step() {
    Mux::timevaladd(Mux::g_tv_time, Mux::timeval{5, 0});
    multiplexer.timers_schedule();
    return Next();
  }
  void Answer() {
    MON::Message m;
    m.get_pdu().select_response().select_ping().select_success();
    std::vector<char> out;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    ASN1::encode(m, &env, std::back_inserter(out));
    agent().OnMessage(out.data(), int(out.size()));
  }

  IniFile::File file;
  MonitoringCtl monitoring;
  LoopRunner loop;
  Fd peer;
};

TEST_F(SnmpAgentLiveness, SilentAgentIsDroppedOnceThirtySecondsPass) {
  testing::internal::CaptureStderr();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Step(), MON::Command::e_ping);
    agent().OnMessage("\xff", 1);  // undecodable: proves nothing
  }
  EXPECT_TRUE(agent().IsConnected());
  EXPECT_EQ(Step(), MON::Command::e_ping);  // 35 s after the last answer
  multiplexer.timers_schedule();
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(agent().IsConnected());
  EXPECT_TRUE(SeesEof(peer.get()));
  EXPECT_NE(log.find("web: receive : decode error!\n"), std::string::npos) << log;
  EXPECT_NE(log.find("web: ping timeout !!!\n"), std::string::npos) << log;
  EXPECT_NE(log.find("web: connection lost, reset snmpagent instance\n"), std::string::npos);
}

TEST_F(SnmpAgentLiveness, AnsweringAgentIsKept) {
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Step(), MON::Command::e_ping) << i;
    Answer();
  }
  EXPECT_TRUE(agent().IsConnected());
}

TEST(MonitoringService, FramerHoldersTakeE1TrunksOnly) {
  MonitoringCtl m;
  struct Row {
    int trunk;
    ACP::TrunkType::NamedNumber type;
    ACP::TrunkState::NamedNumber state;
    bool refresh;
  } const rows[] = {
      {0, ACP::TrunkType::e1, ACP::TrunkState::normal, true},  // first report
      {0, ACP::TrunkType::e1, ACP::TrunkState::normal, false},
      {0, ACP::TrunkType::e1, ACP::TrunkState::ais, true},
      {3, ACP::TrunkType::e1, ACP::TrunkState::rai, true},
      {7, ACP::TrunkType::bri, ACP::TrunkState::lossBF, false},
      {1, ACP::TrunkType::bri, ACP::TrunkState::lossBF, false},
      {4, ACP::TrunkType::e1, ACP::TrunkState::lossBF, false},
  };
  for (Row const& r : rows) {
    LGCP::Signal s;
    ACP::TrunkStatus& t = s.select_trunkStatus();
    t.set_trunk(r.trunk), t.set_type(r.type), t.set_state(r.state);
    unsigned before = m.GetFramerRefreshes();
    m.OnSignal(s);
    multiplexer.timers_schedule();
    EXPECT_EQ(m.GetFramerRefreshes() - before, r.refresh ? 1u : 0u) << r.trunk << " " << r.state;
  }
  EXPECT_EQ(m.GetFramer(1)->state, ACP::TrunkState::ais);
  EXPECT_FALSE(m.GetFramer(2)->known);
  EXPECT_EQ(m.GetFramer(4)->state, ACP::TrunkState::rai);
  EXPECT_EQ(m.GetFramer(5), nullptr);
}

TEST(SnmpAgentHost, AddressAndPort) {
  struct {
    char const* text;
    bool ok;
    unsigned short port;
  } const rows[] = {{"10.0.0.1", true, Monitoring::defaultAgentPort},
                    {"10.0.0.1:162", true, 162},
                    {"10.0.0.1:0", false, 0},
                    {"10.0.0.1:65536", false, 0},
                    {"10.0.0.1: 162", false, 0},
                    {"10.1", false, 0},
                    {"agent.local:162", false, 0}};
  for (auto const& r : rows) {
    std::string address, why;
    unsigned short port = 0;
    EXPECT_EQ(Monitoring::SplitAgentHost(r.text, &address, &port, &why), r.ok) << r.text;
    EXPECT_EQ(port, r.port) << r.text;
  }
}

}  // namespace
