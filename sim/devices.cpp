#include "sim/devices.h"

#include <cerrno>

#include "sim/dsproc.h"
#include "sim/e1ctl.h"
#include "sim/hal.h"
#include "sim/hdlc.h"
#include "sim/tonec.h"
#include "sim/watchdog.h"

namespace sim {

namespace {

// A device the board does not have: every open fails with ENOENT.
class Absent : public Device {
 public:
  void OnWrite(Port&, const std::string&) override {}
  int OpenError() const override { return ENOENT; }
};

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
      {"/dev/hal", &Make<Hal>},
      {"/dev/mcc/ctl", &Make<Mcc>},
      // Devices of the board that are not modelled yet: absent, whatever
      // the host has at these paths.
      {"/dev/voice", &Make<Absent>},
      {"/dev/mixer", &Make<Absent>},
      {"/dev/rtp", &Make<Absent>},
      {"/dev/rtp_ext", &Make<Absent>},
      {"/dev/mctl", &Make<Absent>},
      {"/dev/spi_tdm", &Make<Absent>},
      {"/dev/usb_tdm", &Make<Absent>},
      {"/dev/dtmf", &Make<Tonec>},
      {"/dev/dsp", &Make<Dsproc>},
      {"/dev/maintenance", &Make<Maintenance>},
      {"/dev/e1-cas", &Make<E1Cas>},
  };
  return *table;
}

}  // namespace sim
