// The board's hardware as the running daemon drives it, seen through the
// simulated board's control socket.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blackbox/harness.h"

namespace {

using blackbox::Daemon;
using blackbox::kStderr;
using blackbox::Sandbox;
using blackbox::SimControl;

// The switch is opened and swept at start-up; from then on the loop keeps
// re-asserting every disabled output.
TEST(HwMuxBlackBox, StartupSweepsTheSwitchAndTheLoopRefreshesIt) {
  Sandbox sandbox;
  Daemon daemon(sandbox);
  ASSERT_TRUE(
      daemon.Start(std::vector<std::string>{"--port", std::to_string(blackbox::FreePort())}));
  SimControl board;
  ASSERT_TRUE(board.Connect(daemon.simSocket()));
  std::vector<std::string> data;
  // Journal texts with spaces cannot be waited for: look until it is there.
  ASSERT_TRUE(blackbox::WaitFor([&] {
    data.clear();
    return board.Ask("journal /dev/hal", &data) && data.size() >= 2048;
  }));
  EXPECT_THAT(data[0], ::testing::EndsWith(" disable 8192"));
  EXPECT_THAT(data[2047], ::testing::EndsWith(" disable 10239"));
  EXPECT_TRUE(daemon.WaitLine(kStderr, "hwMux: device opened"));
  EXPECT_EQ(1u, daemon.CountLines(kStderr, "hwMux: init"));
  ASSERT_TRUE(blackbox::WaitFor([&] {
    data.clear();
    return board.Ask("ctl /dev/hal tdm 8193", &data) && data.size() == 1 &&
           data[0] != "tdm 8193 disabled disables 1";
  })) << (data.empty() ? "" : data[0]);
  EXPECT_EQ(0u, data[0].rfind("tdm 8193 disabled disables ", 0)) << data[0];
  ASSERT_TRUE(board.Ask("opened /dev/hal", &data));
  EXPECT_EQ("opened 1", data.back());
}

}  // namespace
