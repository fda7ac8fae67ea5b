// The controller heartbeat on the daemon's own period: a controller that
// falls silent is dropped 120 s after its last command. This is a long
// test on purpose: the daemon has no switch that shortens the period, and
// none is added for testing, so what runs here is what runs on the board.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "blackbox/harness.h"
#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"

namespace {

using blackbox::kStderr;
using blackbox::kStdout;
using Clock = std::chrono::steady_clock;

bool Answered(Fd const& c, int seq) {
  for (;;) {
    std::vector<unsigned char> body;
    if (!ctrltest::ReadFrame(c.get(), body, 20000)) return false;
    lgcptest::Seen s = lgcptest::Parse(body);
    if (s.pdu == lgcptest::kSignal) continue;  // trunk status, power status
    return s.IsSuccess() && s.seq == seq;
  }
}

bool Ping(Fd const& c, int seq) {
  auto f = ctrltest::Frame(lgcptest::Encode(lgcptest::Ping(seq)));
  return ctrltest::WriteAll(c.get(), f.data(), f.size()) && Answered(c, seq);
}

TEST(HeartbeatLong, SilentControllerIsDroppedAfterTwoMinutes) {
  blackbox::Sandbox sandbox;
  blackbox::Daemon daemon(sandbox);
  int port = blackbox::FreePort();
  ASSERT_TRUE(daemon.Start({"--port", std::to_string(port)}));
  ASSERT_TRUE(daemon.WaitLine(kStdout, "Starting server"));
  Fd c;
  ASSERT_TRUE(blackbox::WaitFor([&] {
    c = ctrltest::ConnectTo(static_cast<unsigned short>(port));
    return bool(c);
  }));
  ASSERT_TRUE(daemon.WaitLine(kStderr, "controller connect."));

  auto sent = Clock::now();
  ASSERT_TRUE(Ping(c, 1));
  // Signals keep coming, but only a command restarts the watch.
  ASSERT_TRUE(ctrltest::SeesEof(c.get(), 180000));
  double waited = std::chrono::duration<double>(Clock::now() - sent).count();
  EXPECT_GE(waited, 119.5);
  EXPECT_LE(waited, 150.0);
  EXPECT_TRUE(daemon.WaitLine(kStderr, "heartbeat timeout!!!"));
  EXPECT_EQ(daemon.CountLines(kStderr, "heartbeat timeout!!!"), 1u);

  // The next controller is served, without a watch until its first command.
  Fd again;
  ASSERT_TRUE(blackbox::WaitFor([&] {
    again = ctrltest::ConnectTo(static_cast<unsigned short>(port));
    return bool(again);
  }));
  ASSERT_TRUE(daemon.WaitLine(kStderr, "controller connect.", 2));
  EXPECT_TRUE(Ping(again, 2));
}

}  // namespace
