#include "hardware/devnames.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

namespace {

TEST(DeviceNames, CodecNamesAndInvalidNumbers) {
  const struct {
    int codec;
    const char* name;
  } rows[] = {{0, "unknown"},
              {4, "tonec"},
              {6, "g729-rtp"},
              {8, "conf"},
              {9, "invalid"},
              {-1, "invalid"},
              {-2147483647 - 1, "invalid"}};
  for (auto& r : rows) EXPECT_STREQ(r.name, GetCodecAsStr(r.codec)) << r.codec;
}

TEST(DeviceNames, RtpErrorTexts) {
  EXPECT_STREQ("No error", RTPStrError(0));
  EXPECT_STREQ("Don't send this packet now", RTPStrError(0x3000122));
  EXPECT_STREQ("Unknown RTP Error 50331917", RTPStrError(0x300010D));
  EXPECT_STREQ("Unknown RTP Error -2147483648", RTPStrError(-2147483647 - 1));
  // Whatever code it carries, an RtpErr prints the failed call's error.
  errno = 0;
  EXPECT_EQ(-1, open("/nonexistent/velmard", O_RDONLY));
  RtpErr e(0x3000104);
  errno = 0;
  std::ostringstream out;
  out << e;
  EXPECT_EQ(std::strerror(ENOENT), out.str());
}

TEST(DeviceNames, RecordPrinters) {
  rtp_connection_params c{};
  c.packet_factor = 2;
  c.rx_pt = 8;
  c.tx_pt = 18;
  c.ssrc = 0x1234;
  rtp_channel_info i{1, 2, 3};
  std::ostringstream out;
  out << std::hex << c << i << rtp_ext_init_params{0x10};
  EXPECT_EQ(
      "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 12\n"
      "   ssrc = 1234\n  }\nrtp_channel_info { tdm=1 dev_no=2 chn=3 }  rtp_ext_init_params\n"
      "  {\n   etype = 10\n  }\n",
      out.str());
  EXPECT_STREQ("/dev/maintenance", GetMaintenance());
}

}  // namespace
