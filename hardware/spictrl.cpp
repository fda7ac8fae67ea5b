#include "hardware/spictrl.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <iostream>

#include "asn1/modules/ACP.h"
#include "core/ext.h"
#include "hardware/board_ioc.h"

namespace {

// The register request record of the SPI block.
struct SpiRegisterRequest {
  uint8_t channel;
  uint8_t reg;
  uint8_t data;  // 0xFF on a read
};
static_assert(sizeof(SpiRegisterRequest) == 3 && offsetof(SpiRegisterRequest, data) == 2,
              "register request record is 3 bytes");

// Status register 51: bit 0 carrier, bit 2 basic frame, bits 7-6 the
// alarm indications, bit 5 a slip.
ACP::TrunkState::NamedNumber StateOf(unsigned r) {
  if (!(r & 0x01)) return ACP::TrunkState::lossCarrier;
  if (!(r & 0x04)) return ACP::TrunkState::lossBF;
  switch (r >> 6 & 3) {
    case 2:
      return ACP::TrunkState::rai;
    case 3:
      return ACP::TrunkState::normal;
    default:
      return ACP::TrunkState::ais;
  }
}

}  // namespace

spiCtrl* spiCtrl::instance() {
  static spiCtrl spi;
  return &spi;
}

spiCtrl::spiCtrl() {
  init_device_and_channels();
}

// The timer goes with its member.
spiCtrl::~spiCtrl() {
  if (fd_ < 0) return;
  for (int ch = 0; ch < kChannels; ++ch) disable_channel(ch);
  clock(-1);
  ::close(fd_);
}

void spiCtrl::OnConnect() {
  if (fd_ >= 0 && usable_) timer_.set(kStatusPeriod, &spiCtrl::status, this);
}

void spiCtrl::OnDisconnect() {
  timer_.reset();
}

bool spiCtrl::LostSpi(int err) {
  if (err != ENODEV) return false;
  usable_ = false;
  timer_.reset();
  std::clog << ext::header(this) << "hal without spi" << std::endl;
  return true;
}

void spiCtrl::write(unsigned channel, unsigned reg, unsigned data) {
  if (fd_ < 0 || !usable_) return;
  SpiRegisterRequest rec{static_cast<uint8_t>(channel), static_cast<uint8_t>(reg),
                         static_cast<uint8_t>(data)};
  if (::ioctl(fd_, Hardware::Ioc::kSpiWriteRegister, &rec) >= 0) return;
  if (!LostSpi(errno))
    std::clog << ext::header(this) << "write error: channel=" << channel << " addr=" << reg
              << " data=" << data << std::endl;
}

unsigned spiCtrl::read(unsigned channel, unsigned reg) {
  if (fd_ < 0 || !usable_) return 0;
  SpiRegisterRequest rec{static_cast<uint8_t>(channel), static_cast<uint8_t>(reg), 0xFF};
  // The driver answers the register's value as the call's result.
  int r = ::ioctl(fd_, Hardware::Ioc::kSpiReadRegister, &rec);
  if (r >= 0) return static_cast<unsigned>(r) & 0xFF;
  if (!LostSpi(errno))
    std::clog << ext::header(this) << "read error: channel=" << channel << " addr=" << reg
              << std::endl;
  return 0;
}

void spiCtrl::init_device_and_channels() {
  if (fd_ >= 0 || !usable_) return;
  std::clog << ext::header(this) << "try init" << std::endl;
  fd_ = ::open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    std::clog << ext::header(this) << "/dev/hal open fail" << std::endl;
    return;
  }
  // Channel 7 is left as the chip came up; it is still reported.
  for (int ch = 0; ch < 7; ++ch) {
    init_channel(ch);
    enable_channel(ch);
  }
}

void spiCtrl::init_channel(int channel) {
  if (!usable_) return;
  if (static_cast<unsigned>(channel) >= kChannels) {
    std::clog << ext::header(this) << "bad channel for init " << channel << std::endl;
    return;
  }
  init_device_and_channels();
  static const struct {
    unsigned reg, data;
  } kInit[] = {{kDisable, 0x80}, {kInit48, 0x08}, {kClockMaster, 0x30}, {kInit52, 0x60},
               {kInit53, 0x00},  {kInit54, 0x00}, {kInit55, 0x00}};
  for (const auto& w : kInit) write(unsigned(channel), w.reg, w.data);
  if (usable_) std::clog << ext::header(this) << "init channel " << channel << std::endl;
}

void spiCtrl::SetRegister(int channel, unsigned reg, unsigned data, const char* what) {
  if (!usable_) return;
  if (static_cast<unsigned>(channel) >= kChannels) {
    std::clog << ext::header(this) << "bad channel for " << what << " " << channel << std::endl;
    return;
  }
  init_device_and_channels();
  write(unsigned(channel), reg, data);
  if (usable_) std::clog << ext::header(this) << what << " channel " << channel << std::endl;
}

void spiCtrl::enable_channel(int channel) {
  SetRegister(channel, kDisable, 0x00, "enable");
}

void spiCtrl::disable_channel(int channel) {
  SetRegister(channel, kDisable, 0x80, "disable");
}

void spiCtrl::clock(int channel) {
  if (!usable_) return;
  if (channel < -1 || channel >= kChannels) {
    std::clog << ext::header(this) << "bad channel for set clock master " << channel << std::endl;
    return;
  }
  init_device_and_channels();
  for (unsigned ch = 0; ch < kChannels; ++ch) write(ch, kClockMaster, 0x30);
  if (channel != -1) write(unsigned(channel), kClockMaster, 0x38);
  if (!usable_) return;
  if (channel != -1)
    std::clog << ext::header(this) << "set clock master on channel " << channel << std::endl;
  else
    std::clog << ext::header(this) << "clock master disabled" << std::endl;
}

void spiCtrl::status() {
  if (!usable_) return;
  LGCP::Signal signal;
  ACP::TrunkStatus& st = signal.select_trunkStatus();
  for (int ch = 0; ch < kChannels; ++ch) {
    const unsigned r = read(unsigned(ch), kStatus);
    // SPI vanished under this read: the channels not read are not reported
    // as lost, and the cycle the failure stopped stays stopped.
    if (!usable_) return;
    int slips = 0;
    if (!(r & 0x20)) {
      slipsLatch_[ch] = false;
    } else if (!slipsLatch_[ch]) {
      slips = 1;
      slipsLatch_[ch] = true;
    }
    st.set_trunk(ch);
    st.set_state(StateOf(r));
    st.set_slips(slips);
    // lossBF, lossCarrier, lossAIS and lossRAI stay 0, clockMaster false.
    st.set_type(ACP::TrunkType::bri);
    SendSignal(signal);
  }
  timer_.set(kStatusPeriod, &spiCtrl::status, this);
}
