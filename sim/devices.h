// The table of modelled devices: one row per device path.
#ifndef VELMARD_SIM_DEVICES_H
#define VELMARD_SIM_DEVICES_H

#include <vector>

#include "sim/board.h"

namespace sim {

const std::vector<DeviceModel>& DeviceTable();

}  // namespace sim

#endif  // VELMARD_SIM_DEVICES_H
