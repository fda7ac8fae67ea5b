// HwMux against the simulated switch: the requests it sends, its table and
// its log lines.
#include "hardware/hwmux.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "sim/board.h"
#include "sim/hal.h"

namespace {

sim::Board& board() {
  return sim::Board::instance();
}

std::vector<std::string> Journal() {
  std::vector<std::string> out;
  for (auto& e : board().Journal("/dev/hal")) out.push_back(e.text);
  return out;
}

// Captures the log stream.
class LogCapture {
 public:
  LogCapture() : old_(std::clog.rdbuf(text_.rdbuf())) {}
  ~LogCapture() { std::clog.rdbuf(old_); }
  std::string Take() {
    std::string s = text_.str();
    text_.str("");
    return s;
  }

 private:
  std::ostringstream text_;
  std::streambuf* old_;
};

unsigned Disables(int ch) {
  return board().With<sim::Hal>("/dev/hal", [ch](sim::Hal& h) { return h.tdm().At(ch).disables; });
}

// Runs alone (ctest runs every test in a process of its own): the switch
// opens once per process.
TEST(HwMuxOpen, FailedOpenIsRetriedAtTheNextUse) {
  if (board().OpenCount("/dev/hal") > 0) GTEST_SKIP() << "the switch is open already";
  LogCapture log;
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
  std::vector<std::string> sweep = Journal();
  ASSERT_EQ(2048u, sweep.size());
  EXPECT_EQ("disable 8192", sweep.front());
  EXPECT_EQ("disable 10239", sweep.back());
  EXPECT_TRUE(mux.IsOpened());
  EXPECT_EQ(2048u, Journal().size());
}

struct OpCase {
  const char* what;
  const char* fault;  // "REQUEST ERRNO" armed first, or ""
  std::function<int(HwMux&)> op;
  int result;
  const char* journal;  // the request sent, "" for none
  const char* log;
  int index;  // table entry looked at, -1 for none
  uint16_t entry;
};

void PrintTo(const OpCase& c, std::ostream* out) {
  *out << c.what;
}

class HwMuxOps : public ::testing::TestWithParam<OpCase> {};

TEST_P(HwMuxOps, RequestTableAndLog) {
  const OpCase& c = GetParam();
  HwMux& mux = HwMux::instance();
  ASSERT_TRUE(mux.IsOpened());
  board().Reset();
  board().Control("/dev/hal", "preset 20 0x11");
  if (*c.fault) board().Control("/dev/hal", std::string("fail ") + c.fault + " 1");
  LogCapture log;
  EXPECT_EQ(c.result, c.op(mux));
  EXPECT_EQ(c.log, log.Take());
  std::vector<std::string> j = Journal();
  if (*c.journal) {
    EXPECT_THAT(j, ::testing::ElementsAre(c.journal));
  } else {
    EXPECT_TRUE(j.empty());
  }
  if (c.index >= 0) {
    EXPECT_EQ(c.entry, mux.Entry(c.index));
  }
}

const OpCase kOps[] = {
    {"ConnectTracked", "", [](HwMux& m) { return m.Connect(5, 8200); }, 1, "connect 8200 5", "", 8,
     5},
    {"ConnectUntracked", "", [](HwMux& m) { return m.Connect(5, 40); }, 1, "connect 40 5", "", -1,
     0},
    {"ConnectNegative", "", [](HwMux& m) { return m.Connect(-1, 8201); }, 0, "",
     "hwMux: ERROR not opened\n", -1, 0},
    {"ConnectFails", "connect EIO", [](HwMux& m) { return m.Connect(7, 8201); }, 0,
     "connect 8201 7 failed 5", "hwMux: connect 7 -> 8201 failed: Input/output error\n", 9, 7},
    {"Disconnect", "", [](HwMux& m) { return m.Disconnect(8192); }, 1, "write 8192 0xD5", "", 0,
     0xFFFE},
    {"DisconnectFails", "write EIO", [](HwMux& m) { return m.Disconnect(8203); }, 0,
     "write 8203 0xD5 failed 5", "hwMux: disconnect failed 8203 : Input/output error\n", 11,
     0xFFFE},
    {"Disable", "", [](HwMux& m) { return m.Disable(8204); }, 1, "disable 8204", "", 12, 0xFFFF},
    {"DisableFails", "disable EBUSY", [](HwMux& m) { return m.Disable(8204); }, 0,
     "disable 8204 failed 16", "hwMux: disable failed 8204 : Device or resource busy\n", 12,
     0xFFFF},
    {"DisableNegative", "", [](HwMux& m) { return m.Disable(-3); }, 0, "", "", -1, 0},
    {"Write", "", [](HwMux& m) { return m.Write(8300, 0x3C); }, 1, "write 8300 0x3C", "", 108,
     0xFFFE},
    {"WriteFails", "write EIO", [](HwMux& m) { return m.Write(8205, 0xAB); }, 0,
     "write 8205 0xAB failed 5", "hwMux: write failed 8205 <- 0xAB : Input/output error\n", 13,
     0xFFFE},
    {"ReadPreset", "", [](HwMux& m) { return m.Read(20); }, 0x11, "read 20 0x11", "", -1, 0},
    {"ReadFails", "read EIO", [](HwMux& m) { return m.Read(20); }, 255, "read 20 failed 5",
     "hwMux: read failed 20 -> 0xFF : Input/output error\n", -1, 0},
    {"ReadNegative", "", [](HwMux& m) { return m.Read(-1); }, 255, "", "", -1, 0},
};

INSTANTIATE_TEST_SUITE_P(Switch, HwMuxOps, ::testing::ValuesIn(kOps),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(HwMuxRefresh, SixteenRunsReassertEveryDisabledOutputOnce) {
  HwMux& mux = HwMux::instance();
  ASSERT_TRUE(mux.IsOpened());
  mux.Disable(8500);
  mux.Write(8501, 1);
  mux.Connect(2, 8502);
  const unsigned before[3] = {Disables(8500), Disables(8501), Disables(8502)};
  for (int i = 0; i < 15; ++i) mux.OnDPC();
  const unsigned batch = Disables(8500) - before[0];
  mux.OnDPC();
  EXPECT_EQ(before[0] + 1, Disables(8500));
  EXPECT_LE(batch, 1u);
  EXPECT_EQ(before[1], Disables(8501));
  EXPECT_EQ(before[2], Disables(8502));
}

}  // namespace
