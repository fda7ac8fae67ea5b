// The table of modelled devices: one row per device path.
#pragma once

#include <vector>

#include "sim/board.h"

namespace sim {

const std::vector<DeviceModel>& DeviceTable();

}  // namespace sim
