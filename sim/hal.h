// "/dev/hal": the board's hardware abstraction driver. One device shared by
// every opener (the switch, the clock selector and the line interfaces each
// open their own descriptor of it), made of three blocks told apart by the
// request's type letter: the TDM switch ('M'), the clock select ('C') and
// the SPI registers ('B').
//
// Journal: one line per request that changes something ("connect OUT IN",
// "disable OUT", "write OUT 0xHH", "read CH 0xHH", "clock CODE",
// "spi-write CH REG 0xHH", "spi-read CH REG data 0xHH" for a read whose
// data byte is not 0xFF); a request failed by the board ends in
// " failed ERRNO". A disable of an output already disabled is only counted.
#ifndef VELMARD_SIM_HAL_H
#define VELMARD_SIM_HAL_H

#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/busctl.h"
#include "sim/hwmux.h"
#include "sim/requests.h"
#include "sim/spictrl.h"

namespace sim {

class Hal : public Device {
 public:
  static constexpr const char* kPath = "/dev/hal";

  void OnWrite(Port& port, const std::string& packet) override;
  int OnIoctl(Port& port, unsigned long request, void* arg, int* err) override;
  bool OnControl(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                 std::string* reply) override;
  void Reset() override;

  TdmSwitch& tdm() { return tdm_; }
  ClockSelect& clock() { return clock_; }
  SpiRegisters& spi() { return spi_; }
  // The next count requests called name ("connect", "disable", "write",
  // "read", "clock", "spi-read", "spi-write") fail with err.
  void Fail(const std::string& name, int err, int count) { faults_.Arm(name, err, count); }

 private:
  TdmSwitch tdm_;
  ClockSelect clock_;
  SpiRegisters spi_;
  RequestFaults faults_;
};

}  // namespace sim

#endif  // VELMARD_SIM_HAL_H
