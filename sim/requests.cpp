#include "sim/requests.h"

#include <cerrno>
#include <cstdio>

namespace sim {

namespace {

constexpr uint32_t kSizeMask = 0x1FFFu << 16;

}  // namespace

const Request* DecodeRequest(const Request* rows, size_t n, unsigned long request, const void* arg,
                             int* err) {
  *err = ENOTTY;
  if (request > 0xFFFFFFFFul) return nullptr;
  const uint32_t r = static_cast<uint32_t>(request);
  for (size_t i = 0; i < n; ++i) {
    const Request& row = rows[i];
    // Same direction, type and number: the request is known, its size must
    // still be the record's.
    if ((row.value & ~kSizeMask) != (r & ~kSizeMask)) continue;
    if (row.value != r) {
      *err = EINVAL;
      return nullptr;
    }
    if (row.pointer && !arg) {
      *err = EFAULT;
      return nullptr;
    }
    *err = 0;
    return &row;
  }
  return nullptr;
}

void RequestFaults::Arm(const std::string& name, int err, int count) {
  if (err == 0 || count <= 0) {
    faults_.erase(name);
    return;
  }
  faults_[name] = Fault{err, count};
}

int RequestFaults::Take(const std::string& name) {
  auto it = faults_.find(name);
  if (it == faults_.end()) return 0;
  int err = it->second.err;
  if (--it->second.count <= 0) faults_.erase(it);
  return err;
}

std::string HexByte(unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", value & 0xFFu);
  return buf;
}

}  // namespace sim
