// Names of the board's character devices, so that every user opens the same
// path; codec names; texts and printers of the RTP driver's errors and
// records.
#ifndef VELMARD_HARDWARE_DEVNAMES_H
#define VELMARD_HARDWARE_DEVNAMES_H

#include <cstddef>
#include <cstdint>
#include <ostream>

char const* GetVoiceDevName();
char const* GetMixerDevName();
char const* GetDTMFDevName();
char const* GetDSPDevName();
char const* GetRtpDevName();
char const* GetRtpExtDevName();
char const* GetModemDevName();
char const* GetMaintenance();
char const* GetSpiTdmDevName();
char const* GetUsbTdmDevName();

// "unknown", "g711", ... "conf" for 0..8; "invalid" for any other number,
// negative ones included.
char const* GetCodecAsStr(int codec);

// Text of an RTP library error code. An unknown code is formatted into one
// buffer of this unit, which the next unknown code overwrites.
char const* RTPStrError(int code);

// An RTP driver failure: the errno current at construction, and the code.
// Put writes the system error text of the saved errno only.
struct RtpErr {
  explicit RtpErr(int code);
  void Put(std::ostream& out) const;
  int sysErr;
  int code;
};
std::ostream& operator<<(std::ostream& out, RtpErr const& e);

// Records of the RTP driver; only the fields printed here are named.
struct rtp_connection_params {
  uint8_t reserved0[14];
  uint16_t rx_pt;
  uint16_t tx_pt;
  uint16_t packet_factor;
  uint8_t reserved20[4];
  uint32_t ssrc;
  uint8_t reserved28[16];
};
static_assert(sizeof(rtp_connection_params) == 44, "rtp_connection_params");
static_assert(offsetof(rtp_connection_params, rx_pt) == 14, "rx_pt");
static_assert(offsetof(rtp_connection_params, tx_pt) == 16, "tx_pt");
static_assert(offsetof(rtp_connection_params, packet_factor) == 18, "packet_factor");
static_assert(offsetof(rtp_connection_params, ssrc) == 24, "ssrc");

struct rtp_attach_session_params {
  int fd_rtp;
  int pid_rtp;
};
static_assert(sizeof(rtp_attach_session_params) == 8, "rtp_attach_session_params");
static_assert(offsetof(rtp_attach_session_params, pid_rtp) == 4, "pid_rtp");

struct rtp_ext_attach_session_params {
  int fd_rtp;
  int pid_rtp;
};
static_assert(sizeof(rtp_ext_attach_session_params) == 8, "rtp_ext_attach_session_params");
static_assert(offsetof(rtp_ext_attach_session_params, pid_rtp) == 4, "pid_rtp");

struct rtp_ext_init_params {
  uint16_t etype;
};
static_assert(sizeof(rtp_ext_init_params) == 2, "rtp_ext_init_params");

struct rtp_channel_info {
  int tdm;
  int dev_no;
  int chn;
};
static_assert(sizeof(rtp_channel_info) == 12, "rtp_channel_info");
static_assert(offsetof(rtp_channel_info, dev_no) == 4, "dev_no");
static_assert(offsetof(rtp_channel_info, chn) == 8, "chn");

std::ostream& operator<<(std::ostream& out, rtp_connection_params const& p);
std::ostream& operator<<(std::ostream& out, rtp_attach_session_params const& p);
std::ostream& operator<<(std::ostream& out, rtp_ext_attach_session_params const& p);
std::ostream& operator<<(std::ostream& out, rtp_ext_init_params const& p);
std::ostream& operator<<(std::ostream& out, rtp_channel_info const& p);

#endif  // VELMARD_HARDWARE_DEVNAMES_H
