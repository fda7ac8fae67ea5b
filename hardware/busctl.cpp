#include "hardware/busctl.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>

#include "core/ext.h"
#include "hardware/board_ioc.h"
#include "hardware/spictrl.h"

BusCtl* BusCtl::instance() {
  static BusCtl bus;
  return &bus;
}

BusCtl::BusCtl(spiCtrl* spi) : spi_(spi) {}

BusCtl::~BusCtl() {
  if (fd_ >= 0) ::close(fd_);
}

std::string BusCtl::SourceName(int code) {
  static const char* const kNames[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
  if (static_cast<unsigned>(code) < sizeof kNames / sizeof kNames[0]) return kNames[code];
  return std::to_string(code);
}

void BusCtl::OnConnect() {
  if (enabled_) SetDefaultClock();
}

bool BusCtl::OnCommand(LGCP::Command const& cmd) {
  if (cmd.currentSelection() != LGCP::Command::e_clockCfg) return false;
  if (!enabled_) {
    Error(LGCP::ErrorCause::unsupported);
    return true;
  }
  SetClockSrc(cmd.get_clockCfg());
  Success();
  return true;
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  enabled_ = false;
}

bool BusCtl::IsOpen() {
  if (fd_ >= 0) return true;
  if (!enabled_) return false;
  fd_ = ::open("/dev/hal", O_RDWR | O_CLOEXEC);
  return fd_ >= 0;
}

void BusCtl::SetDefaultClock() {
  LGCP::ClockCfg cfg;
  cfg.set_clkSel0(LGCP::ClkSel0::internal);
  cfg.set_bextEn(LGCP::BExtEn::disabled);
  cfg.set_source(-1);
  SetClockSrc(cfg);
}

void BusCtl::SetClockSrc(LGCP::ClockCfg const& cfg) {
  if (!IsOpen()) {
    // Nobody drives the buses from a trunk now: no line interface may
    // stay the clock master.
    (spi_ ? spi_ : spiCtrl::instance())->clock(-1);
    std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
    return;
  }
  std::cerr << ext::header(this) << "set clock source cmd: " << cfg << std::endl;
  if (cfg.get_clkSel0().asInt() == LGCP::ClkSel0::internal) {
    DrvSetClkSrc(kFreeRun);
  } else if (cfg.get_bextEn().asInt() == LGCP::BExtEn::disabled) {
    DrvSetClkSrc(kExternal);
  } else if (cfg.get_bextEn().asInt() == LGCP::BExtEn::enabled) {
    const int source = cfg.get_source().getValue();
    if (source >= 0) DrvSetClkSrc(source);
  }
}

void BusCtl::DrvSetClkSrc(int code) {
  if (!IsOpen()) {
    std::cerr << ext::header(this) << "device open error" << std::endl;
    return;
  }
  int32_t arg = code;
  if (::ioctl(fd_, Hardware::Ioc::HW_CLOCK_SELECT, &arg) < 0)
    std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
  else
    std::cerr << ext::header(this) << "clock source = " << SourceName(code) << std::endl;
}
