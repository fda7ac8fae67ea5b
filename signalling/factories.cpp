#include "signalling/factories.h"

VELMARD_FACTORY_INSTANCE(PstnFactory)
VELMARD_FACTORY_INSTANCE(IsdnFactory)
VELMARD_FACTORY_INSTANCE(HdlcSlotFactory)
