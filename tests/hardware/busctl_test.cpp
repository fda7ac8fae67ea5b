// BusCtl against the clock selector of the simulated "/dev/hal".
#include "hardware/busctl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hardware/service_bench.h"
#include "hardware/spictrl.h"
#include "sim/hal.h"

namespace {

using boardmsg::ClockCfg;
using hwtest::Journal;
using hwtest::Lines;
using hwtest::Text;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kHal = "/dev/hal";
enum { kExternal = 0, kInternal = 1 };  // clkSel0
enum { kEnabled = 0, kDisabled = 1 };   // bextEn
constexpr int kUnsupported = 6;

std::string Cmd(int sel, int ext, int source) {
  LGCP::ClockCfg cfg = ClockCfg(sel, ext, source).get_clockCfg();
  std::ostringstream out;
  out << "clkctl: set clock source cmd: " << cfg << "\n";
  return out.str();
}

class BusCtlTest : public hwtest::ServiceBench {
 protected:
  void SetUp() override {
    ServiceBench::SetUp();
    server.Bind(&bus);
  }
  BusCtl bus;
};

TEST_F(BusCtlTest, ConnectFreeRunsThenClockCfgSelects) {
  Capture err(std::cerr);
  Connect();
  EXPECT_THAT(Journal(kHal), ElementsAre("clock 4"));
  EXPECT_EQ(Cmd(kInternal, kDisabled, -1) + "clkctl: clock source = freerun\n", Text(err));
  struct Row {
    int sel, ext, source;
    std::vector<std::string> written;
    std::string result;
  } rows[] = {
      {kInternal, kEnabled, 2, {"clock 4"}, "clkctl: clock source = freerun\n"},  // clkSel0 wins
      {kExternal, kDisabled, 1, {"clock 5"}, "clkctl: clock source = X3\n"},
      {kExternal, kEnabled, 2, {"clock 2"}, "clkctl: clock source = f2\n"},
      {kExternal, kEnabled, 7, {"clock 7"}, "clkctl: clock source = ?2\n"},
      {kExternal, kEnabled, -1, {}, ""},  // logged, nothing selected
      {kExternal, kEnabled, 9, {"clock 9 failed 22"}, "clkctl: HW_CLOCK_SELECT fail.\n"},
  };
  for (const Row& r : rows) {
    Capture err(std::cerr);
    Send(ClockCfg(r.sel, r.ext, r.source));
    EXPECT_THAT(Drain(), ElementsAre("success")) << r.source;
    EXPECT_EQ(r.written, Journal(kHal)) << r.source;
    EXPECT_EQ(Cmd(r.sel, r.ext, r.source) + r.result, Text(err));
  }
}

TEST_F(BusCtlTest, SourceNamesStayInsideTheTable) {
  struct Row {
    int code;
    const char* name;
  } rows[] = {{0, "f0"}, {3, "f3"}, {4, "freerun"}, {5, "X3"},     {6, "?1"},
              {7, "?2"}, {8, "8"},  {-1, "-1"},     {1000, "1000"}};
  for (const Row& r : rows) EXPECT_EQ(r.name, BusCtl::SourceName(r.code)) << r.code;
}

TEST_F(BusCtlTest, DisabledControlNeverTouchesTheSelector) {
  Capture log(std::clog), err(std::cerr);
  bus.DisableControl();
  Connect();
  Send(ClockCfg(kInternal, kDisabled, -1), 9);
  EXPECT_THAT(Drain(), ElementsAre("error " + std::to_string(kUnsupported)));
  EXPECT_THAT(Lines(log), ElementsAre("clock control disabled."));
  EXPECT_THAT(Lines(err), IsEmpty());
  EXPECT_EQ(0, sim::Board::instance().OpenCount(kHal));
  EXPECT_THAT(Journal(kHal), IsEmpty());
}

TEST_F(BusCtlTest, UnreachableSelectorReleasesTheClockMaster) {
  sim::Board::instance().FailOpen(kHal, ENOENT);
  Capture log(std::clog), err(std::cerr);
  spiCtrl spi;
  BusCtl lonely(&spi);
  lonely.SetDefaultClock();
  EXPECT_THAT(Lines(err), ElementsAre("clkctl: set clock source fail: code 1."));
  EXPECT_THAT(Lines(log), ElementsAre("spi: try init", "spi: /dev/hal open fail", "spi: try init",
                                      "spi: /dev/hal open fail", "spi: clock master disabled"));
  // The selector appears: the next command reaches it.
  sim::Board::instance().FailOpen(kHal, 0);
  lonely.DrvSetClkSrc(1);
  EXPECT_THAT(Journal(kHal), ElementsAre("clock 1"));
}

}  // namespace
