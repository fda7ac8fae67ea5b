// "/dev/mcc/ctl" seen from the daemon's side, and the devices the board
// does not have.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "sim/board.h"

namespace {

using ::testing::ElementsAre;

sim::Board& board() {
  return sim::Board::instance();
}
std::string Ctl(const std::string& words) {
  return board().Control("/dev/mcc/ctl", words);
}

class BoardMcc : public ::testing::Test {
 protected:
  void SetUp() override { board().Reset(); }
  void TearDown() override {
    for (int fd : fds_) close(fd);
    board().Reset();
  }
  int Open() {
    int fd = open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  int Do(int fd, unsigned long request, void* arg) {
    errno = 0;
    int r = ioctl(fd, request, arg);
    return r < 0 ? -errno : r;
  }
  std::vector<int> fds_;
};

TEST_F(BoardMcc, RequestsAndChannelNumbers) {
  int a = Open(), b = Open();
  ASSERT_GE(b, 0);
  int32_t rec[5] = {3, 512, 0, 1, 4};
  int32_t bad[5] = {2, 512, 0, 1, 4};
  const struct {
    unsigned long request;
    void* arg;
    int expect;
  } rows[] = {
      {0x20004D02, nullptr, -EINVAL},                              // timeslot before allocate
      {0x40104D00, rec, -EINVAL},                                  // allocate with a 16-byte record
      {0x80144D00, rec, -ENOTTY},                                  // the host's encoding of a read
      {0x40144D00, nullptr, -EFAULT}, {0x40144D00, bad, -EINVAL},  // no such mode code
      {0x80044301, rec, -ENOTTY},                                  // "/dev/hal"'s clock select
      {0x40144D00, rec, 0},           {0x20004D02, nullptr, 16385},
  };
  for (auto& r : rows) EXPECT_EQ(r.expect, Do(b, r.request, r.arg)) << std::hex << r.request;
  EXPECT_EQ("channel 16384 unallocated\nchannel 16385 mode 3 512 0 1 4\nok\n", Ctl("channels"));
  close(a);
  fds_.erase(fds_.begin());
  EXPECT_EQ(16384, [&] {  // the lowest free number again
    int c = Open();
    Do(c, 0x40144D00, rec);
    return Do(c, 0x20004D02, nullptr);
  }());
  EXPECT_EQ("ok\n", Ctl("fail timeslot EIO 1"));
  EXPECT_EQ(-EIO, Do(b, 0x20004D02, nullptr));
}

TEST_F(BoardMcc, FramesEndOfFileAndBadWords) {
  int fd = Open();
  ASSERT_GE(fd, 0);
  ASSERT_EQ(3, write(fd, "\x01\x02\x7E", 3));
  EXPECT_EQ("ok\n", board().Command("inject /dev/mcc/ctl 16384 A0 b1"));
  EXPECT_EQ("ok\n", board().Command("inject /dev/mcc/ctl eof 16384"));
  char buf[16];
  EXPECT_EQ(2, read(fd, buf, sizeof buf));
  EXPECT_EQ("\xA0\xB1", std::string(buf, 2));
  EXPECT_EQ(0, read(fd, buf, sizeof buf));
  EXPECT_EQ(-1, read(fd, buf, sizeof buf));
  EXPECT_EQ(EAGAIN, errno);
  for (const char* words : {"16999 00", "16384 ABC", "16384 XY", "eof"})
    EXPECT_EQ(0u, board().Command(std::string("inject /dev/mcc/ctl ") + words).rfind("error", 0))
        << words;
  EXPECT_THAT(
      [] {
        std::vector<std::string> t;
        for (auto& e : board().Journal("/dev/mcc/ctl")) t.push_back(e.text);
        return t;
      }(),
      ElementsAre("open 16384", "tx 16384 01 02 7E"));
}

TEST(BoardAbsent, DevicesTheBoardDoesNotHave) {
  for (const char* path : {"/dev/voice", "/dev/mixer", "/dev/rtp", "/dev/rtp_ext", "/dev/mctl",
                           "/dev/spi_tdm", "/dev/usb_tdm"}) {
    errno = 0;
    EXPECT_EQ(-1, open(path, O_RDWR)) << path;
    EXPECT_EQ(ENOENT, errno) << path;
  }
}

}  // namespace
