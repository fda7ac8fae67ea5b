// The board's hardware watchdog, "/dev/misc/gw-wd": armed by "START", kept
// quiet by "PING", disarmed by "STOP". The simulated one only keeps the
// journal of what the daemon wrote; it never resets the process.
#pragma once

#include "sim/board.h"

namespace sim {

class Watchdog : public Device {
 public:
  void OnWrite(Port& port, const std::string& packet) override;
};

}  // namespace sim
