#include "sim/watchdog.h"

namespace sim {

void Watchdog::OnWrite(Port&, const std::string& packet) {
  Record(packet);
}

}  // namespace sim
