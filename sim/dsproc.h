// The DSP event processor, "/dev/dsp": per-timeslot voice functions
// switched on and off by function mask, their configuration records, and a
// driver version the daemon asks for (1 unless a test sets another).
// Requests are journalled decoded ("DSPROC_ENABLE,ts=5,id=3,mask=0x1"); tests
// push the 24-byte event records the daemon reads.
#ifndef VELMARD_SIM_DSPROC_H
#define VELMARD_SIM_DSPROC_H

#include <cstdint>
#include <map>
#include <string>

#include "sim/board.h"
#include "sim/records.h"

namespace sim {

class Dsproc : public Device {
 public:
  void OnWrite(Port& port, const std::string& packet) override;
  int OnIoctl(Port& port, unsigned long request, void* arg, int* err) override;
  // "event TS ID TYPE W0 W1 W2", "short N", "empty", "version N",
  // "state TS", "fail ERRNO COUNT", "result VALUE COUNT".
  bool OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                std::string* reply) override;
  void Reset() override;

 private:
  int version_ = 1;
  std::map<uint32_t, uint32_t> enabled_;  // function mask switched on, per timeslot
  RequestFault fault_;
  // The next count requests other than the version query that the driver
  // carries out return value instead of 0.
  struct {
    int value = 0;
    int count = 0;
  } result_;
};

}  // namespace sim

#endif  // VELMARD_SIM_DSPROC_H
