// The monitoring service and its agent links, timed on the frozen clock.
#include <dirent.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "control/ctrlsrv.h"
#include "control/lgcp_testkit.h"
#include "control/test_support.h"
#include "core/traces.h"
#include "monitoring/mon_testkit.h"
#include "monitoring/monitoringctl.h"

using namespace ctrltest;

namespace {

// The clock runs while the loop connects; Mux::mux_settimeofday() freezes it.
void Live() {
  Mux::g_tv_time = Mux::timeval{};
}

// Moves the frozen clock and fires what fell due (unless told not to).
void Advance(int ms, bool fire = true) {
  Mux::timeval d;
  Mux::make_from_msec(d, unsigned(ms < 0 ? -ms : ms));
  if (ms < 0)
    Mux::timevalsub(Mux::g_tv_time, d);
  else
    Mux::timevaladd(Mux::g_tv_time, d);
  if (fire) multiplexer.timers_schedule();
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n - 3;  // ".", ".." and the folder's own descriptor
}

bool Readable(int fd) {
  pollfd pf{fd, POLLIN, 0};
  return ::poll(&pf, 1, 0) == 1;
}

MON::Message PingCommand() {
  MON::Message ping;
  ping.get_pdu().select_command().select_ping();
  return ping;
}

// An agent on loopback for the first occurrence of the configuration, its
// link connected (and, bound to the service, refreshed), the clock frozen.
struct AgentLink {
  explicit AgentLink(std::string const& name = "web", std::string const& more = "",
                     bool bind = true) {
    IniFile::File ini;
    std::istringstream("[snmpagent]\nhost=" + to + "\nname=" + name + "\n" + more) >> ini;
    if (bind)
      monitoring.Configure(ini);
    else
      monitoring.GetAgents().CreateInstances(ini["snmpagent"]);
    Live();
    ctrltest::LoopRunner().RunUntil([&] { return agent().IsConnected(); });
    peer = Fd(::accept(listener.get(), nullptr, nullptr));
    refresh = bind ? montest::NextCommand(peer.get(), 2000) : Readable(peer.get());
    Mux::mux_settimeofday();
  }
  SnmpAgentInstance& agent() { return monitoring.GetAgents().at(0); }
  void Answer(std::vector<unsigned char> const& body) {
    agent().OnMessage(reinterpret_cast<char const*>(body.data()), int(body.size()));
  }

