#include "hardware/devnames.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

TEST(DeviceNames, PathsCodecNamesAndRtpErrorTexts) {
  const std::pair<char const* (*)(), const char*> paths[] = {
      {GetVoiceDevName, "/dev/voice"},    {GetMixerDevName, "/dev/mixer"},
      {GetDTMFDevName, "/dev/dtmf"},      {GetDSPDevName, "/dev/dsp"},
      {GetRtpDevName, "/dev/rtp"},        {GetRtpExtDevName, "/dev/rtp_ext"},
      {GetModemDevName, "/dev/mctl"},     {GetMaintenance, "/dev/maintenance"},
      {GetSpiTdmDevName, "/dev/spi_tdm"}, {GetUsbTdmDevName, "/dev/usb_tdm"},
  };
  for (auto& p : paths) EXPECT_STREQ(p.second, p.first());
  const char* codecs[] = {"unknown",  "g711",     "g723",     "g729", "tonec",
                          "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
  for (int i = -1; i <= 9; ++i)
    EXPECT_STREQ(i < 0 || i > 8 ? "invalid" : codecs[i], GetCodecAsStr(i)) << i;
  const char* texts[] = {
      "No error",                             // 0
      "Parameter out of range",               // 0x3000002
      "Memory allocation failed",             // 0x3000004
      "Allocated buffer too small",           // 0x3000008
      "Maximum number of contexts exceeded",  // 0x3000101 and on
      "Context destroyed or never created",
      "Socket not open for reading or writing",
      "Can't obtain a new socket",
      "Can't bind socket",
      "Unable to set socket option",
      "Unable to write to socket",
      "Unable to read from socket",
      "Socket does not belong to session",
      "Change not allowed during open session",
      "Invalid address specified",
      "Invalid port specified",
      nullptr,  // 0x300010D has none
      "Unable to close session",
      "No such membership info",
      "Invalid rtpprofile specified",
      "no data to receive at socket",
      "Packet looped back",
      "CSRC list not yet set",
      "2 CSRCs on list have same SSRC",
      "Packet has incorrect format",
      "Person not session member",
      "Person data protected",
      "No such sender in current session",
      "No such SDES field",
      "Encryption / decryption function not set",
      "Packet was unsuccessfully decrypted",
      "End of iterating list",
      "Not allowed to recurse",
      "SSRC in use",
      "Couldn't get socket name",
      "No such contributor",
      "CSRC list full",
      "Don't send this packet now",
  };
  const int first[] = {0, 0x3000002, 0x3000004, 0x3000008};
  for (int i = 0; i < int(sizeof texts / sizeof texts[0]); ++i) {
    const int code = i < 4 ? first[i] : 0x3000101 + i - 4;
    const std::string unknown = "Unknown RTP Error " + std::to_string(code);
    EXPECT_STREQ(texts[i] ? texts[i] : unknown.c_str(), RTPStrError(code)) << std::hex << code;
  }
  for (int code : {1, 0x3000001, 0x3000100, 0x3000123, -2147483647 - 1})
    EXPECT_EQ("Unknown RTP Error " + std::to_string(code), RTPStrError(code));
  // Whatever code it carries, an RtpErr prints the failed call's error.
  EXPECT_EQ(-1, open("/nonexistent/velmard", O_RDONLY));
  RtpErr e(0x3000104);
  errno = 0;
  EXPECT_EQ(ENOENT, e.sysErr);
  EXPECT_EQ(0x3000104, e.code);
  std::ostringstream out;
  out << e;
  EXPECT_EQ(std::strerror(ENOENT), out.str());
}

TEST(DeviceNames, RecordPrinters) {
  rtp_connection_params c{};
  c.packet_factor = 20;
  c.rx_pt = 8;
  c.tx_pt = 18;
  c.ssrc = 0xABCDEF;
  std::ostringstream out;
  out << std::hex << rtp_channel_info{1, 2, 3} << rtp_ext_init_params{0x10} << c
      << rtp_attach_session_params{0x11, 0x12} << rtp_ext_attach_session_params{0x13, 0x14};
  EXPECT_EQ(
      "rtp_channel_info { tdm=1 dev_no=2 chn=3 }  rtp_ext_init_params\n  {\n   etype = 10\n  }\n"
      "  rtp_connection_params\n  {\n   packet_factor = 14\n   rx_pt = 8\n   tx_pt = 12\n"
      "   ssrc = abcdef\n  }\n"
      "  rtp_attach_session_params\n  {\n   fd_rtp = 11\n   pid_rtp = 12\n  }\n"
      "  rtp_ext_attach_session_params\n  {\n   fd_rtp = 13\n   pid_rtp = 14\n  }\n",
      out.str());
}

}  // namespace
