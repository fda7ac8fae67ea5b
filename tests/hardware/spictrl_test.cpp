// spiCtrl against the SPI block of the simulated "/dev/hal".
#include "hardware/spictrl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "hardware/service_bench.h"
#include "sim/hal.h"

namespace {

using hwtest::Journal;
using hwtest::Lines;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kHal = "/dev/hal";

std::string Bri(int ch, const char* state, int slips) {
  return "trunk " + std::to_string(ch) + " " + state + " slips " + std::to_string(slips) +
         " bf 0 carrier 0 ais 0 rai 0 name '' master 0 bri";
}

void SetStatus(int ch, unsigned value) {
  sim::Board::instance().Control(kHal,
                                 "spi " + std::to_string(ch) + " 51 " + std::to_string(value));
}

class SpiCtrlTest : public hwtest::ServiceBench {
 protected:
  void Start() {
    Capture log(std::clog);
    spi = std::make_unique<spiCtrl>();
    server.Bind(spi.get());
    Connect();
    Journal(kHal);
  }
  std::unique_ptr<spiCtrl> spi;
};

TEST_F(SpiCtrlTest, SetsUpSevenChannelsAndReleasesAllEight) {
  Capture log(std::clog);
  spi = std::make_unique<spiCtrl>();
  std::vector<std::string> writes, lines = {"spi: try init"};
  for (int ch = 0; ch < 7; ++ch) {
    for (const char* w :
         {"50 0x80", "48 0x08", "87 0x30", "52 0x60", "53 0x00", "54 0x00", "55 0x00", "50 0x00"})
      writes.push_back("spi-write " + std::to_string(ch) + " " + w);
    lines.push_back("spi: init channel " + std::to_string(ch));
    lines.push_back("spi: enable channel " + std::to_string(ch));
  }
  EXPECT_EQ(writes, Journal(kHal));
  spi->init_channel(8);
  spi->enable_channel(-1);
  spi->clock(8);
  lines.insert(lines.end(), {"spi: bad channel for init 8", "spi: bad channel for enable -1",
                             "spi: bad channel for set clock master 8"});
  EXPECT_EQ(lines, Lines(log));
  EXPECT_THAT(Journal(kHal), IsEmpty());
  spi.reset();
  writes.clear();
  for (int ch = 0; ch < 8; ++ch) writes.push_back("spi-write " + std::to_string(ch) + " 50 0x80");
  for (int ch = 0; ch < 8; ++ch) writes.push_back("spi-write " + std::to_string(ch) + " 87 0x30");
  EXPECT_EQ(writes, Journal(kHal));
}

TEST_F(SpiCtrlTest, ReportsEveryChannelEachSecondWhileConnected) {
  const unsigned regs[8] = {0xC5, 0x85, 0x45, 0x01, 0x00, 0x05, 0xC1, 0xC4};
  for (int ch = 0; ch < 8; ++ch) SetStatus(ch, regs[ch]);
  Start();
  EXPECT_THAT(Drain(), IsEmpty());  // the first report comes a second later
  Advance(1000);
  EXPECT_THAT(Drain(), ElementsAre(Bri(0, "normal", 0), Bri(1, "rai", 0), Bri(2, "ais", 0),
                                   Bri(3, "lossBF", 0), Bri(4, "lossCarrier", 0), Bri(5, "ais", 0),
                                   Bri(6, "lossBF", 0), Bri(7, "lossCarrier", 0)));
  Advance(1000);
  EXPECT_EQ(8u, Drain().size());
  server.OnDisconnect();
  EXPECT_FALSE(spi->reporting());
}

TEST_F(SpiCtrlTest, EachChannelLatchesItsOwnSlip) {
  SetStatus(0, 0xE5);  // bit 5: a slip
  Start();
  std::vector<int> seen;
  for (unsigned reg0 : {0xE5u, 0xE5u, 0xC5u, 0xE5u}) {
    SetStatus(0, reg0);
    SetStatus(1, 0xC5);
    Advance(1000);
    auto reports = Drain();
    ASSERT_EQ(8u, reports.size());
    seen.push_back(reports[0] == Bri(0, "normal", 1));
    EXPECT_EQ(Bri(1, "normal", 0), reports[1]);
  }
  EXPECT_THAT(seen, ElementsAre(1, 0, 0, 1));
}

TEST_F(SpiCtrlTest, BoardWithoutSpiSilencesTheServiceForGood) {
  sim::Board::instance().Control(kHal, "spi-present off");
  Capture log(std::clog);
  spi = std::make_unique<spiCtrl>();
  server.Bind(spi.get());
  Connect();
  spi->clock(-1);
  spi->init_channel(3);
  EXPECT_FALSE(spi->reporting());
  EXPECT_THAT(Lines(log), ElementsAre("spi: try init", "spi: hal without spi"));
  EXPECT_THAT(Journal(kHal), ElementsAre("spi-write 0 50 0x80 failed 19"));
}

TEST_F(SpiCtrlTest, SpiLostInAReportEndsItThere) {
  Start();
  sim::Board::instance().Control(kHal, "fail spi-read EIO 1");
  Capture log(std::clog);
  Advance(1000);
  // Another failure only costs its channel a report of lost carrier.
  EXPECT_EQ(Bri(0, "lossCarrier", 0), Drain()[0]);
  EXPECT_THAT(Lines(log), ElementsAre("spi: read error: channel=0 addr=51"));
  sim::Board::instance().Control(kHal, "fail spi-read ENODEV 1");
  Advance(1000);
  EXPECT_THAT(Drain(), IsEmpty());
  EXPECT_FALSE(spi->reporting());
  Advance(1000);
  EXPECT_THAT(Drain(), IsEmpty());
}

}  // namespace
