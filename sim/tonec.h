// The tone DSP, "/dev/dtmf": DTMF and IVA detectors, the tone generator,
// the echo canceller and DTMF rejection, per timeslot. Requests are
// journalled decoded ("DTMF_DIAL,ts=5,freq1=697,..."), the state they leave
// is kept per timeslot, and tests push the 16-byte event records the
// daemon reads.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sim/board.h"
#include "sim/records.h"

namespace sim {

class Tonec : public Device {
 public:
  void OnWrite(Port& port, const std::string& packet) override;
  int OnIoctl(Port& port, unsigned long request, void* arg, int* err) override;
  // "event CODE TS TIMESTAMP ID", "short N", "empty", "state TS",
  // "fail ERRNO COUNT".
  bool OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                std::string* reply) override;
  void Reset() override;

  struct Timeslot {
    bool detector = false;
    uint32_t detectorId = 0;
    std::string generator = "off";  // "freq1/freq2/level1/level2" of the last dial
    bool lms = false, rejection = false, iva = false;
    int32_t ivaLevel = 0;
    std::string configure = "none";  // "twist/ratio/silence/noise"
    std::string selcal = "none";     // "amp/signs"
  };

 private:
  std::map<uint32_t, Timeslot> slots_;
  RequestFault fault_;
};

}  // namespace sim
