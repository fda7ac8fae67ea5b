// The tone DSP and DSP event processor of the simulated board, reached by
// raw requests: a wrong request constant in the daemon must fail here.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "sim/board.h"

namespace {

struct Open {
  explicit Open(const char* path) : fd(::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}
  ~Open() { ::close(fd); }
  int fd;
};

int Errno(int fd, unsigned long request, void* arg) {
  errno = 0;
  return ::ioctl(fd, request, arg) == -1 ? errno : 0;
}

TEST(BoardDtmf, RefusesUnknownRequestsAndMissingRecords) {
  sim::Board::instance().Reset();
  Open dev("/dev/dtmf");
  ASSERT_GE(dev.fd, 0);
  uint32_t rec[5] = {4, 1, 2, 3, 4};
  EXPECT_EQ(ENOTTY, Errno(dev.fd, 0x40104202, rec));  // the configure record is 20 bytes
  EXPECT_EQ(ENOTTY, Errno(dev.fd, 0x80144202, rec));  // and read, not write
  EXPECT_EQ(EFAULT, Errno(dev.fd, 0x40144202, nullptr));
  EXPECT_EQ(0, Errno(dev.fd, 0x40044204, reinterpret_cast<void*>(uintptr_t(4))));
  EXPECT_EQ("entry", sim::Board::instance().Command("journal /dev/dtmf").substr(0, 5));
  EXPECT_EQ(1u, sim::Board::instance().Journal("/dev/dtmf").size());
}

TEST(BoardDsp, VersionIsOneUntilSetAndAfterReset) {
  sim::Board::instance().Reset();
  Open dev("/dev/dsp");
  ASSERT_GE(dev.fd, 0);
  EXPECT_EQ(1, ::ioctl(dev.fd, 0x40046404, nullptr));
  EXPECT_EQ("version 2\nok\n", sim::Board::instance().Command("inject /dev/dsp version 2"));
  EXPECT_EQ(2, ::ioctl(dev.fd, 0x40046404, nullptr));
  sim::Board::instance().Reset();
  EXPECT_EQ(1, ::ioctl(dev.fd, 0x40046404, nullptr));
  EXPECT_EQ(ENOTTY, Errno(dev.fd, 0x400C6404, nullptr));
  EXPECT_EQ(EFAULT, Errno(dev.fd, 0x400C6402, nullptr));
}

// An injected result is what the next requests return, the version query
// left out; it is journalled, and a reset or a negative value drops it.
TEST(BoardDsp, ResultIsReturnedByTheNextRequests) {
  sim::Board& board = sim::Board::instance();
  board.Reset();
  Open dev("/dev/dsp");
  ASSERT_GE(dev.fd, 0);
  uint32_t enable[3] = {2, 7, 0x1};
  EXPECT_EQ("armed\nok\n", board.Command("inject /dev/dsp result 5 2"));
  EXPECT_EQ(5, ::ioctl(dev.fd, 0x400C6402, enable));
  EXPECT_EQ(1, ::ioctl(dev.fd, 0x40046404, nullptr));
  EXPECT_EQ(5, ::ioctl(dev.fd, 0x400C6403, enable));
  EXPECT_EQ(0, ::ioctl(dev.fd, 0x400C6402, enable));
  EXPECT_EQ("state ts=2 mask=0x1\nok\n", board.Command("inject /dev/dsp state 2"));
  std::string journal;
  for (auto& e : board.Journal("/dev/dsp")) journal += e.text + "\n";
  EXPECT_EQ(
      "DSPROC_ENABLE,ts=2,id=7,mask=0x1,result=5\nDSPROC_VERSION\n"
      "DSPROC_DISABLE,ts=2,id=7,mask=0x1,result=5\nDSPROC_ENABLE,ts=2,id=7,mask=0x1\n",
      journal);
  EXPECT_EQ(0u, board.Command("inject /dev/dsp result -1 1").find("error"));
  EXPECT_EQ("armed\nok\n", board.Command("inject /dev/dsp result 5 1"));
  board.Reset();
  EXPECT_EQ(0, ::ioctl(dev.fd, 0x400C6402, enable));
}

}  // namespace
