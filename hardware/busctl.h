// The TDM clock source of the board, selected through "/dev/hal": one of
// the four trunks, the free-running internal clock or the external clock
// input. The controller picks it with `clockCfg`; each connect first puts
// the board on its own free-running clock.
//
// Started with "--disable-clock", the daemon leaves the selector alone:
// the device is never opened and `clockCfg` is refused.
#ifndef VELMARD_HARDWARE_BUSCTL_H
#define VELMARD_HARDWARE_BUSCTL_H

#include <ostream>
#include <string>

#include "control/ctrlsrv.h"

class spiCtrl;

class BusCtl : public CtrlSrv::Service {
 public:
  // Selector codes: 0..3 the trunk of that number, then these.
  static constexpr int kFreeRun = 4;
  static constexpr int kExternal = 5;

  static BusCtl* instance();

  // spi: the line interfaces told to give up the clock master role when
  // the selector cannot be reached (null: the service's own instance).
  explicit BusCtl(spiCtrl* spi = nullptr);
  ~BusCtl() override;

  void OnConnect() override;
  void OnDisconnect() override {}
  // Takes `clockCfg`: success once accepted, whatever the hardware did;
  // `unsupported` with clock control disabled.
  bool OnCommand(LGCP::Command const& cmd) override;

  // For good: there is no way back.
  void DisableControl();
  // True when "/dev/hal" is open, opening it first; false when disabled.
  bool IsOpen();
  void SetDefaultClock();
  void SetClockSrc(LGCP::ClockCfg const& cfg);
  void DrvSetClkSrc(int code);
  // The text logged for a selector code: the name of the table, else the
  // number.
  static std::string SourceName(int code);

  void PutHeader(std::ostream& out) const { out << "clkctl: "; }

 private:
  spiCtrl* spi_;
  int fd_ = -1;
  bool enabled_ = true;
};

#endif  // VELMARD_HARDWARE_BUSCTL_H
