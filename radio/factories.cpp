#include "radio/factories.h"

VELMARD_FACTORY_INSTANCE(RtpVornFactory)
VELMARD_FACTORY_INSTANCE(RtpED137Factory)
