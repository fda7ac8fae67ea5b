#include "hardware/devnames.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

TEST(DeviceNames, CodecNamesAndRtpErrorTexts) {
  const std::pair<int, const char*> codecs[] = {
      {0, "unknown"}, {6, "g729-rtp"}, {8, "conf"}, {9, "invalid"}, {-1, "invalid"}};
  for (auto& c : codecs) EXPECT_STREQ(c.second, GetCodecAsStr(c.first)) << c.first;
  EXPECT_STREQ("Don't send this packet now", RTPStrError(0x3000122));
  EXPECT_STREQ("Unknown RTP Error 50331917", RTPStrError(0x300010D));
  EXPECT_STREQ("Unknown RTP Error -2147483648", RTPStrError(-2147483647 - 1));
  // Whatever code it carries, an RtpErr prints the failed call's error.
  EXPECT_EQ(-1, open("/nonexistent/velmard", O_RDONLY));
  RtpErr e(0x3000104);
  errno = 0;
  std::ostringstream out;
  out << e;
  EXPECT_EQ(std::strerror(ENOENT), out.str());
}

TEST(DeviceNames, RecordPrinters) {
  std::ostringstream out;
  out << std::hex << rtp_channel_info{1, 2, 3} << rtp_ext_init_params{0x10};
  EXPECT_EQ(
      "rtp_channel_info { tdm=1 dev_no=2 chn=3 }  rtp_ext_init_params\n  {\n   etype = 10\n  }\n",
      out.str());
}

}  // namespace
