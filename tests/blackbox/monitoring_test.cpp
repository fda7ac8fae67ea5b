// velmard-sim with two SNMP agents in its configuration file: fake agents on
// loopback and a controller.
#include <gtest/gtest.h>

#include "blackbox/harness.h"
#include "control/lgcp_testkit.h"
#include "monitoring/mon_testkit.h"

using namespace ctrltest;

namespace {

struct FakeAgent {  // on a port the kernel chose
  int Next() {
    pollfd pf{listener.get(), POLLIN, 0};
    if (!link && ::poll(&pf, 1, 20000) == 1) link = Fd(::accept(listener.get(), nullptr, nullptr));
    return montest::NextCommand(link.get(), 20000);
  }
  std::string Config(char const* name) const {
    return "[snmpagent]\nhost=127.0.0.1:" + std::to_string(port) + "\n" + name;
  }
  unsigned short port = 0;
  Fd listener = Listen(port), link;
};

TEST(MonitoringBlackbox, AgentLinksPowerAndDisplay) {
  FakeAgent a, b;
  blackbox::Sandbox sandbox;
  sandbox.WriteConfig(a.Config("name=snmp\n") + b.Config("name=web\n") + b.Config(""));  // no name
  blackbox::Daemon daemon(sandbox);
  int port = blackbox::FreePort();
  ASSERT_TRUE(daemon.Start({"--port", std::to_string(port)}));
  EXPECT_TRUE(
      daemon.WaitLine(blackbox::kStderr, "snmpagent: required key \"name\" not present, line 7"));
  // The switch was swept before the links were made.
  std::string const err = daemon.Output(blackbox::kStderr);
  EXPECT_LT(err.find("hwMux: device opened\n"), err.find("snmpagent: required key")) << err;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(a.Next(), MON::Command::e_snmp_set);
  EXPECT_EQ(b.Next(), MON::Command::e_snmp_set);
  // A controller hears the four E1 trunk states (signal 11), then the power state (17).
  Fd c;
  blackbox::WaitFor([&] { return bool(c = ConnectTo(static_cast<unsigned short>(port))); });
  lgcptest::Seen s;
  std::vector<unsigned char> f;
  int trunks = 0;
  while (ReadFrame(c.get(), f, 20000) && (s = lgcptest::Parse(f)).signal == 11) ++trunks;
  EXPECT_TRUE(trunks == 4 && s.signal == 17) << trunks << " " << lgcptest::Describe(s);
  LGCP::Message display = lgcptest::Command(13, 77);
  display.get_pdu().get_command().get_display().select_snmpTrapReceivers();
  f = Frame(lgcptest::Encode(display));
  ASSERT_TRUE(WriteAll(c.get(), f.data(), f.size()));
  while (ReadFrame(c.get(), f, 20000) && (s = lgcptest::Parse(f)).pdu == lgcptest::kSignal)
    continue;
  EXPECT_TRUE(s.IsSuccess() && s.seq == 77) << lgcptest::Describe(s);
  // Pings every 5 s on both links, answered: the links stay up.
  EXPECT_EQ(a.Next(), MON::Command::e_ping);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(b.Next(), MON::Command::e_ping);
  std::vector<unsigned char> answer = Frame(montest::PingAnswer());
  for (Fd* link : {&a.link, &b.link}) WriteAll(link->get(), answer.data(), answer.size());
  EXPECT_TRUE(a.Next() == MON::Command::e_ping && b.Next() == MON::Command::e_ping);
  pollfd pf{b.listener.get(), POLLIN, 0};
  EXPECT_EQ(::poll(&pf, 1, 0), 0) << "a link for the occurrence without a name";
}

}  // namespace
