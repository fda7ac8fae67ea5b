// Paths of the slots on the TDM switch.
#include <iostream>

#include "hardware/hwmux.h"
#include "slots/slot.h"

bool MuxConnect(Slot& src, Slot& dst) {
  int tx = src.GetTransmitChannel();
  int rx = dst.GetReceiveChannel();
  if (!HwMux::instance().Connect(tx, rx)) return false;
  std::clog << "mux: slot " << src.GetNumber() << " [" << tx << "] -> slot " << dst.GetNumber()
            << " [" << rx << "]" << std::endl;
  return true;
}

bool MuxDisconnect(Slot& dst) {
  int rx = dst.GetReceiveChannel();
  if (!HwMux::instance().Disconnect(rx)) return false;
  std::clog << "mux: disconnect slot " << dst.GetNumber() << " [" << rx << "]" << std::endl;
  return true;
}
