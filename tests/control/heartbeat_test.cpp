// The controller heartbeat with a short watch, on a real listener and loop.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "control/control.h"
#include "control/ctrl_testkit.h"
#include "control/ctrlsrv.h"
#include "control/heartbeat.h"
#include "control/lgcp_testkit.h"
#include "tests/stream_capture.h"

using namespace ctrltest;

namespace {

struct CountingService : CtrlSrv::Service {
  void OnConnect() override { ++connects; }
  void OnDisconnect() override { ++disconnects; }
  bool OnCommand(LGCP::Command const& cmd) override {
    commands.push_back(cmd.currentSelection());
    Success();
    return true;
  }
  int connects = 0;
  int disconnects = 0;
  std::vector<int> commands;
};

class HeartbeatTest : public ::testing::Test {
 protected:
  static constexpr unsigned kWatch = 1500;  // ms

  void SetUp() override {
    server.Bind(&heartbeat);
    server.Bind(&next);
    auto* acceptor = new Control::AcceptorNetCheckConnection(0, false);
    ASSERT_TRUE(server.Activate(acceptor));
    port = acceptor->GetBoundPort();
  }
  void TearDown() override { server.Deactivate(); }

  Fd Controller() {
    Fd c = ConnectTo(port);
    int before = next.connects;
    testing::internal::CaptureStderr();
    loop.RunUntil([&] { return next.connects > before; });
    testing::internal::GetCapturedStderr();
    return c;
  }
  lgcptest::Seen Ask(Fd const& c, LGCP::Message const& m) {
    auto f = Frame(lgcptest::Encode(m));
    WriteAll(c.get(), f.data(), f.size());
    std::vector<unsigned char> body;
    bool got = false;
    loop.RunUntil([&] {
      pollfd pf{c.get(), POLLIN, 0};
      return ::poll(&pf, 1, 0) == 1;
    });
    got = ReadFrame(c.get(), body, 5000);
    EXPECT_TRUE(got);
    return lgcptest::Parse(body);
  }

  CtrlSrv::Server server;
  HeartBeatCtl heartbeat{kWatch};
  CountingService next;
  unsigned short port = 0;
  LoopRunner loop;
};

TEST_F(HeartbeatTest, PingIsAnsweredHereAndGoesNoFurther) {
  Fd c = Controller();
  EXPECT_FALSE(heartbeat.Watching());  // a connect alone starts nothing
  auto a = Ask(c, lgcptest::Ping(4, 2));
  EXPECT_TRUE(a.IsSuccess());
  EXPECT_EQ(a.seq, 4);
  EXPECT_EQ(a.slot, 2u);
  EXPECT_TRUE(next.commands.empty());
  EXPECT_TRUE(heartbeat.Watching());

  a = Ask(c, lgcptest::Command(lgcptest::kQuery, 5));
  EXPECT_TRUE(a.IsSuccess());
  EXPECT_EQ(next.commands, std::vector<int>{lgcptest::kQuery});
}

TEST_F(HeartbeatTest, SilentControllerIsDropped) {
  Fd c = Controller();
  Ask(c, lgcptest::Ping());
  Capture log(std::clog);
  ASSERT_TRUE(loop.RunUntil([&] { return next.disconnects == 1; }));
  EXPECT_EQ(log.lines(), "heartbeat timeout!!!\n");
  EXPECT_TRUE(SeesEof(c.get()));
  EXPECT_FALSE(heartbeat.Watching());
  loop.Turn(3);
  EXPECT_EQ(next.disconnects, 1);

  // The next controller starts without a watch until its first command.
  Fd again = Controller();
  EXPECT_FALSE(heartbeat.Watching());
  EXPECT_TRUE(Ask(again, lgcptest::Ping(1)).IsSuccess());
  EXPECT_TRUE(heartbeat.Watching());
}

TEST_F(HeartbeatTest, EveryCommandRestartsTheWatch) {
  Fd c = Controller();
  // Commands a sixth of the watch apart, for two whole watches.
  for (int i = 0; i < 12; ++i) {
    EXPECT_TRUE(Ask(c, lgcptest::Command(lgcptest::kQuery, i)).IsSuccess());
    loop.RunUntil([&] { return false; }, kWatch / 6);
  }
  EXPECT_EQ(next.disconnects, 0);
}

TEST_F(HeartbeatTest, DisconnectCancelsTheWatch) {
  {
    Fd c = Controller();
    Ask(c, lgcptest::Ping());
    EXPECT_TRUE(heartbeat.Watching());
  }
  loop.RunUntil([&] { return next.disconnects == 1; });
  EXPECT_FALSE(heartbeat.Watching());
}

TEST(Heartbeat, SingletonWatchesTheDaemonPeriod) {
  std::ostringstream o;
  HeartBeatCtl::instance()->PutHeader(o);
  EXPECT_EQ(o.str(), "heartbeat: ");
  EXPECT_EQ(HeartBeatCtl::defaultTimeout, 120000u);
}

}  // namespace
