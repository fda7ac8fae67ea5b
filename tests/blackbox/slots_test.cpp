// The slot table of the daemon on the simulated board, seen by a controller.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "blackbox/harness.h"
#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"

namespace {

using C = LGCP::Command;

class SlotsBlackBox : public ::testing::Test {
 protected:
  void SetUp() override {
    int port = blackbox::FreePort();
    ASSERT_TRUE(daemon.Start({"--port", std::to_string(port)}));
    blackbox::WaitFor([&] { return bool(c = ctrltest::ConnectTo((unsigned short)port)); });
  }
  // Sends a command (none for a negative seq) and gives the next message,
  // trunk (11) and power (17) signals left out. `create` asks for RTP.
  std::string Ask(int command, int seq, std::optional<unsigned> slot) {
    LGCP::Message m = lgcptest::Command(command, seq, slot);
    C& cmd = m.get_pdu().get_command();
    if (command == C::e_create) cmd.get_create().select(LGCP::CreateParams::e_rtp);
    if (command == C::e_activate) cmd.get_activate().select(0);  // empty
    if (command == C::e_ioctl) cmd.get_ioctl().select(1);        // deactivateRecord
    std::vector<unsigned char> f = ctrltest::Frame(lgcptest::Encode(m));
    if (seq >= 0 && !ctrltest::WriteAll(c.get(), f.data(), f.size())) return "unsent";
    for (std::vector<unsigned char> b; ctrltest::ReadFrame(c.get(), b, 20000);) {
      lgcptest::Seen s = lgcptest::Parse(b);
      if (s.signal == 11 || s.signal == 17) continue;
      char const* p = reinterpret_cast<char const*>(b.data());
      ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
      return ASN1::decode(p, p + b.size(), &env, last, true) ? Describe(s) : "undecodable";
    }
    return "nothing";
  }

  LGCP::Message last;  // the message Ask() gave
  blackbox::Sandbox sandbox;
  blackbox::Daemon daemon{sandbox};
  Fd c;
};

TEST_F(SlotsBlackBox, AnswersResourcesAndSighup) {
  std::string const ok = " pdu=1 success", error = " pdu=1 error ";
  for (int command : {C::e_destroy, C::e_connect, C::e_disconnect, C::e_activate, C::e_deactivate,
                      C::e_userData, C::e_ioctl})
    EXPECT_EQ("seq=" + std::to_string(command) + " slot=1023" + error + "3",
              Ask(command, command, 1023u));
  EXPECT_EQ("seq=9 slot=4" + error + "1", Ask(C::e_create, 9, 4u));
  // Without a slot number the slot table leaves ioctl to the E1 service.
  EXPECT_EQ("seq=10 slot=none" + ok, Ask(C::e_ioctl, 10, std::nullopt));
  EXPECT_EQ("seq=none slot=none pdu=2 signal 0", Ask(C::e_query, 11, std::nullopt));
  LGCP::Resources expected;
  expected.set_mux(true);  // the board's switch is there
  EXPECT_TRUE(expected == last.get_pdu().get_signal().get_query()) << last;
  EXPECT_EQ("seq=11 slot=none" + ok, Ask(C::e_query, -1, std::nullopt));
  ASSERT_TRUE(daemon.Signal(SIGHUP));
  EXPECT_EQ("seq=none slot=none pdu=2 signal 0", Ask(C::e_query, -1, std::nullopt));
  EXPECT_EQ("seq=12 slot=none" + ok, Ask(C::e_ping, 12, std::nullopt));  // and nothing else
}

}  // namespace
