// Driver requests of the board, in the board's own ioctl encoding.
//
// The board is a PowerPC: direction in bits 31-29 (1 none, 2 read, 4 write,
// 6 read and write), argument size in bits 28-16, type letter in bits 15-8,
// number in bits 7-0. The host's _IO* macros encode differently (on x86 the
// read and write bits are swapped and "none" is 0), so every request of the
// daemon is computed here with board_ioc() and pinned to its literal value.
//
// The same number can mean different things on different devices
// (0x80044301 is the clock select on "/dev/hal" and the trunk close on
// "/dev/e1-cas"): a request is only meaningful with its device.
#ifndef VELMARD_HARDWARE_BOARD_IOC_H
#define VELMARD_HARDWARE_BOARD_IOC_H

#include <cstdint>

namespace Hardware {

namespace IocDir {
constexpr unsigned kNone = 1;
constexpr unsigned kRead = 2;
constexpr unsigned kWrite = 4;
constexpr unsigned kReadWrite = 6;
}  // namespace IocDir

// One request number; size must fit the 13-bit size field.
constexpr uint32_t board_ioc(unsigned dir, char type, unsigned nr, unsigned size) {
  return (static_cast<uint32_t>(dir & 7u) << 29) | (static_cast<uint32_t>(size & 0x1FFFu) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(type)) << 8) | (nr & 0xFFu);
}

namespace Ioc {
using namespace IocDir;

// "/dev/hal": TDM switch ('M'), clock select ('C'), SPI registers ('B').
constexpr uint32_t kTdmConnect = board_ioc(kWrite, 'M', 2, 8);
constexpr uint32_t kTdmDisable = board_ioc(kWrite, 'M', 3, 4);
constexpr uint32_t kTdmWriteByte = board_ioc(kReadWrite, 'M', 4, 8);
constexpr uint32_t kTdmReadByte = board_ioc(kReadWrite, 'M', 5, 8);
constexpr uint32_t HW_CLOCK_SELECT = board_ioc(kWrite, 'C', 1, 4);
constexpr uint32_t kSpiReadRegister = board_ioc(kReadWrite, 'B', 3, 3);
constexpr uint32_t kSpiWriteRegister = board_ioc(kReadWrite, 'B', 4, 3);

// "/dev/mcc/ctl": HDLC channels.
constexpr uint32_t MCC_ALLOCATE = board_ioc(kRead, 'M', 0, 20);
constexpr uint32_t MCC_TIMESLOT = board_ioc(kNone, 'M', 2, 0);

// "/dev/maintenance": E1 trunk status and clocks (the last two take a value).
constexpr uint32_t kTrunkStatus = board_ioc(kReadWrite, 'M', 3, 80);
constexpr uint32_t kSetClockSource = board_ioc(kReadWrite, 'M', 10, 4);
constexpr uint32_t kSetTclk = board_ioc(kReadWrite, 'M', 11, 4);

// "/dev/e1-cas": channel-associated signalling (open and close take a value).
constexpr uint32_t kCasOpenTrunk = board_ioc(kWrite, 'C', 0, 4);
constexpr uint32_t kCasCloseTrunk = board_ioc(kWrite, 'C', 1, 4);
constexpr uint32_t kCasSetBits = board_ioc(kReadWrite, 'C', 2, 12);
constexpr uint32_t kCasGetBits = board_ioc(kReadWrite, 'C', 3, 12);
constexpr uint32_t kCasConfigure = board_ioc(kReadWrite, 'C', 4, 16);

// "/dev/dtmf": tone detectors and generators.
constexpr uint32_t DTMF_CONFIGURE_DETECTOR = board_ioc(kRead, 'B', 2, 20);
constexpr uint32_t DTMF_ENABLE_DETECTOR = board_ioc(kRead, 'B', 3, 8);
constexpr uint32_t DTMF_DISABLE_DETECTOR = board_ioc(kRead, 'B', 4, 4);
constexpr uint32_t DTMF_DIAL = board_ioc(kRead, 'B', 5, 12);
constexpr uint32_t CHANNEL_LMS_ON = board_ioc(kRead, 'B', 6, 4);
constexpr uint32_t CHANNEL_LMS_OFF = board_ioc(kRead, 'B', 7, 4);
constexpr uint32_t DTMF_REJECTION_ENABLE = board_ioc(kRead, 'B', 9, 4);
constexpr uint32_t DTMF_REJECTION_DISABLE = board_ioc(kRead, 'B', 10, 4);
constexpr uint32_t IVA_DETECTOR_ENABLE = board_ioc(kRead, 'B', 11, 4);
constexpr uint32_t IVA_DETECTOR_DISABLE = board_ioc(kRead, 'B', 12, 4);
constexpr uint32_t IVA_CONFIGURE_DETECTOR = board_ioc(kRead, 'B', 13, 8);
constexpr uint32_t SELCAL_DIAL = board_ioc(kRead, 'B', 14, 12);

// "/dev/dsp": DSP functions.
constexpr uint32_t DSPROC_CONFIGURE = board_ioc(kRead, 'd', 1, 20);
constexpr uint32_t DSPROC_ENABLE = board_ioc(kRead, 'd', 2, 12);
constexpr uint32_t DSPROC_DISABLE = board_ioc(kRead, 'd', 3, 12);
constexpr uint32_t DSPROC_VERSION = board_ioc(kRead, 'd', 4, 4);

}  // namespace Ioc

