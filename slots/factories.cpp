#include "slots/factories.h"

#include "hardware/hwmux.h"

VELMARD_FACTORY_INSTANCE(MapFactory)
VELMARD_FACTORY_INSTANCE(RtpFactory)
VELMARD_FACTORY_INSTANCE(ModemFactory)
VELMARD_FACTORY_INSTANCE(Mixer::MixerFactory)
VELMARD_FACTORY_INSTANCE(ExtFactory)
VELMARD_FACTORY_INSTANCE(MccFactory)
VELMARD_FACTORY_INSTANCE(EchoFactory)
VELMARD_FACTORY_INSTANCE(VoiceFactory)
VELMARD_FACTORY_INSTANCE(T38SoftFactory)

void MapFactory::IGetResources(LGCP::Resources& resources) const {
  resources.set_mux(HwMux::instance().IsOpened());
}
