// The factories of the radio-over-IP slot kinds (Vorn radio protocol and
// ED-137 radio signalling in RTP header extensions).
#ifndef VELMARD_RADIO_FACTORIES_H
#define VELMARD_RADIO_FACTORIES_H

#include "slots/factory.h"

VELMARD_IDLE_FACTORY(RtpVornFactory, "rtp vorn factory: ");
VELMARD_IDLE_FACTORY(RtpED137Factory, "rtp ed137 factory: ");

#endif  // VELMARD_RADIO_FACTORIES_H
