// The clock-select block of "/dev/hal" (request type 'C'): which source
// clocks the TDM buses (0..3 a trunk, 4 free-running, 5 the external input;
// any other non-negative code is taken too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/requests.h"

namespace sim {

struct ClockSelectRecord {
  int32_t code;
};
static_assert(sizeof(ClockSelectRecord) == 4, "");

class ClockSelect {
 public:
  static const Request kRequests[];
  static const size_t kRequestCount;

  int Handle(const Request& req, void* arg, int* err, std::string* line);
  static std::string Describe(const Request& req, const void* arg);
  // The last code selected; -1 before the first.
  int code() const { return code_; }
  void Reset() { code_ = -1; }

 private:
  int code_ = -1;
};

}  // namespace sim
