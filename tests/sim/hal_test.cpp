// "/dev/hal" and "/dev/mcc/ctl" as the daemon's calls and the tests' commands see them.
#include <fcntl.h>
#include <poll.h>
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

class BoardDevices : public ::testing::Test {
 protected:
  void SetUp() override { board().Reset(); }
  void TearDown() override {
    for (int fd : fds_) close(fd);
    board().Reset();
  }
  int Open(const char* path) {
    int fd = open(path, O_RDWR | O_NONBLOCK);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  // The request's result, or -errno.
  static int Do(int fd, unsigned long request, const void* arg) {
    int r = ioctl(fd, request, arg);
    return r < 0 ? -errno : r;
  }
  static std::vector<std::string> Journal(const char* path) {
    std::vector<std::string> out;
    for (auto& e : board().Journal(path)) out.push_back(e.text);
    return out;
  }
  std::vector<int> fds_;
};
using BoardHal = BoardDevices;
using BoardMcc = BoardDevices;
using BoardHalAndMcc = BoardDevices;

TEST_F(BoardHalAndMcc, RequestsAreCheckedPerDeviceAgainstTheirRecords) {
  const int hal = Open("/dev/hal"), mcc = Open("/dev/mcc/ctl");
  const int32_t words[5] = {8200, 5, 0, 1, 4}, alloc[5] = {3, 512, 0, 1, 4};
  const struct {
    int fd;
    unsigned long request;
    const void* arg;
    int expect;
  } rows[] = {
      {hal, 0x80084D02, words, 0},         {hal, 0x80044D02, words, -EINVAL},  // wrong size
      {hal, 0x40084D02, words, -ENOTTY},  // the host's encoding of a write
      {hal, 0x80084D02, nullptr, -EFAULT}, {hal, 0x80084DFF, words, -ENOTTY},
      {hal, 0x20004D02, nullptr, -ENOTTY}, {hal, 0x180084D02ul, words, -ENOTTY},
      {mcc, 0x20004D02, nullptr, -EINVAL},  // timeslot before allocate
      {mcc, 0x80044301, words, -ENOTTY},    // "/dev/hal"'s clock select
      {mcc, 0x40144D00, words, -EINVAL},    // no such mode code
      {mcc, 0x40104D00, alloc, -EINVAL},   {mcc, 0x40144D00, alloc, 0},
      {mcc, 0x20004D02, nullptr, 16384},
  };
  for (auto& r : rows) EXPECT_EQ(r.expect, Do(r.fd, r.request, r.arg)) << std::hex << r.request;
  EXPECT_THAT(Journal("/dev/hal"), ElementsAre("connect 8200 5"));
  for (const char* path : {"/dev/voice", "/dev/mixer", "/dev/rtp", "/dev/rtp_ext", "/dev/mctl",
                           "/dev/spi_tdm", "/dev/usb_tdm"}) {
    EXPECT_EQ(-1, Open(path)) << path;
    EXPECT_EQ(ENOENT, errno) << path;
  }
}

TEST_F(BoardHal, TdmOutputsReadBackAndFaults) {
  const int fd = Open("/dev/hal");
  int32_t rec[2];
  board().Control("/dev/hal", "preset 30 0x42");
  board().Control("/dev/hal", "fail connect EIO 1");
  const unsigned long kRead = 0xC0084D05, kWrite = 0xC0084D04, kConnect = 0x80084D02,
                      kDisable = 0x80044D03;
  const struct {
    unsigned long req;
    int32_t a, b;
    int result, value;
  } rows[] = {
      {kRead, 30, 255, 0, 0x42}, {kRead, 31, 255, 0, 0xFF},       {kWrite, 30, 0x1A7, 0, 0x1A7},
      {kRead, 30, 255, 0, 0xA7}, {kConnect, 30, 12, -EIO, 12},    {kConnect, 30, 12, 0, 12},
      {kRead, 30, 255, 0, 0x42}, {kConnect, -1, 12, -EINVAL, 12}, {kDisable, 30, 0, 0, 0},
      {kDisable, 30, 0, 0, 0},
  };
  for (auto& r : rows) {
    rec[0] = r.a;
    rec[1] = r.b;
    EXPECT_EQ(r.result, Do(fd, r.req, rec)) << r.a;
    EXPECT_EQ(r.value, rec[1]) << r.a;
  }
  EXPECT_EQ("tdm 30 disabled disables 2\nok\n", board().Control("/dev/hal", "tdm 30"));
  EXPECT_THAT(Journal("/dev/hal"),
              ElementsAre("read 30 0x42", "read 31 0xFF", "write 30 0xA7", "read 30 0xA7",
                          "connect 30 12 failed 5", "connect 30 12", "read 30 0x42",
                          "connect -1 12 failed 22", "disable 30"));
}

TEST_F(BoardHal, ClockSelectAndSpiRegisters) {
  const int fd = Open("/dev/hal");
  int32_t code = 4, bad = -1;
  uint8_t spi[3] = {2, 51, 0xC5}, far[3] = {8, 51, 0};
  EXPECT_EQ(0, Do(fd, 0x80044301, &code));
  EXPECT_EQ(-EINVAL, Do(fd, 0x80044301, &bad));
  EXPECT_EQ("clock 4\nok\n", board().Control("/dev/hal", "clock"));
  EXPECT_EQ(0, Do(fd, 0xC0034204, spi));
  spi[2] = 0xFF;
  EXPECT_EQ(0xC5, Do(fd, 0xC0034203, spi));  // the value is the result
  EXPECT_EQ(0xFF, spi[2]) << "the record is left as the caller set it";
  EXPECT_EQ(-EINVAL, Do(fd, 0xC0034203, far));
  EXPECT_EQ("spi 3 51 0x85\nok\n", board().Control("/dev/hal", "spi 3 51 0x85"));
  board().Control("/dev/hal", "spi-high 0x12345678");
  spi[0] = 3;
  EXPECT_EQ(0x12345685, Do(fd, 0xC0034203, spi));
  board().With<sim::Hal>("/dev/hal", [](sim::Hal& hal) { hal.spi().Reset(); });
  EXPECT_EQ(0xC5, Do(fd, 0xC0034203, spi)) << "power-on: no bits above the value";
  EXPECT_EQ("ok\n", board().Control("/dev/hal", "spi-high 0"));
  EXPECT_THAT(board().Control("/dev/hal", "spi-high -1"), ::testing::EndsWith(" spi-high BITS\n"));
  board().Control("/dev/hal", "spi-present off");
  EXPECT_EQ(-ENODEV, Do(fd, 0xC0034203, spi));
  EXPECT_EQ(-ENODEV, Do(fd, 0xC0034204, spi));
  EXPECT_THAT(Journal("/dev/hal"),
              ElementsAre("clock 4", "clock -1 failed 22", "spi-write 2 51 0xC5",
                          "spi-read 8 51 data 0x00 failed 22", "spi-write 3 51 0xFF failed 19"));
}

TEST_F(BoardMcc, ChannelsFramesAndEndOfFile) {
  const int a = Open("/dev/mcc/ctl"), b = Open("/dev/mcc/ctl");
  ASSERT_EQ(3, write(b, "\x01\x02\x7E", 3));
  Journal("/dev/mcc/ctl");  // one channel's entries keep their order, not two channels'
  close(a);
  fds_.erase(fds_.begin());
  Open("/dev/mcc/ctl");  // the lowest free number again
  board().Control("/dev/mcc/ctl", "hold 16385");
  EXPECT_EQ("channel 16384 unallocated\nchannel 16385 unallocated held\nok\n",
            board().Control("/dev/mcc/ctl", "channels"));
  EXPECT_EQ("ok\n", board().Command("inject /dev/mcc/ctl 16385 A0 b1"));
  EXPECT_EQ("ok\n", board().Command("inject /dev/mcc/ctl eof 16385"));
  char buf[16];
  EXPECT_EQ(2, read(b, buf, sizeof buf));
  EXPECT_EQ("\xA0\xB1", std::string(buf, 2));
  EXPECT_EQ(0, read(b, buf, sizeof buf));
  EXPECT_EQ(-1, read(b, buf, sizeof buf));
  for (const char* words : {"16999 00", "16385 ABC", "16385 XY", "eof"})
    EXPECT_EQ(0u, board().Command(std::string("inject /dev/mcc/ctl ") + words).rfind("error", 0));
  EXPECT_THAT(Journal("/dev/mcc/ctl"), ElementsAre("open 16384", "open 16385", "tx 16385 01 02 7E",
                                                   "close 16384", "open 16384"));
  // A hang-up or an error without data, on every copy of the descriptor.
  fds_.push_back(dup(b));
  const struct {
    const char* words;
    std::vector<int> fds;
    short revents;
    ssize_t read;
  } rows[] = {{"hangup 16385", {b, fds_.back()}, POLLHUP, 0},
              {"error 16384", {fds_[1]}, POLLERR, -1}};
  for (auto& r : rows) {
    EXPECT_EQ("ok\n", board().Control("/dev/mcc/ctl", r.words));
    for (int fd : r.fds) {
      pollfd p{fd, POLLIN, 0};
      EXPECT_EQ(1, poll(&p, 1, 0)) << r.words;
      EXPECT_EQ(r.revents, p.revents) << r.words;
      EXPECT_EQ(r.read, read(fd, buf, sizeof buf)) << r.words;
    }
  }
  EXPECT_EQ(0, board().OpenCount("/dev/mcc/ctl"));
  const std::vector<std::string> j = Journal("/dev/mcc/ctl");
  ASSERT_EQ(7u, j.size());
  EXPECT_THAT(std::vector<std::string>(j.begin() + 5, j.end()),
              ::testing::UnorderedElementsAre("close 16385", "close 16384"));
  // A number asked for is the next open's only; a reset forgets armed faults.
  EXPECT_EQ("ok\n", board().Control("/dev/mcc/ctl", "next 2147483647"));
  EXPECT_EQ(0u, board().Control("/dev/mcc/ctl", "next 2147483648").rfind("error usage", 0));
  board().Control("/dev/mcc/ctl", "fail allocate EIO 1");
  board().Reset();  // forgets both
  Open("/dev/mcc/ctl");
  board().Control("/dev/mcc/ctl", "next 0");
  const int zero = Open("/dev/mcc/ctl");
  const int32_t alloc[5] = {3, 512, 0, 1, 4};
  EXPECT_EQ(0, Do(zero, 0x40144D00, alloc));
  EXPECT_EQ("channel 0 mode 3 512 0 1 4\nchannel 16384 unallocated\nok\n",
            board().Control("/dev/mcc/ctl", "channels"));
  close(zero);
  fds_.pop_back();
  board().OpenCount("/dev/mcc/ctl");  // the board has seen the close
  Open("/dev/mcc/ctl");
  EXPECT_EQ("channel 16384 unallocated\nchannel 16385 unallocated\nok\n",
            board().Control("/dev/mcc/ctl", "channels"));
}

}  // namespace
