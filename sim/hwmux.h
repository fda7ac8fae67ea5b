// The TDM switch block of "/dev/hal" (requests of type 'M'). Every output
// channel is disabled, driven with a constant byte, or connected from an
// input channel; an output nobody has set yet is "unset".
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "sim/requests.h"

namespace sim {

// The driver's records: 32-bit words in the machine's order.
struct TdmConnectRecord {
  int32_t output;
  int32_t input;
};
struct TdmOutputRecord {
  int32_t output;
};
struct TdmByteRecord {
  int32_t channel;
  int32_t value;  // the byte in the low 8 bits
};
static_assert(sizeof(TdmConnectRecord) == 8 && offsetof(TdmConnectRecord, input) == 4, "");
static_assert(sizeof(TdmOutputRecord) == 4, "");
static_assert(sizeof(TdmByteRecord) == 8 && offsetof(TdmByteRecord, value) == 4, "");

class TdmSwitch {
 public:
  enum class State { kUnset, kDisabled, kDriven, kConnected };
  struct Output {
    State state = State::kUnset;
    int value = 0;          // the byte driven, or the input connected
    unsigned disables = 0;  // disable requests seen for the output
  };

  static const Request kRequests[];
  static const size_t kRequestCount;

  // One request of the block: the result, or -1 with *err. *line is the
  // journal line, empty for a repeated disable (the daemon's refresh sends
  // those without end; they are counted per output instead).
  int Handle(const Request& req, void* arg, int* err, std::string* line);
  // Fails the request like the driver would, without changing the switch.
  static std::string Describe(const Request& req, const void* arg);

  Output At(int channel) const;
  // The byte read back from a channel: a driven output's byte, else the
  // preset byte, else 0xFF.
  int ReadBack(int channel) const;
  // The byte a read of channel returns while nothing drives it (-1: none).
  void Preset(int channel, int byte);
  // "tdm CH ...": the output's state as one line.
  std::string Show(int channel) const;
  void Reset();

 private:
  std::map<int, Output> outputs_;
  std::map<int, int> presets_;
};

}  // namespace sim