  unsigned short port = 0;
  Fd listener = Listen(port);
  std::string const to = "127.0.0.1:" + std::to_string(port);
  int const before = OpenDescriptors();
  MonitoringCtl monitoring;
  Fd peer;
  int refresh = -1;
};

// The agent answers for a minute, then only sends undecodable bytes: pings go
// out every 5 s, and the link drops at the first one more than 30 s after the
// last answer. It comes back 10 s later.
TEST(SnmpAgentLiveness, KeptWhileAnsweringDroppedThirtySecondsAfter) {
  Capture err(std::cerr), log(std::clog), out(std::cout);
  AgentLink link;
  ASSERT_EQ(MON::Command::e_snmp_set, link.refresh);
  EXPECT_EQ(link.before + 3, OpenDescriptors()) << "two for the link, the accepted end";
  std::vector<unsigned char> answer = montest::PingAnswer();
  for (int i = 0; i < 18; ++i) {          // the last answer at 55 s; the drop at 90 s, i == 17
    if (i == 12) answer.assign(1, 0xff);  // undecodable from now on
    link.Answer(answer);
    Advance(i == 1 ? 4999 : 5000);  // due 5000 ms after the last send, not earlier
    if (i == 1) {
      EXPECT_FALSE(Readable(link.peer.get()));
      Advance(1);
    }
    EXPECT_EQ(montest::NextCommand(link.peer.get(), 2000), MON::Command::e_ping) << i;
    EXPECT_EQ(i < 17, link.agent().IsConnected()) << i;
  }
  EXPECT_TRUE(SeesEof(link.peer.get()));
  link.peer.close();
  EXPECT_EQ(link.before, OpenDescriptors()) << "the dropped link keeps no descriptor";
  EXPECT_EQ(1u, multiplexer.timers_count()) << "the reconnect only: no ping for a link down";
  // No pings while down; the connector tries again after 10000 ms.
  Advance(9999);
  EXPECT_FALSE(Readable(link.listener.get()));
  Advance(1);
  pollfd pf{link.listener.get(), POLLIN, 0};
  EXPECT_EQ(1, ::poll(&pf, 1, 5000));
  EXPECT_EQ("connected to " + link.to + ".\n", out.text());
  std::string undecodable;
  for (int i = 12; i < 18; ++i) undecodable += "web: receive : decode error!\n";
  EXPECT_EQ(undecodable + "web: ping timeout !!!\ncontrol connection " + link.to + " closed.\n",
            err.lines());
  EXPECT_EQ("web: connected.\nweb: connection lost, reset snmpagent instance\n", log.lines());
}

// The silence limit is over 30000 ms since the agent was last heard, on
// signed loop time: a clock set back is no silence. Nothing is sent while
// the link is down.
TEST(SnmpAgentLiveness, SilenceLimit) {
  struct Row {
    int heardAgo;  // ms between the last word of the agent and the send
    bool dropped;
  } const rows[] = {{30000, false}, {30001, true}, {-60000, false}, {0, false}};
  for (Row const& r : rows) {
    Capture err(std::cerr), log(std::clog);
    AgentLink link;
    ASSERT_EQ(MON::Command::e_snmp_set, link.refresh);
    link.Answer(montest::PingAnswer());
    Advance(r.heardAgo, false);
    link.agent().Send(PingCommand());
    EXPECT_EQ(MON::Command::e_ping, montest::NextCommand(link.peer.get(), 2000)) << r.heardAgo;
    EXPECT_EQ(r.dropped, !link.agent().IsConnected()) << r.heardAgo;
    std::string const closed = "control connection " + link.to + " closed.\n";
    EXPECT_EQ(r.dropped ? "web: ping timeout !!!\n" + closed : "", err.lines()) << r.heardAgo;
    EXPECT_EQ(r.dropped, SeesEof(link.peer.get(), r.dropped ? 2000 : 0)) << r.heardAgo;
    if (!r.dropped) continue;
    // Down: neither a send nor the ping timer reaches the agent; the drop,
    // reported on the next pass, leaves the reconnect as the only timer.
    link.agent().Send(PingCommand());
    Advance(4999);
    EXPECT_EQ(1u, multiplexer.timers_count()) << "the reconnect only";
    Advance(1);
    EXPECT_EQ("web: connected.\nweb: connection lost, reset snmpagent instance\n", log.lines());
  }
}

// Links already up when the service binds are refreshed at once; a send
// reaches every connected agent and only those; a second configuration
// drops the links of the first. Traced, what goes out and comes in is on
// the log stream.
TEST(SnmpAgentCtrl, BindSendAndReconfigure) {
  traces.monitoring_internal = true;
  Capture err(std::cerr), log(std::clog);
  AgentLink link("snmp", "[snmpagent]\nhost=10.1\nname=console\n", false);
  SnmpAgentCtrl& agents = link.monitoring.GetAgents();
  ASSERT_EQ(2u, agents.count());
  EXPECT_FALSE(agents.at(1).IsActive());
  agents.Bind(nullptr);
  EXPECT_FALSE(link.refresh || Readable(link.peer.get())) << "nobody to refresh it yet";
  agents.Bind(&link.monitoring);
  EXPECT_EQ(MON::Command::e_snmp_set, montest::NextCommand(link.peer.get(), 2000));
  agents.Send(PingCommand());
  EXPECT_EQ(MON::Command::e_ping, montest::NextCommand(link.peer.get(), 2000));
  agents.Send(MON::Message());  // no alternative chosen: nothing to send
  EXPECT_FALSE(Readable(link.peer.get()));
  link.Answer(montest::PingAnswer());
  traces.monitoring_internal = false;
  IniFile::File none;
  link.monitoring.Configure(none);
  EXPECT_EQ(0u, agents.count());
  EXPECT_TRUE(SeesEof(link.peer.get()));
  EXPECT_EQ(link.before + 1, OpenDescriptors()) << "the accepted end only";
  EXPECT_EQ(
      "snmpagent: required key \"host\" has invalid value=\"10.1\" (address is not a.b.c.d), "
      "line 5\nsnmp: encode MON message fail!!!\n",
      err.lines());
  EXPECT_EQ(
      "snmp: connected.\n"
      "snmp: send {\n  pdu command : snmp-set : {\n    commands {\n    }\n  }\n}\n"
      "snmp: send {\n  pdu command : ping : NULL\n}\n"
      "snmp: receive {\n  pdu response : ping : success : NULL\n}\n",
      log.lines());
}

// What the reader and the host check make of each occurrence.
TEST(SnmpAgentInstance, Occurrences) {
  struct Row {
    std::string body;
    bool active;
    int type;
    char const* name;
    char const* error;  // the whole standard error stream; %P stands for the port
  } const rows[] = {
      {"host=127.0.0.1:%P\nname=console\n", true, Monitoring::agentConsole, "console", ""},
      {"name=web\nhost=127.0.0.1:%P\n", true, Monitoring::agentWeb, "web", ""},
      {"host=127.0.0.1:%P\nname=2\n", true, Monitoring::agentConsole, "2", ""},
      {"name=web\n", false, 0, "", "snmpagent: required key \"host\" not present, line 1\n"},
      {"host=127.0.0.1:%P\nname=mail\n", false, 0, "",
       "snmpagent: required key \"name\" has invalid value=\"mail\", line 3\n"},
      {"host=agent:162\nname=web\n", false, 0, "",
       "snmpagent: required key \"host\" has invalid value=\"agent:162\" (address is not "
       "a.b.c.d), line 2\n"},
      {"name=web\n\nhost=127.0.0.1:0\n", false, 0, "",
       "snmpagent: required key \"host\" has invalid value=\"127.0.0.1:0\" (port is not "
       "1..65535), line 4\n"},
  };
  unsigned short port = 0;
  Fd listener = Listen(port);
  for (Row const& r : rows) {
    std::string body = r.body;
    std::string::size_type at = body.find("%P");
    if (at != std::string::npos) body.replace(at, 2, std::to_string(port));
    Capture err(std::cerr);
    IniFile::File ini;
    std::istringstream("[snmpagent]\n" + body) >> ini;
    MonitoringCtl monitoring;
    monitoring.Configure(ini);
    ASSERT_EQ(1u, monitoring.GetAgents().count()) << body;
    SnmpAgentInstance& agent = monitoring.GetAgents().at(0);
    EXPECT_EQ(r.error, err.text()) << body;
    EXPECT_EQ(r.active, agent.IsActive()) << body;
    if (!r.active) {
      EXPECT_TRUE(agent.GetAddress().empty() && agent.GetPort() == 0) << body;
      continue;
    }
    EXPECT_EQ(r.type, agent.GetType()) << body;
    EXPECT_EQ("127.0.0.1", agent.GetAddress()) << body;
    EXPECT_EQ(port, agent.GetPort()) << body;
    std::ostringstream header;
    agent.PutHeader(header);
    EXPECT_EQ(r.name, header.str());
  }
}

// The E1 framers follow the trunk status signals of trunks 0..3; a refresh
// runs on the next pass after any change, once for all changes of a pass.
TEST(MonitoringService, FramerHoldersTakeE1TrunksOnly) {
  struct Row {
    int trunk, type;  // type 0 e1, 1 bri
    int state;        // 0 normal, 1 lossBF, 3 ais, 4 rai
    int slips, lossBF, lossCarrier, lossAIS, lossRAI;
    bool clockMaster;
    unsigned refreshes;  // so far
    char const* trace;
  } const rows[] = {
      {0, 0, 0, 0, 0, 0, 0, 0, false, 1, "monitoring: framer 1 state normal\n"},
      {0, 0, 0, 0, 0, 0, 0, 0, false, 1, ""},
      {0, 0, 3, 0, 0, 0, 0, 0, false, 2, "monitoring: framer 1 state ais\n"},
      {0, 0, 3, 1, 0, 0, 0, 0, false, 3, "monitoring: framer 1 state ais\n"},
      {0, 0, 3, 1, 2, 0, 0, 0, false, 4, "monitoring: framer 1 state ais\n"},
      {0, 0, 3, 1, 2, 3, 0, 0, false, 5, "monitoring: framer 1 state ais\n"},
      {0, 0, 3, 1, 2, 3, 4, 0, false, 6, "monitoring: framer 1 state ais\n"},
      {0, 0, 3, 1, 2, 3, 4, 5, false, 7, "monitoring: framer 1 state ais\n"},
      {0, 0, 3, 1, 2, 3, 4, 5, true, 8, "monitoring: framer 1 state ais\n"},
      {0, 0, 3, 1, 2, 3, 4, 5, true, 8, ""},
      {3, 0, 4, 0, 0, 0, 0, 0, false, 9, "monitoring: framer 4 state rai\n"},
      {7, 1, 1, 0, 0, 0, 0, 0, false, 9, ""},
      {1, 1, 1, 0, 0, 0, 0, 0, false, 9, ""},
      {4, 0, 1, 0, 0, 0, 0, 0, false, 9, ""},
      {-1, 0, 1, 0, 0, 0, 0, 0, false, 9, ""},
  };
  traces.monitoring_internal = true;
  Capture log(std::clog);
  MonitoringCtl m;
  for (Row const& r : rows) {
    LGCP::Signal s;
    ACP::TrunkStatus& t = s.select_trunkStatus();
    t.set_trunk(r.trunk), t.set_type(ACP::TrunkType::NamedNumber(r.type));
    t.set_state(ACP::TrunkState::NamedNumber(r.state));
    t.set_slips(r.slips), t.set_lossBF(r.lossBF), t.set_lossCarrier(r.lossCarrier);
    t.set_lossAIS(r.lossAIS), t.set_lossRAI(r.lossRAI), t.set_clockMaster(r.clockMaster);
    log.clear();
    m.OnSignal(s);
    multiplexer.timers_schedule();
    EXPECT_EQ(m.GetFramerRefreshes(), r.refreshes) << r.trunk << " " << r.refreshes;
    EXPECT_EQ(r.trace, log.text()) << r.trunk << " " << r.refreshes;
  }
  auto fields = [&](int number) {
    FramerDataHolder const* f = m.GetFramer(number);
    return std::vector<int>{f->known,       f->state,   f->slips,   f->lossBF,
                            f->lossCarrier, f->lossAIS, f->lossRAI, f->clockMaster};
  };
  EXPECT_EQ((std::vector<int>{1, ACP::TrunkState::ais, 1, 2, 3, 4, 5, 1}), fields(1));
  EXPECT_EQ((std::vector<int>{0, ACP::TrunkState::unknown, 0, 0, 0, 0, 0, 0}), fields(2));
  EXPECT_EQ(ACP::TrunkState::rai, m.GetFramer(4)->state);
  EXPECT_EQ(nullptr, m.GetFramer(0));
  EXPECT_EQ(nullptr, m.GetFramer(5));
  // Signals of any other kind are not the framers'.
  LGCP::Signal power;
  power.select_power() = LGCP::POWERStatus::main;
  m.OnSignal(power);
  multiplexer.timers_schedule();
  EXPECT_EQ(9u, m.GetFramerRefreshes());
  // Two framers changed within one pass: one refresh, in framer order.
  for (int trunk : {2, 1}) {
    LGCP::Signal s;
    ACP::TrunkStatus& t = s.select_trunkStatus();
    t.set_trunk(trunk), t.set_type(ACP::TrunkType::e1), t.set_state(ACP::TrunkState::lossBF);
    m.OnSignal(s);
  }
  log.clear();
  multiplexer.timers_schedule();
  EXPECT_EQ(10u, m.GetFramerRefreshes());
  EXPECT_EQ("monitoring: framer 2 state lossBF\nmonitoring: framer 3 state lossBF\n", log.text());
  traces.monitoring_internal = false;
}

// An endpoint with no listener of its own: the test attaches the socket.
class TestEndpoint : public Control::ServiceNet {
 protected:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
};

// Toward the controller: the power state right after the connect, `display`
// taken and answered, every other command left to the other services.
TEST(MonitoringService, ControllerSide) {
  Live();
  MonitoringCtl monitoring;
  CtrlSrv::Server server;
  server.Bind(&monitoring);
  auto* endpoint = new TestEndpoint;
  server.Activate(endpoint);
  EXPECT_FALSE(monitoring.IsControllerPresent());
  TcpPair pair;
  Capture err(std::cerr), log(std::clog);
  endpoint->Connected(pair.daemon, pair.peerAddr);
  pair.daemon.close();
  EXPECT_TRUE(monitoring.IsControllerPresent());
  EXPECT_EQ(LGCP::POWERStatus::unknown, monitoring.GetPowerState());
  LGCP::Message power;
  power.get_pdu().select_signal().select_power() = LGCP::POWERStatus::unknown;
  std::vector<unsigned char> body;
  ASSERT_TRUE(ReadFrame(pair.peer.get(), body, 2000));
  EXPECT_EQ(Hex(lgcptest::Encode(power)), Hex(body)) << "signal 17, no numbers";

  struct Row {
    int command;
    bool traced;
    char const* answer;  // ping: nobody takes it, unexpectedMsgType (4)
  } const rows[] = {{13, false, "seq=77 slot=none pdu=1 success"},
                    {13, true, "seq=77 slot=none pdu=1 success"},
                    {lgcptest::kPing, true, "seq=77 slot=none pdu=1 error 4"}};
  for (Row const& r : rows) {
    traces.monitoring_internal = r.traced;
    LGCP::Message m = lgcptest::Command(r.command, 77);
    if (r.command == 13) m.get_pdu().get_command().get_display().select_snmpTrapReceivers();
    std::vector<unsigned char> f = Frame(lgcptest::Encode(m));
    ASSERT_TRUE(WriteAll(pair.peer.get(), f.data(), f.size()));
    ASSERT_TRUE(ctrltest::LoopRunner().RunUntil([&] { return Readable(pair.peer.get()); }));
    ASSERT_TRUE(ReadFrame(pair.peer.get(), body, 2000));
    EXPECT_EQ(r.answer, lgcptest::Describe(lgcptest::Parse(body))) << r.command;
  }
  traces.monitoring_internal = false;
  pair.peer.close();
  ctrltest::LoopRunner().RunUntil([&] { return !monitoring.IsControllerPresent(); });
  EXPECT_FALSE(monitoring.IsControllerPresent());
  EXPECT_EQ("ctrl [" + pair.peerAddr.GetString() +
                "]: controller connect.\n"
                "monitoring: display display : snmpTrapReceivers : {\n}\n",
            log.lines());
  EXPECT_EQ("control connection " + pair.peerAddr.GetString() + " closed.\n", err.lines());
  server.Deactivate();
}

TEST(SnmpAgentHost, AddressAndPort) {  // port 0: refused
  struct Row {
    char const* text;
    unsigned short port;
    char const* why;
  } const rows[] = {
      {"10.0.0.1", 20161, ""},
      {"10.0.0.1:162", 162, ""},
      {"10.0.0.1:1", 1, ""},
      {"10.0.0.1:65535", 65535, ""},
      {"10.0.0.1:00162", 162, ""},
      {"1.2.3.4:65536", 0, "port is not 1..65535"},
      {"1.2.3.4:0", 0, "port is not 1..65535"},
      {"1.2.3.4:", 0, "port is not 1..65535"},
      {"1.2.3.4:16x", 0, "port is not 1..65535"},
      {"1.2.3.4:000162", 0, "port is not 1..65535"},
      {"agent:162", 0, "address is not a.b.c.d"},
      {"10.1", 0, "address is not a.b.c.d"},
      {"1.2.3.4.5", 0, "address is not a.b.c.d"},
      {"1.2.3.256", 0, "address is not a.b.c.d"},
      {"0x7f.0.0.1", 0, "address is not a.b.c.d"},
  };
  for (auto const& r : rows) {
    std::string address = "unset", why;
    unsigned short port = 0;
    EXPECT_EQ(Monitoring::SplitAgentHost(r.text, &address, &port, &why), r.port != 0) << r.text;
    EXPECT_EQ(port, r.port) << r.text;
    EXPECT_EQ(why, r.why) << r.text;
    std::string text = r.text;
    EXPECT_EQ(address, r.port ? text.substr(0, text.find(':')) : "unset") << r.text;
  }
}

}  // namespace
