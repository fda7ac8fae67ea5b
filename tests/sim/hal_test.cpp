// "/dev/hal" seen from the daemon's side: raw requests through the
// interposed ioctl, state through the control commands.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "sim/board.h"
#include "sim/hal.h"

namespace {

using ::testing::ElementsAre;

sim::Board& board() {
  return sim::Board::instance();
}

std::string Ctl(const std::string& words) {
  return board().Control("/dev/hal", words);
}

class BoardHal : public ::testing::Test {
 protected:
  void SetUp() override {
    board().Reset();
    fd_ = open("/dev/hal", O_RDWR);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    close(fd_);
    board().Reset();
  }
  // The request's result, or -errno.
  int Do(unsigned long request, void* arg) {
    errno = 0;
    int r = ioctl(fd_, request, arg);
    return r < 0 ? -errno : r;
  }
  std::vector<std::string> Journal() {
    std::vector<std::string> out;
    for (auto& e : board().Journal("/dev/hal")) out.push_back(e.text);
    return out;
  }
  int fd_ = -1;
};

TEST_F(BoardHal, RequestsAreCheckedAgainstTheirRecords) {
  int32_t words[2] = {8200, 5};
  struct {
    unsigned long request;
    void* arg;
    int expect;
  } rows[] = {
      {0x80084D02, words, 0},           // connect
      {0x80044D02, words, -EINVAL},     // connect with a 4-byte record
      {0x40084D02, words, -ENOTTY},     // the host's encoding of a write
      {0x80084D02, nullptr, -EFAULT},   // no record
      {0x80084DFF, words, -ENOTTY},     // no such request
      {0x20004D02, nullptr, -ENOTTY},   // "/dev/mcc/ctl"'s timeslot request
      {0xC0104304, words, -ENOTTY},     // a request of "/dev/e1-cas"
      {0x180084D02ul, words, -ENOTTY},  // bits above the board's 32
  };
  for (auto& r : rows) EXPECT_EQ(r.expect, Do(r.request, r.arg)) << std::hex << r.request;
  EXPECT_THAT(Journal(), ElementsAre("connect 8200 5"));
}

TEST_F(BoardHal, TdmOutputsAndReadBack) {
  int32_t rec[2];
  auto io = [&](unsigned long req, int32_t a, int32_t b) {
    rec[0] = a;
    rec[1] = b;
    return Do(req, rec);
  };
  EXPECT_EQ("ok\n", Ctl("preset 30 0x42"));
  EXPECT_EQ(0, io(0xC0084D05, 30, 255));  // preset
  EXPECT_EQ(0x42, rec[1]);
  EXPECT_EQ(0, io(0xC0084D05, 31, 255));  // nothing set
  EXPECT_EQ(0xFF, rec[1]);
  EXPECT_EQ(0, io(0xC0084D04, 30, 0x1A7));  // driven: only the low byte
  EXPECT_EQ(0, io(0xC0084D05, 30, 255));
  EXPECT_EQ(0xA7, rec[1]);
  EXPECT_EQ(0, io(0x80084D02, 30, 12));  // connected: the preset again
  EXPECT_EQ(0, io(0xC0084D05, 30, 255));
  EXPECT_EQ(0x42, rec[1]);
  EXPECT_EQ(-EINVAL, io(0x80084D02, -1, 12));
  rec[0] = 30;
  EXPECT_EQ(0, Do(0x80044D03, rec));
  EXPECT_EQ(0, Do(0x80044D03, rec));  // repeated: counted, not journaled
  EXPECT_EQ("tdm 30 disabled disables 2\nok\n", Ctl("tdm 30"));
  EXPECT_THAT(Journal(), ElementsAre("read 30 0x42", "read 31 0xFF", "write 30 0xA7",
                                     "read 30 0xA7", "connect 30 12", "read 30 0x42",
                                     "connect -1 12 failed 22", "disable 30"));
}

TEST_F(BoardHal, ClockSelectKeepsTheLastCode) {
  int32_t code = 4;
  EXPECT_EQ("clock -1\nok\n", Ctl("clock"));
  EXPECT_EQ(0, Do(0x80044301, &code));
  code = 8;
  EXPECT_EQ(-EINVAL, Do(0x80044301, &code));
  EXPECT_EQ("clock 4\nok\n", Ctl("clock"));
}

TEST_F(BoardHal, SpiRegistersAndTheBoardWithoutSpi) {
  uint8_t rec[3] = {2, 51, 0xC5};
  EXPECT_EQ(0, Do(0xC0034204, rec));
  rec[2] = 0xFF;
  EXPECT_EQ(0xC5, Do(0xC0034203, rec));  // the value is the result
  EXPECT_EQ("spi 2 51 0xC5\nok\n", Ctl("spi 2 51"));
  EXPECT_EQ("spi 3 51 0x85\nok\n", Ctl("spi 3 51 0x85"));
  rec[0] = 8;
  EXPECT_EQ(-EINVAL, Do(0xC0034203, rec));
  EXPECT_EQ("ok\n", Ctl("spi-present off"));
  rec[0] = 3;
  EXPECT_EQ(-ENODEV, Do(0xC0034203, rec));
  EXPECT_EQ(-ENODEV, Do(0xC0034204, rec));
  EXPECT_THAT(Journal(), ElementsAre("spi-write 2 51 0xC5", "spi-write 3 51 0xC5 failed 19"));
}

TEST_F(BoardHal, InjectedFailuresHitTheNamedRequestOnly) {
  EXPECT_EQ("ok\n", Ctl("fail connect EIO 1"));
  EXPECT_EQ("ok\n", Ctl("fail clock EBUSY 1"));
  int32_t rec[2] = {8200, 5};
  EXPECT_EQ(0, Do(0x80044D03, rec));
  EXPECT_EQ(-EIO, Do(0x80084D02, rec));
  EXPECT_EQ(0, Do(0x80084D02, rec));
  EXPECT_EQ(-EBUSY, Do(0x80044301, rec));
  EXPECT_EQ("tdm 8200 connected 5 disables 1\nok\n", Ctl("tdm 8200"));
  EXPECT_THAT(Journal(), ElementsAre("disable 8200", "connect 8200 5 failed 5", "connect 8200 5",
                                     "clock 8200 failed 16"));
  EXPECT_EQ("error no such request: jump\n", Ctl("fail jump EIO 1"));
}

}  // namespace
