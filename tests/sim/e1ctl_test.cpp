// "/dev/maintenance" and "/dev/e1-cas" seen from the daemon's side: raw
// requests through the interposed ioctl, state through the control words.
#include "sim/e1ctl.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

using ::testing::ElementsAre;

class Device : public ::testing::Test {
 protected:
  void Open(const char* path) {
    path_ = path;
    sim::Board::instance().Reset();
    fd_ = open(path, O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override { close(fd_); }
  // The request's result, or -errno.
  int Do(unsigned long request, void* arg) {
    errno = 0;
    int r = ioctl(fd_, request, arg);
    return r < 0 ? -errno : r;
  }
  int Value(unsigned long request, long value) {
    return Do(request, reinterpret_cast<void*>(value));
  }
  std::string Ctl(const std::string& words) { return sim::Board::instance().Control(path_, words); }
  std::vector<std::string> Journal() {
    std::vector<std::string> out;
    for (auto& e : sim::Board::instance().Journal(path_)) out.push_back(e.text);
    return out;
  }
  const char* path_ = nullptr;
  int fd_ = -1;
};

class BoardMaintenance : public Device {
 protected:
  void SetUp() override { Open("/dev/maintenance"); }
};

TEST_F(BoardMaintenance, StatusRecordsAreCopiedButTheTrunkWord) {
  EXPECT_EQ("error no such field: w0\n", Ctl("trunk 2 w0 7"));
  EXPECT_EQ("ok\n", Ctl("trunk 2 state 4 slips 3 rai 9 w18 5"));
  EXPECT_EQ("ok\n", Ctl("fail 1 EIO"));
  sim::TrunkRecord rec{};
  rec.word[0] = 2;
  EXPECT_EQ(0, Do(0xC0504D03, &rec));
  EXPECT_EQ(2, rec.word[0]);
  EXPECT_EQ(3, rec.word[9]);
  EXPECT_EQ(9, rec.word[13]);
  EXPECT_EQ(5, rec.word[18]);
  EXPECT_EQ(4, rec.word[19]);
  rec.word[0] = 1;
  EXPECT_EQ(-EIO, Do(0xC0504D03, &rec));
  rec.word[0] = 4;
  EXPECT_EQ(-EINVAL, Do(0xC0504D03, &rec));
  struct {
    unsigned long request;
    void* arg;
    int expect;
  } rows[] = {
      {0xC0504D03, nullptr, -EFAULT},
      {0xC0084D03, &rec, -EINVAL},  // the right request with a wrong size
      {0x80044301, &rec, -ENOTTY},  // the clock select of "/dev/hal"
  };
  for (auto& r : rows) EXPECT_EQ(r.expect, Do(r.request, r.arg)) << std::hex << r.request;
  EXPECT_EQ(0, Value(0xC0044D0B, 0x8));
  EXPECT_EQ("ok\n", Ctl("fail-tclk EBUSY"));
  EXPECT_EQ(-EBUSY, Value(0xC0044D0B, 0x9));
  EXPECT_EQ(0, Value(0xC0044D0A, 3));
  EXPECT_THAT(Journal(), ElementsAre("tclk 0x8", "tclk 0x9 failed 16", "clock-source 3"));
  std::string show = Ctl("show");
  EXPECT_NE(std::string::npos, show.find("trunk 2 slips 3 lossBF 0 lossCarrier 0 ais 0 rai 9 "
                                         "state 4 fail 0\n"));
  EXPECT_NE(std::string::npos, show.find("tclk 8\nclock-source 3\nok\n"));
}

class BoardCas : public Device {
 protected:
  void SetUp() override { Open("/dev/e1-cas"); }
};

TEST_F(BoardCas, ChannelsNeedAnOpenTrunkAndAConfiguredTimeslot) {
  sim::CasConfigRecord cfg{{1, 5, 0, 0x1B, {0, 0}}, 0};
  sim::CasChannelRecord ch{1, 5, 0, 0, {0, 0}};
  EXPECT_EQ(-EINVAL, Do(0xC0104304, &cfg));  // trunk not open
  EXPECT_EQ(0, Value(0x80044300, 1));
  EXPECT_EQ(-EINVAL, Do(0xC00C4303, &ch));  // not configured
  EXPECT_EQ(0, Do(0xC0104304, &cfg));
  EXPECT_EQ("ok\n", Ctl("rx 1 5 6"));
  EXPECT_EQ(0, Do(0xC00C4303, &ch));
  EXPECT_EQ(6, ch.rx);
  EXPECT_EQ(11, ch.tx);
  cfg.channel.channel = 16;
  EXPECT_EQ(-EINVAL, Do(0xC0104304, &cfg));
  EXPECT_EQ("ok\n", Ctl("result set -5 2"));
  EXPECT_EQ(-EIO, Do(0xC00C4302, &ch));
  EXPECT_EQ(-EIO, Do(0xC00C4302, &ch));
  EXPECT_EQ(0, Do(0xC00C4302, &ch));
  EXPECT_EQ("ok\n", Ctl("result close 3"));
  EXPECT_EQ(3, Value(0x80044301, 1));
  EXPECT_EQ(0, Value(0x80044301, 1));
  EXPECT_EQ(-EINVAL, Do(0xC00C4303, &ch));  // the close stopped the channel
  EXPECT_EQ(-EFAULT, Do(0xC00C4302, nullptr));
  EXPECT_THAT(Journal(),
              ElementsAre("configure 1 5 start 27 failed 22", "open 1", "get 1 5 failed 22",
                          "configure 1 5 start 27", "get 1 5", "configure 1 16 start 27 failed 22",
                          "set 1 5 11 failed 5", "set 1 5 11 failed 5", "set 1 5 11", "close 1",
                          "close 1", "get 1 5 failed 22"));
  EXPECT_EQ(
      "trunk 0 closed\ntrunk 1 closed\ntrunk 2 closed\ntrunk 3 closed\n"
      "channel 1 5 off rx 6 tx 11\nok\n",
      Ctl("show"));
}

TEST_F(BoardCas, InjectedEventsAreReadOneRecordAtATime) {
  EXPECT_EQ("ok\n", sim::Board::instance().Command("inject /dev/e1-cas 2 7 5 1"));
  EXPECT_EQ("ok\n", sim::Board::instance().Command("inject /dev/e1-cas 3 9 15 0"));
  pollfd p{fd_, POLLIN, 0};
  ASSERT_EQ(1, poll(&p, 1, 10000));
  sim::CasChannelRecord rec{};
  ASSERT_EQ(12, read(fd_, &rec, sizeof rec));
  EXPECT_EQ(2, rec.trunk);
  EXPECT_EQ(7, rec.channel);
  EXPECT_EQ(5, rec.rx);
  ASSERT_EQ(12, read(fd_, &rec, sizeof rec));
  EXPECT_EQ(15, rec.rx);
  EXPECT_EQ(-1, read(fd_, &rec, sizeof rec));
  EXPECT_EQ(EAGAIN, errno);
}

}  // namespace
