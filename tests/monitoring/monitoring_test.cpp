// The monitoring service and an agent link, timed on the frozen clock.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "monitoring/mon_testkit.h"
#include "monitoring/monitoringctl.h"

using namespace ctrltest;

namespace {

// The agent answers for a minute, then only sends undecodable bytes: pings go
// out every 5 s, and the link drops at the first one 30 s after the last answer.
TEST(SnmpAgentLiveness, KeptWhileAnsweringDroppedThirtySecondsAfter) {
  unsigned short port = 0;
  Fd listener = Listen(port);
  IniFile::File ini;
  std::istringstream("[snmpagent]\nhost=127.0.0.1:" + std::to_string(port) + "\nname=web\n") >> ini;
  MonitoringCtl monitoring;
  monitoring.Configure(ini);
  SnmpAgentInstance& agent = monitoring.GetAgents().at(0);
  testing::internal::CaptureStderr();
  LoopRunner().RunUntil([&] { return agent.IsConnected(); });
  Fd peer(::accept(listener.get(), nullptr, nullptr));
  ASSERT_EQ(montest::NextCommand(peer.get(), 2000), MON::Command::e_snmp_set);  // full refresh
  std::vector<unsigned char> answer = montest::PingAnswer();
  Mux::mux_settimeofday();
  for (int i = 0; i < 18; ++i) {          // the last answer at 55 s; 30 s later at i == 16
    if (i == 12) answer.assign(1, 0xff);  // undecodable from now on
    agent.OnMessage(reinterpret_cast<char const*>(answer.data()), int(answer.size()));
    Mux::timevaladd(Mux::g_tv_time, Mux::timeval{5, 0});
    multiplexer.timers_schedule();
    EXPECT_EQ(montest::NextCommand(peer.get(), 2000), MON::Command::e_ping) << i;
  }
  multiplexer.timers_schedule();
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(SeesEof(peer.get()));
  for (char const* line :
       {"web: connected.\n", "web: receive : decode error!\n", "web: ping timeout !!!\n",
        "web: connection lost, reset snmpagent instance\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

TEST(MonitoringService, FramerHoldersTakeE1TrunksOnly) {
  // trunk, type (0 e1, 1 bri), state (0 normal, 1 lossBF, 3 ais, 4 rai), refreshes so far
  int const rows[][4] = {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 3, 2}, {3, 0, 4, 3},
                         {7, 1, 1, 3}, {1, 1, 1, 3}, {4, 0, 1, 3}};
  MonitoringCtl m;
  for (auto const& r : rows) {
    LGCP::Signal s;
    ACP::TrunkStatus& t = s.select_trunkStatus();
    t.set_trunk(r[0]), t.set_type(ACP::TrunkType::NamedNumber(r[1]));
    t.set_state(ACP::TrunkState::NamedNumber(r[2]));
    m.OnSignal(s);
    multiplexer.timers_schedule();
    EXPECT_EQ(m.GetFramerRefreshes(), unsigned(r[3])) << r[0] << " " << r[2];
  }
  EXPECT_EQ(m.GetFramer(1)->state, ACP::TrunkState::ais);
}

TEST(SnmpAgentHost, AddressAndPort) {  // port 0: refused
  std::pair<char const*, unsigned short> const rows[] = {
      {"10.0.0.1", 20161}, {"10.0.0.1:162", 162}, {"1.2.3.4:65536", 0}, {"agent:162", 0}};
  for (auto const& r : rows) {
    std::string address, why;
    unsigned short port = 0;
    EXPECT_EQ(Monitoring::SplitAgentHost(r.first, &address, &port, &why), r.second != 0) << r.first;
    EXPECT_EQ(port, r.second) << r.first;
  }
}

}  // namespace
