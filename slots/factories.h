// The factories of the media slot kinds, each a singleton made by the
// start-up in a fixed order (see daemon/main.cpp).
#ifndef VELMARD_SLOTS_FACTORIES_H
#define VELMARD_SLOTS_FACTORIES_H

#include "slots/factory.h"

// Channels of the TDM switch's own buses.
class MapFactory : public IdleFactory {
 public:
  static MapFactory* instance();

 protected:
  void IGetResources(LGCP::Resources& resources) const override;

 private:
  MapFactory() : IdleFactory("map factory: ") {}
};

VELMARD_IDLE_FACTORY(RtpFactory, "rtp factory: ");
VELMARD_IDLE_FACTORY(ModemFactory, "modem factory: ");
namespace Mixer {
VELMARD_IDLE_FACTORY(MixerFactory, "mixer factory: ");
}
VELMARD_IDLE_FACTORY(ExtFactory, "ext factory: ");
VELMARD_IDLE_FACTORY(MccFactory, "mcc factory: ");
VELMARD_IDLE_FACTORY(EchoFactory, "echo factory: ");
VELMARD_IDLE_FACTORY(VoiceFactory, "voice factory: ");
VELMARD_IDLE_FACTORY(T38SoftFactory, "t38 factory: ");

#endif  // VELMARD_SLOTS_FACTORIES_H
