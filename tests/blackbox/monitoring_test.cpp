// The monitoring service from the outside: velmard-sim with two SNMP agents
// of its configuration file, fake agents on loopback and a controller.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "asn1/modules/MON.h"
#include "blackbox/harness.h"
#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"

namespace {

using namespace ctrltest;
using blackbox::kStderr;
using Bytes = std::vector<unsigned char>;

constexpr int kTrunkStatus = 11;
constexpr int kPower = 17;

// An agent process as the daemon meets it, on a port the kernel chose.
struct FakeAgent {
  FakeAgent() { listener = Listen(port); }
  bool Accept() {
    pollfd pf{listener.get(), POLLIN, 0};
    if (::poll(&pf, 1, 20000) == 1) link = Fd(::accept(listener.get(), nullptr, nullptr));
    return bool(link);
  }
  // The command alternative of the next frame; -1 when none comes in time.
  int Next() {
    Bytes b;
    MON::Message m;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    if (!ReadFrame(link.get(), b, 20000)) return -1;
    auto p = reinterpret_cast<char const*>(b.data());
    if (!ASN1::decode(p, p + b.size(), &env, m, true)) return -1;
    MON::Command const& c = m.get_pdu().get_command();
    if (c.currentSelection() == MON::Command::e_snmp_set)
      items = c.get_snmp_set().get_commands().size();
    return c.currentSelection();
  }
  void AnswerPing() {
    MON::Message m;
    m.get_pdu().select_response().select_ping().select_success();
    std::vector<char> out;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    ASN1::encode(m, &env, std::back_inserter(out));
    Bytes f = Frame(Bytes(out.begin(), out.end()));
    WriteAll(link.get(), f.data(), f.size());
  }
  std::string Config(char const* name) const {
    return "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(port) + "\n" + name;
  }

  unsigned short port = 0;
  Fd listener, link;
  size_t items = 99;
};

TEST(MonitoringBlackbox, AgentLinksPowerAndDisplay) {
  FakeAgent a, b;
  blackbox::Sandbox sandbox;
  // The third occurrence lacks its name: no link, though its host is b's.
  sandbox.WriteConfig(a.Config("name = snmp\n") + b.Config("name = web\n") + b.Config(""));
  blackbox::Daemon daemon(sandbox);
  int port = blackbox::FreePort();
  ASSERT_TRUE(daemon.Start({"--port", std::to_string(port)}));
  EXPECT_TRUE(daemon.WaitLine(kStderr, "snmpagent: required key \"name\" not present, line 7"));

  ASSERT_TRUE(a.Accept());
  ASSERT_TRUE(b.Accept());
  auto refreshed = std::chrono::steady_clock::now();
  EXPECT_EQ(a.Next(), MON::Command::e_snmp_set);
  EXPECT_EQ(a.items, 0u);
  EXPECT_EQ(b.Next(), MON::Command::e_snmp_set);
  EXPECT_TRUE(daemon.WaitLine(kStderr, "snmp: connected."));
  EXPECT_TRUE(daemon.WaitLine(kStderr, "web: connected."));

  // A controller hears the trunk states, if any, then the power state.
  Fd c;
  blackbox::WaitFor([&] { return bool(c = ConnectTo(static_cast<unsigned short>(port))); });
  lgcptest::Seen s;
  Bytes f;
  while (ReadFrame(c.get(), f, 20000) && (s = lgcptest::Parse(f)).signal == kTrunkStatus) {
  }
  EXPECT_EQ(s.signal, kPower) << lgcptest::Describe(s);

  LGCP::Message display = lgcptest::Command(13, 77);
  display.get_pdu().get_command().get_display().select_snmpTrapReceivers();
  f = Frame(lgcptest::Encode(display));
  ASSERT_TRUE(WriteAll(c.get(), f.data(), f.size()));
  while (ReadFrame(c.get(), f, 20000) && (s = lgcptest::Parse(f)).pdu == lgcptest::kSignal) {
  }
  EXPECT_TRUE(s.IsSuccess() && s.seq == 77) << lgcptest::Describe(s);

  // Pings every 5 s on both links, answered: the links stay up.
  EXPECT_EQ(a.Next(), MON::Command::e_ping);
  EXPECT_GE(std::chrono::steady_clock::now() - refreshed, std::chrono::seconds(4));
  EXPECT_EQ(b.Next(), MON::Command::e_ping);
  a.AnswerPing();
  b.AnswerPing();
  EXPECT_EQ(a.Next(), MON::Command::e_ping);
  EXPECT_EQ(b.Next(), MON::Command::e_ping);
  pollfd pf{b.listener.get(), POLLIN, 0};
  EXPECT_EQ(::poll(&pf, 1, 0), 0) << "a link for the occurrence without a name";
  EXPECT_EQ(daemon.CountLines(kStderr, "connection lost"), 0u);
}

}  // namespace
