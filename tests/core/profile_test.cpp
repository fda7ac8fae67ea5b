#include "core/profile.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/timer.h"
#include "core/traceblock.h"

namespace {
class ProfileTest : public ::testing::Test {
 protected:
  void TearDown() override { Mux::g_tv_time = Mux::timeval(); }
  static void SetMicroseconds(uint64_t us) {
    Mux::g_tv_time.tv_sec = uint32_t(us / 1000000);
    Mux::g_tv_time.tv_usec = uint32_t(us % 1000000);
  }
};
}  // namespace

TEST_F(ProfileTest, MeasuresAcrossTheWrapOfTheMicrosecondClock) {
  Profile::Point p("Tpkt_protocol::message");
  uint64_t wrap = uint64_t(1) << 32;
  SetMicroseconds(wrap * 300 - 40);
  p.begin();
  SetMicroseconds(wrap * 300 + 60);
  p.end();
  SetMicroseconds(1000);
  p.begin();
  SetMicroseconds(1030);
  p.end();
  SetMicroseconds(2000);
  p.begin();
  SetMicroseconds(2070);
  p.end();
  std::ostringstream out;
  p.put(out);
  EXPECT_EQ("[Tpkt_protocol::message]: min=30 max=100 avg=70 counter=3", out.str());
}

TEST_F(ProfileTest, DumpListsLivePointsNewestFirst) {
  std::ostringstream before;
  Profile::dump(before);
  {
    Profile::Point a("Control::Service::Send [1]");
    Profile::Point b("Control::Service::Send [2]");
    std::ostringstream out;
    Profile::dump(out);
    EXPECT_EQ(
        "[Control::Service::Send [2]]: min=0 max=0 avg=0 counter=0\n"
        "[Control::Service::Send [1]]: min=0 max=0 avg=0 counter=0\n" +
            before.str(),
        out.str());
  }
  std::ostringstream after;
  Profile::dump(after);
  EXPECT_EQ(before.str(), after.str());
}

TEST(TraceBlock, EnterAndLeaveWhenEnabled) {
  std::ostringstream out;
  {
    Trace::Block on(true, "OnMessage", out);
    Trace::Block off(false, "Quiet", out);
    out << "inside\n";
  }
  EXPECT_EQ("Enter OnMessage\ninside\nLeave OnMessage\n", out.str());
}
