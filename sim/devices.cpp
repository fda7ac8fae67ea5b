#include "sim/devices.h"

#include "sim/dsproc.h"
#include "sim/tonec.h"
#include "sim/watchdog.h"

namespace sim {

namespace {

template <class D>
std::unique_ptr<Device> Make() {
  return std::make_unique<D>();
}

}  // namespace

// Adding a device: write its Device class (sim/<name>.h/.cpp) and add one
// row here. The paths are what the daemon opens on the board.
// Never destroyed: open() is still interposed while the process exits, and
// the sanitizers' own exit work opens files too.
const std::vector<DeviceModel>& DeviceTable() {
  static const std::vector<DeviceModel>* table = new std::vector<DeviceModel>{
      {"/dev/misc/gw-wd", &Make<Watchdog>},
      {"/dev/dtmf", &Make<Tonec>},
      {"/dev/dsp", &Make<Dsproc>},
  };
  return *table;
}

}  // namespace sim
