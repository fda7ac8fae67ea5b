// The board's hardware as the running daemon drives it, seen from the board.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "blackbox/harness.h"

namespace {

// The switch is opened and swept at start-up; the loop then keeps
// re-asserting the disabled outputs.
TEST(HwMuxBlackBox, StartupSweepsTheSwitchAndTheLoopRefreshesIt) {
  blackbox::Sandbox sandbox;
  blackbox::Daemon daemon(sandbox);
  ASSERT_TRUE(daemon.Start({"--port", std::to_string(blackbox::FreePort())}));
  blackbox::SimControl board;
  ASSERT_TRUE(board.Connect(daemon.simSocket()));
  std::vector<std::string> data;
  auto ask = [&](const std::string& line) {
    data.clear();
    return board.Ask(line, &data);
  };
  ASSERT_TRUE(board.WaitJournal("/dev/hal", "disable 10239", 1));
  ASSERT_TRUE(ask("journal /dev/hal"));
  EXPECT_THAT(data[0], ::testing::EndsWith(" disable 8192"));
  EXPECT_THAT(data[2047], ::testing::EndsWith(" disable 10239"));
  EXPECT_TRUE(daemon.WaitLine(blackbox::kStderr, "hwMux: device opened"));
  EXPECT_EQ(1u, daemon.CountLines(blackbox::kStderr, "hwMux: init"));
  EXPECT_TRUE(blackbox::WaitFor(
      // Refreshed at least once more (a later count also compares greater as text).
      [&] { return ask("ctl /dev/hal tdm 8193") && data[0] > "tdm 8193 disabled disables 1"; }));
  // The switch and the line interfaces; the clock selector opens at a connect.
  EXPECT_TRUE(ask("opened /dev/hal") && data[0] == "opened 2");
}

}  // namespace