// The whole table against the board's literal values: a wrong letter,
// number, size or direction fails the build.
namespace IocCheck {
struct Row {
  uint32_t computed, literal;
};
constexpr Row kRows[] = {
    {Ioc::kTdmConnect, 0x80084D02u},
    {Ioc::kTdmDisable, 0x80044D03u},
    {Ioc::kTdmWriteByte, 0xC0084D04u},
    {Ioc::kTdmReadByte, 0xC0084D05u},
    {Ioc::HW_CLOCK_SELECT, 0x80044301u},
    {Ioc::kSpiReadRegister, 0xC0034203u},
    {Ioc::kSpiWriteRegister, 0xC0034204u},
    {Ioc::MCC_ALLOCATE, 0x40144D00u},
    {Ioc::MCC_TIMESLOT, 0x20004D02u},
    {Ioc::kTrunkStatus, 0xC0504D03u},
    {Ioc::kSetClockSource, 0xC0044D0Au},
    {Ioc::kSetTclk, 0xC0044D0Bu},
    {Ioc::kCasOpenTrunk, 0x80044300u},
    {Ioc::kCasCloseTrunk, 0x80044301u},
    {Ioc::kCasSetBits, 0xC00C4302u},
    {Ioc::kCasGetBits, 0xC00C4303u},
    {Ioc::kCasConfigure, 0xC0104304u},
    {Ioc::DTMF_CONFIGURE_DETECTOR, 0x40144202u},
    {Ioc::DTMF_ENABLE_DETECTOR, 0x40084203u},
    {Ioc::DTMF_DISABLE_DETECTOR, 0x40044204u},
    {Ioc::DTMF_DIAL, 0x400C4205u},
    {Ioc::CHANNEL_LMS_ON, 0x40044206u},
    {Ioc::CHANNEL_LMS_OFF, 0x40044207u},
    {Ioc::DTMF_REJECTION_ENABLE, 0x40044209u},
    {Ioc::DTMF_REJECTION_DISABLE, 0x4004420Au},
    {Ioc::IVA_DETECTOR_ENABLE, 0x4004420Bu},
    {Ioc::IVA_DETECTOR_DISABLE, 0x4004420Cu},
    {Ioc::IVA_CONFIGURE_DETECTOR, 0x4008420Du},
    {Ioc::SELCAL_DIAL, 0x400C420Eu},
    {Ioc::DSPROC_CONFIGURE, 0x40146401u},
    {Ioc::DSPROC_ENABLE, 0x400C6402u},
    {Ioc::DSPROC_DISABLE, 0x400C6403u},
    {Ioc::DSPROC_VERSION, 0x40046404u},
};
constexpr bool AllMatch() {
  for (const Row& r : kRows)
    if (r.computed != r.literal) return false;
  return true;
}
static_assert(AllMatch(), "a board request differs from its literal value");
static_assert(board_ioc(IocDir::kNone, 'M', 2, 0) == 0x20004D02u, "none is 1, not 0");
}  // namespace IocCheck

}  // namespace Hardware

#endif  // VELMARD_HARDWARE_BOARD_IOC_H
