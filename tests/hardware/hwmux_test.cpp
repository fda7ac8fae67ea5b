// HwMux against the simulated switch: requests, table and log lines.
#include "hardware/hwmux.h"

#include <fcntl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
  close(0);  // started without standard input: the switch gets descriptor 0
  const int descriptors = hwtest::OpenDescriptors();
  HwMux& mux = HwMux::instance();
  const std::string noDevice = "hwMux: can't open device: No such file or directory\n";
  EXPECT_EQ("hwMux: init\n" + noDevice, log.Take());
  EXPECT_FALSE(mux.Connect(5, 8200));
  EXPECT_EQ(noDevice + "hwMux: ERROR not opened\n", log.Take());
  EXPECT_EQ(255, mux.Read(3));
  EXPECT_EQ(noDevice, log.Take());
  EXPECT_EQ(descriptors, hwtest::OpenDescriptors());
  EXPECT_EQ(-1, mux.descriptor());
  for (int i : {0, 2047}) EXPECT_EQ(0xFFFF, mux.Entry(i));
  mux.OnDPC();  // closed: nothing to refresh, the cursor stays
  board().FailOpen("/dev/hal", 0);
  EXPECT_TRUE(mux.IsOpened());
  EXPECT_EQ("hwMux: device opened\n", log.Take());
  EXPECT_EQ(0, mux.descriptor());
  std::vector<std::string> sweep;
  for (int ch = 8192; ch < 10240; ++ch) sweep.push_back("disable " + std::to_string(ch));
  EXPECT_EQ(sweep, hwtest::Journal("/dev/hal"));
  // Opened once, read-write, then marked close-on-exec; every later use
  // keeps that descriptor (here and the board's end).
  EXPECT_TRUE(mux.IsOpened());
  EXPECT_TRUE(mux.Connect(1, 2));
  EXPECT_EQ(std::vector<std::string>{"O_RDWR"}, board().Opens("/dev/hal"));
  EXPECT_EQ(FD_CLOEXEC, fcntl(mux.descriptor(), F_GETFD));
  EXPECT_EQ(descriptors + 2, hwtest::OpenDescriptors());
  EXPECT_EQ("", log.Take());
  // The loop's first pass refreshes from output 1 on: two runs of 128.
  board().Reset();
  hwtest::LoopPass()();
  sweep.assign(sweep.begin() + 1, sweep.begin() + 257);
  EXPECT_EQ(sweep, hwtest::Journal("/dev/hal"));
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
      {"", [](HwMux& m) { return m.Connect(3, -1); }, 0, "", "hwMux: ERROR not opened\n", -1, 0},
      {"", [](HwMux& m) { return m.Connect(0, 0); }, 1, "connect 0 0", "", -1, 0},
      {"", [](HwMux& m) { return m.Disconnect(0); }, 1, "write 0 0xD5", "", -1, 0},
      {"", [](HwMux& m) { return m.Disable(0); }, 1, "disable 0", "", -1, 0},
      {"", [](HwMux& m) { return m.Write(0, 7); }, 1, "write 0 0x07", "", -1, 0},
      {"", [](HwMux& m) { return m.Read(0); }, 0xFF, "read 0 0xFF", "", -1, 0},
      {"connect EIO", [](HwMux& m) { return m.Connect(7, 8201); }, 0, "connect 8201 7 failed 5",
       "hwMux: connect 7 -> 8201 failed: Input/output error\n", 9, 7},
      {"", [](HwMux& m) { return m.Disconnect(8192); }, 1, "write 8192 0xD5", "", 0, 0xFFFE},
      {"write EIO", [](HwMux& m) { return m.Disconnect(8203); }, 0, "write 8203 0xD5 failed 5",
       "hwMux: disconnect failed 8203 : Input/output error\n", 11, 0xFFFE},
      {"", [](HwMux& m) { return m.Disable(8204); }, 1, "disable 8204", "", 12, 0xFFFF},
      {"disable EBUSY", [](HwMux& m) { return m.Disable(8204); }, 0, "disable 8204 failed 16",
       "hwMux: disable failed 8204 : Device or resource busy\n", 12, 0xFFFF},
      {"", [](HwMux& m) { return m.Disable(-3); }, 0, "", "", -1, 0},
      {"", [](HwMux& m) { return m.Disconnect(-1); }, 0, "", "", -1, 0},
      {"", [](HwMux& m) { return m.Write(-1, 1); }, 0, "", "", -1, 0},
      {"", [](HwMux& m) { return m.Write(8300, 0x3C); }, 1, "write 8300 0x3C", "", 108, 0xFFFE},
      {"write EIO", [](HwMux& m) { return m.Write(8205, 0xAB); }, 0, "write 8205 0xAB failed 5",
       "hwMux: write failed 8205 <- 0xAB : Input/output error\n", 13, 0xFFFE},
      {"", [](HwMux& m) { return m.Read(20); }, 0x11, "read 20 0x11", "", -1, 0},
      {"read EIO", [](HwMux& m) { return m.Read(20); }, 255, "read 20 failed 5",
       "hwMux: read failed 20 -> 0xFF : Input/output error\n", -1, 0},
      {"", [](HwMux& m) { return m.Read(-1); }, 255, "", "", -1, 0},
      // The refresh step re-disables only outputs meant to be disabled.
      {"", [](HwMux& m) { return m.RefreshChannel(12), 0; }, 0, "disable 8204", "", 12, 0xFFFF},
      {"", [](HwMux& m) { return m.RefreshChannel(0), 0; }, 0, "", "", 0, 0xFFFE},
      {"", [](HwMux& m) { return m.RefreshChannel(-1), 0; }, 0, "", "", -1, 0},
      {"", [](HwMux& m) { return m.RefreshChannel(HwMux::kTracked), 0; }, 0, "", "", -1, 0},
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

