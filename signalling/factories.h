// The factories of the signalling slot kinds (PSTN, ISDN, HDLC packet
// channels). The HDLC factory is made last by the start-up, so it heads
// the chain and is asked first on a create.
#ifndef VELMARD_SIGNALLING_FACTORIES_H
#define VELMARD_SIGNALLING_FACTORIES_H

#include "slots/factory.h"

VELMARD_IDLE_FACTORY(PstnFactory, "pstn factory: ");
VELMARD_IDLE_FACTORY(IsdnFactory, "isdn factory: ");
VELMARD_IDLE_FACTORY(HdlcSlotFactory, "hdlc factory: ");

#endif  // VELMARD_SIGNALLING_FACTORIES_H
