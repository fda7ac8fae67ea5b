// HwTests: the bus test through HwMux on the simulated switch.
#include "hardware/hwtests.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "hardware/hwmux.h"
#include "hardware/service_bench.h"
#include "sim/hal.h"

namespace {

using boardmsg::TestBpc;
using hwtest::Journal;
using hwtest::Text;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

enum { kRead, kWrite, kDisconnect };
constexpr const char* kHal = "/dev/hal";
constexpr int kBusError = 10;

// The bytes both boards derive from a seed.
std::vector<unsigned> Bytes(int seed, unsigned n) {
  srandom(static_cast<unsigned>(seed));
  std::vector<unsigned> out;
  while (n--) out.push_back(random() & 0xFF);
  return out;
}

std::string Hex(unsigned b) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X ", b);
  return buf;
}

class HwTestsTest : public hwtest::ServiceBench {
 protected:
  void SetUp() override {
    ServiceBench::SetUp();
    Capture log(std::clog);
    ASSERT_TRUE(HwMux::instance().IsOpened());
    server.Bind(&tests);
    Connect();
    Journal(kHal);
  }
  std::string Tdm(int ch) {
    return sim::Board::instance().Control(kHal, "tdm " + std::to_string(ch));
  }
  HwTests tests;
};

TEST_F(HwTestsTest, WrittenRunReadsBackWithTheSameSeedOnly) {
  Capture err(std::cerr);
  // Past the end of bus 2 into bus 3.
  Send(TestBpc(2, 7, kWrite, 100, 100));
  EXPECT_THAT(Drain(), ElementsAre("success"));
  const std::vector<unsigned> bytes = Bytes(7, 100);
  EXPECT_EQ("tdm 8548 driven 0x" + Hex(bytes[0]).substr(0, 2) + " disables 1\nok\n",
            Tdm(8192 + 256 + 100));
  EXPECT_EQ(200u, Journal(kHal).size());  // 100 writes, 100 reads
  Send(TestBpc(2, 7, kRead, 100, 100));
  EXPECT_THAT(Drain(), ElementsAre("success"));
  const std::vector<unsigned> other = Bytes(8, 100);
  unsigned first = 0;
  while (other[first] == bytes[first]) ++first;
  Send(TestBpc(2, 8, kRead, 100, 100));
  EXPECT_THAT(Drain(), ElementsAre("error " + std::to_string(kBusError)));
  EXPECT_EQ("bus 2: test failed on channel " + std::to_string((100 + first) % 128) + " expected " +
                Hex(other[first]) + " read " + Hex(bytes[first]) + "\n",
            Text(err));
}

TEST_F(HwTestsTest, FailedWriteIsCaughtOnReadBack) {
  const std::vector<unsigned> bytes = Bytes(3, 2);
  ASSERT_NE(0xFFu, bytes[0]);
  sim::Board::instance().Control(kHal, "fail write EIO 1");
  Capture err(std::cerr), log(std::clog);
  Send(TestBpc(1, 3, kWrite, 0, 2));
  EXPECT_THAT(Drain(), ElementsAre("error " + std::to_string(kBusError)));
  EXPECT_EQ("bus 1: write failed on channel 0 write " + Hex(bytes[0]) + " written FF \n",
            Text(err));
}

TEST_F(HwTestsTest, DisconnectReleasesTheRun) {
  Send(TestBpc(0, 1, kWrite, 126, 3));
  Journal(kHal);
  Send(TestBpc(0, 1, kDisconnect, 126, 3));
  EXPECT_THAT(Drain(), ElementsAre("success", "success"));
  EXPECT_THAT(Journal(kHal), ElementsAre("disable 8318", "disable 8319", "disable 8320"));
}

TEST_F(HwTestsTest, EmptyRunsPassAndAnUnknownModeIsRefused) {
  for (int mode : {kRead, kWrite, kDisconnect}) Send(TestBpc(15, 4, mode, 127, 0));
  Send(TestBpc(3, 4, -1, 0, 1));  // no mode chosen
  EXPECT_THAT(Drain(), ElementsAre("success", "success", "success", "error 0"));
  EXPECT_THAT(Journal(kHal), IsEmpty());
}

}  // namespace
