// The board's hardware watchdog, "/dev/misc/gw-wd": armed by "START", kept
// quiet by "PING", disarmed by "STOP". The simulated one only keeps the
// journal of what the daemon wrote; it never resets the process.
#ifndef VELMARD_SIM_WATCHDOG_H
#define VELMARD_SIM_WATCHDOG_H

#include "sim/board.h"

namespace sim {

class Watchdog : public Device {
 public:
  void OnWrite(Port& port, const std::string& packet) override;
};

}  // namespace sim

#endif  // VELMARD_SIM_WATCHDOG_H
