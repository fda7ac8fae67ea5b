// The slot table of the running daemon on the simulated board, seen by a
// controller: answers on empty numbers, the resources report on `query`
// and on SIGHUP.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "blackbox/harness.h"
#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"

namespace {

using blackbox::kStderr;
using blackbox::kStdout;
using lgcptest::Seen;
using Bytes = std::vector<unsigned char>;

constexpr int kQuerySignal = 0;
constexpr int kTrunkStatusSignal = 11;
constexpr int kPowerSignal = 17;

class SlotsBlackBox : public ::testing::Test {
 protected:
  void SetUp() override {
    port = blackbox::FreePort();
    ASSERT_TRUE(daemon.Start({"--port", std::to_string(port)}));
    ASSERT_TRUE(daemon.WaitLine(kStdout, "Starting server"));
    blackbox::WaitFor([&] {
      c = ctrltest::ConnectTo(static_cast<unsigned short>(port));
      return bool(c);
    });
    ASSERT_TRUE(c);
    ASSERT_TRUE(daemon.WaitLine(kStderr, "controller connect."));
  }

  void Send(LGCP::Message const& m) {
    Bytes f = ctrltest::Frame(lgcptest::Encode(m));
    ASSERT_TRUE(ctrltest::WriteAll(c.get(), f.data(), f.size()));
  }
  // The next message, the board services' periodic signals left out.
  Seen Next(Bytes* body = nullptr) {
    for (Bytes b;;) {
      if (!ctrltest::ReadFrame(c.get(), b, 20000)) return Seen();
      Seen s = lgcptest::Parse(b);
      if (s.signal == kTrunkStatusSignal || s.signal == kPowerSignal) continue;
      if (body) *body = b;
      return s;
    }
  }
  // A command with its `seq`, and the slot when one is given.
  static LGCP::Message Command(int alternative, int seq, std::optional<unsigned> slot) {
    LGCP::Message m = lgcptest::Command(alternative, seq, slot);
    LGCP::Command& c = m.get_pdu().get_command();
    if (alternative == LGCP::Command::e_create) c.get_create().select(LGCP::CreateParams::e_rtp);
    if (alternative == LGCP::Command::e_activate) c.get_activate().select(0);  // empty
    if (alternative == LGCP::Command::e_ioctl) c.get_ioctl().select(1);        // deactivateRecord
    return m;
  }

  blackbox::Sandbox sandbox;
  blackbox::Daemon daemon{sandbox};
  int port = 0;
  Fd c;
};

TEST_F(SlotsBlackBox, SlotCommandsOnEmptyNumbers) {
  using C = LGCP::Command;
  using E = LGCP::ErrorCause;
  struct Row {
    int command;
    unsigned slot;
    int cause;
  } rows[] = {
      {C::e_destroy, 5, E::slotNotExists},       {C::e_connect, 0, E::slotNotExists},
      {C::e_disconnect, 1023, E::slotNotExists}, {C::e_activate, 7, E::slotNotExists},
      {C::e_deactivate, 8, E::slotNotExists},    {C::e_userData, 9, E::slotNotExists},
      {C::e_ioctl, 10, E::slotNotExists},        {C::e_create, 11, E::insufficientResources},
  };
  int seq = 100;
  for (Row const& r : rows) {
    Send(Command(r.command, ++seq, r.slot));
    Seen a = Next();
    EXPECT_TRUE(a.IsError(r.cause)) << r.command << ": " << Describe(a);
    EXPECT_EQ(seq, a.seq);
    EXPECT_EQ(r.slot, a.slot);
  }
}

TEST_F(SlotsBlackBox, IoctlWithoutSlotGoesToTheTrunkService) {
  // With a slot number the slot table answers; without one the table
  // refuses it and the E1 service takes it.
  Send(Command(LGCP::Command::e_ioctl, 21, 4u));
  Seen a = Next();
  EXPECT_TRUE(a.IsError(LGCP::ErrorCause::slotNotExists)) << Describe(a);
  EXPECT_EQ(4u, a.slot);
  Send(Command(LGCP::Command::e_ioctl, 22, std::nullopt));
  a = Next();
  EXPECT_TRUE(a.IsSuccess()) << Describe(a);
  EXPECT_EQ(22, a.seq);
  EXPECT_FALSE(a.slot);
}

TEST_F(SlotsBlackBox, QueryGivesTheResourcesThenSuccess) {
  Send(Command(LGCP::Command::e_query, 7, std::nullopt));
  Bytes body;
  Seen s = Next(&body);
  EXPECT_EQ(kQuerySignal, s.signal) << Describe(s);
  EXPECT_FALSE(s.slot);
  EXPECT_FALSE(s.seq);
  LGCP::Message m;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  char const* b = reinterpret_cast<char const*>(body.data());
  ASSERT_TRUE(ASN1::decode(b, b + body.size(), &env, m, true));
  LGCP::Resources expected;
  expected.set_mux(true);  // the board's switch is there
  EXPECT_TRUE(expected == m.get_pdu().get_signal().get_query()) << m;
  Seen a = Next();
  EXPECT_TRUE(a.IsSuccess()) << Describe(a);
  EXPECT_EQ(7, a.seq);
}

TEST_F(SlotsBlackBox, SighupSendsOneQuerySignal) {
  ASSERT_TRUE(daemon.Signal(SIGHUP));
  EXPECT_TRUE(daemon.WaitLine(kStderr, "update hardware resources"));
  Seen s = Next();
  EXPECT_EQ(kQuerySignal, s.signal) << Describe(s);
  EXPECT_FALSE(s.slot);
  // Nothing else: the next message is the answer to this ping.
  Send(lgcptest::Ping(3));
  Seen a = Next();
  EXPECT_TRUE(a.IsSuccess()) << Describe(a);
  EXPECT_EQ(3, a.seq);
}

}  // namespace
