// The controller heartbeat on a real listener, driven by the loop.
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

// The daemon's own period, on the frozen clock.
class HeartbeatTest : public FrozenLoop {
 protected:
  static constexpr int kWatch = int(HeartBeatCtl::defaultTimeout);

  void SetUp() override {
    FrozenLoop::SetUp();
    server.Bind(&heartbeat);
    server.Bind(&next);
    auto* acceptor = new Control::AcceptorNetCheckConnection(0, false);
    ASSERT_TRUE(server.Activate(acceptor));
    port = acceptor->GetBoundPort();
  }
  void TearDown() override {
    server.Deactivate();
    FrozenLoop::TearDown();
  }

  Fd Controller() {
    Fd c = ConnectTo(port);
    int before = next.connects;
    Capture connectLine(std::clog);
    PassUntil([&] { return next.connects > before; });
    return c;
  }
  lgcptest::Seen Ask(Fd const& c, LGCP::Message const& m) {
    auto f = Frame(lgcptest::Encode(m));
    WriteAll(c.get(), f.data(), f.size());
    PassUntil([&] {
      pollfd pf{c.get(), POLLIN, 0};
      return ::poll(&pf, 1, 0) == 1;
    });
    std::vector<unsigned char> body;
    EXPECT_TRUE(ReadFrame(c.get(), body, 5000));
    return lgcptest::Parse(body);
  }

  CtrlSrv::Server server;
  HeartBeatCtl heartbeat;
  CountingService next;
  unsigned short port = 0;
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
  Advance(kWatch - 1);
  EXPECT_EQ(log.Take(), "");
  Advance(1);
  EXPECT_EQ(log.Take(), "heartbeat timeout!!!\n");
  EXPECT_EQ(next.disconnects, 1);
  EXPECT_TRUE(SeesEof(c.get()));
  EXPECT_FALSE(heartbeat.Watching());

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
    Advance(kWatch / 6);
  }
  Capture log(std::clog);
  Advance(kWatch - kWatch / 6 - 1);
  EXPECT_EQ(log.Take(), "");
  Advance(1);
  EXPECT_EQ(log.Take(), "heartbeat timeout!!!\n");
  EXPECT_EQ(next.disconnects, 1);
}

TEST_F(HeartbeatTest, DisconnectCancelsTheWatch) {
  {
    Fd c = Controller();
    Ask(c, lgcptest::Ping());
    EXPECT_TRUE(heartbeat.Watching());
  }
  PassUntil([&] { return next.disconnects == 1; });
  EXPECT_FALSE(heartbeat.Watching());
}

TEST(Heartbeat, SingletonWatchesTheDaemonPeriod) {
  std::ostringstream o;
  HeartBeatCtl::instance()->PutHeader(o);
  EXPECT_EQ(o.str(), "heartbeat: ");
  EXPECT_EQ(HeartBeatCtl::defaultTimeout, 120000u);
}

}  // namespace
