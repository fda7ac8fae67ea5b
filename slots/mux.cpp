// Paths of the slots on the TDM switch.
#include <iostream>

#include "slots/slot.h"

bool MuxConnect(Slot& src, Slot& dst) {
  (void)src;
  (void)dst;
  return false;  // TODO(hwmux)
}

bool MuxDisconnect(Slot& dst) {
  (void)dst;
  return false;  // TODO(hwmux)
}
