// HwMux against the simulated switch: requests, table and log lines.
#include "hardware/hwmux.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "hw_testkit.h"
#include "sim/hal.h"

namespace {

using hwtest::board;

unsigned Disables(int ch) {
  return board().With<sim::Hal>("/dev/hal", [ch](sim::Hal& h) { return h.tdm().At(ch).disables; });
}

// The switch opens once per process: this runs alone (as under ctest).
TEST(HwMuxOpen, FailedOpenIsRetriedAtTheNextUse) {
  if (board().OpenCount("/dev/hal") > 0) GTEST_SKIP() << "the switch is open already";
  hwtest::Capture log(std::clog);
  board().FailOpen("/dev/hal", ENOENT);
  HwMux& mux = HwMux::instance();
  const std::string noDevice = "hwMux: can't open device: No such file or directory\n";
  EXPECT_EQ("hwMux: init\n" + noDevice, log.Take());
  EXPECT_FALSE(mux.Connect(5, 8200));
  EXPECT_EQ(noDevice + "hwMux: ERROR not opened\n", log.Take());
  EXPECT_EQ(255, mux.Read(3));
  EXPECT_EQ(noDevice, log.Take());
  board().FailOpen("/dev/hal", 0);
  EXPECT_TRUE(mux.IsOpened());
  EXPECT_EQ("hwMux: device opened\n", log.Take());
  std::vector<std::string> sweep = hwtest::Journal("/dev/hal");
  ASSERT_EQ(2048u, sweep.size());
  EXPECT_EQ("disable 8192", sweep.front());
  EXPECT_EQ("disable 10239", sweep.back());
}

TEST(HwMuxOps, RequestsTableAndLog) {
  const struct {
    const char* fault;  // "REQUEST ERRNO" armed first
    std::function<int(HwMux&)> op;
    int result;
    const char *journal, *log;
    int index;  // table entry looked at, -1 for none
    uint16_t entry;
  } rows[] = {
      {"", [](HwMux& m) { return m.Connect(5, 8200); }, 1, "connect 8200 5", "", 8, 5},
      {"", [](HwMux& m) { return m.Connect(5, 40); }, 1, "connect 40 5", "", -1, 0},
      {"", [](HwMux& m) { return m.Connect(-1, 8201); }, 0, "", "hwMux: ERROR not opened\n", -1, 0},
      {"connect EIO", [](HwMux& m) { return m.Connect(7, 8201); }, 0, "connect 8201 7 failed 5",
       "hwMux: connect 7 -> 8201 failed: Input/output error\n", 9, 7},
      {"", [](HwMux& m) { return m.Disconnect(8192); }, 1, "write 8192 0xD5", "", 0, 0xFFFE},
      {"write EIO", [](HwMux& m) { return m.Disconnect(8203); }, 0, "write 8203 0xD5 failed 5",
       "hwMux: disconnect failed 8203 : Input/output error\n", 11, 0xFFFE},
      {"", [](HwMux& m) { return m.Disable(8204); }, 1, "disable 8204", "", 12, 0xFFFF},
      {"disable EBUSY", [](HwMux& m) { return m.Disable(8204); }, 0, "disable 8204 failed 16",
       "hwMux: disable failed 8204 : Device or resource busy\n", 12, 0xFFFF},
      {"", [](HwMux& m) { return m.Disable(-3); }, 0, "", "", -1, 0},
      {"", [](HwMux& m) { return m.Write(8300, 0x3C); }, 1, "write 8300 0x3C", "", 108, 0xFFFE},
      {"write EIO", [](HwMux& m) { return m.Write(8205, 0xAB); }, 0, "write 8205 0xAB failed 5",
       "hwMux: write failed 8205 <- 0xAB : Input/output error\n", 13, 0xFFFE},
      {"", [](HwMux& m) { return m.Read(20); }, 0x11, "read 20 0x11", "", -1, 0},
      {"read EIO", [](HwMux& m) { return m.Read(20); }, 255, "read 20 failed 5",
       "hwMux: read failed 20 -> 0xFF : Input/output error\n", -1, 0},
      {"", [](HwMux& m) { return m.Read(-1); }, 255, "", "", -1, 0},
  };
  HwMux& mux = HwMux::instance();
  ASSERT_TRUE(mux.IsOpened());
  hwtest::Capture log(std::clog);
  for (auto& r : rows) {
    SCOPED_TRACE(r.journal);
    board().Reset();
    board().Control("/dev/hal", "preset 20 0x11");
    board().Control("/dev/hal", std::string("fail ") + r.fault + " 1");
    EXPECT_EQ(r.result, r.op(mux));
    EXPECT_EQ(r.log, log.Take());
    EXPECT_EQ(*r.journal ? std::vector<std::string>{r.journal} : std::vector<std::string>{},
              hwtest::Journal("/dev/hal"));
    EXPECT_EQ(r.entry, r.index < 0 ? r.entry : mux.Entry(r.index));
  }
}

TEST(HwMuxRefresh, SixteenRunsReassertEveryDisabledOutputOnce) {
  HwMux& mux = HwMux::instance();
  ASSERT_TRUE(mux.IsOpened());
  mux.Disable(8500);
  mux.Write(8501, 1);
  const unsigned before[2] = {Disables(8500), Disables(8501)};
  for (int i = 0; i < 16; ++i) mux.OnDPC();
  EXPECT_EQ(before[0] + 1, Disables(8500));
  EXPECT_EQ(before[1], Disables(8501));
}

}  // namespace