// The refresh as the loop runs it: twice a pass, 128 outputs a run, in
// order from the cursor on, only those meant to be disabled.
TEST(HwMuxRefresh, SixteenRunsReassertEveryDisabledOutputOnce) {
  HwMux& mux = HwMux::instance();
  ASSERT_TRUE(mux.IsOpened());
  for (int ch = HwMux::kFirstTracked; ch < HwMux::kFirstTracked + HwMux::kTracked; ++ch)
    mux.Disable(ch);
  board().Reset();
  hwtest::LoopPass pass;
  pass();
  std::vector<std::string> first = hwtest::Journal("/dev/hal");
  ASSERT_EQ(256u, first.size());
  const int cursor = std::stoi(first.back().substr(8)) - HwMux::kFirstTracked;
  const int driven = (cursor + 5) % HwMux::kTracked, connected = (cursor + 300) % HwMux::kTracked;
  mux.Write(HwMux::kFirstTracked + driven, 1);
  mux.Connect(5, HwMux::kFirstTracked + connected);
  // Outputs just outside the table are switched, not tracked.
  mux.Connect(6, HwMux::kFirstTracked - 1);
  mux.Connect(6, HwMux::kFirstTracked + HwMux::kTracked);
  board().Reset();  // every output unset again: each first disable is journalled
  // Eight passes sweep every output once; the ninth only repeats (counted).
  for (int run = 0; run < 9; ++run) {
    board().ClearJournal("/dev/hal");
    pass();
    std::vector<std::string> expect;
    for (int i = 1; i <= 256 && run < 8; ++i) {
      const int index = (cursor + 256 * run + i) % HwMux::kTracked;
      if (index != driven && index != connected)
        expect.push_back("disable " + std::to_string(HwMux::kFirstTracked + index));
    }
    EXPECT_EQ(expect, hwtest::Journal("/dev/hal")) << "pass " << run;
  }
  EXPECT_EQ(2u, Disables(HwMux::kFirstTracked + (cursor + 1) % HwMux::kTracked));
  EXPECT_EQ(0u, Disables(HwMux::kFirstTracked + driven));
  EXPECT_EQ(HwMux::kDriven, mux.Entry(driven));
  EXPECT_EQ(5, mux.Entry(connected));
}

// Called from deep inside the test runner: the frame count is capped.
TEST(HwMuxTrace, AtMostTenFramesOnStandardOutput) {
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  std::fflush(stdout);
  const int saved = dup(1);
  dup2(pipeFds[1], 1);
  print_trace();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(pipeFds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  close(pipeFds[0]);
  EXPECT_EQ(0u, text.rfind("Obtained 10 stack frames.\n", 0));
  EXPECT_EQ(11, std::count(text.begin(), text.end(), '\n'));
}

}  // namespace
