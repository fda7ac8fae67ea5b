#include "sim/busctl.h"

#include <cerrno>

namespace sim {

const Request ClockSelect::kRequests[] = {
    {0x80044301u, 4, true, "clock"},
};
const size_t ClockSelect::kRequestCount = sizeof kRequests / sizeof kRequests[0];

std::string ClockSelect::Describe(const Request&, const void* arg) {
  return "clock " + std::to_string(static_cast<const ClockSelectRecord*>(arg)->code);
}

int ClockSelect::Handle(const Request& req, void* arg, int* err, std::string* line) {
  *line = Describe(req, arg);
  const int code = static_cast<ClockSelectRecord*>(arg)->code;
  // Which codes above 7 mean anything is the board's business: they are
  // taken and kept as they are.
  if (code < 0) {
    *err = EINVAL;
    return -1;
  }
  code_ = code;
  return 0;
}

}  // namespace sim
