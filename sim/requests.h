// Driver requests as the board's drivers decode them: the board's own ioctl
// encoding (direction bits 31-29: 1 none, 2 read, 4 write, 6 both; argument
// size bits 28-16; type letter bits 15-8; number bits 7-0), written here as
// the literal numbers the drivers were built with.
//
// Every device answers a request it does not know ENOTTY, a known one whose
// encoded size is not its record's EINVAL, and a missing record EFAULT, so
// a wrong request constant in the daemon fails its test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace sim {

struct Request {
  uint32_t value;  // the full request number
  unsigned size;   // bytes of the record it carries (0: none)
  bool pointer;    // the argument is a pointer to that record
  const char* name;
};

// The row of rows[0..n) that request is, or null with *err set.
const Request* DecodeRequest(const Request* rows, size_t n, unsigned long request, const void* arg,
                             int* err);

// Per-request failures a test armed: the next count requests of a name fail
// with an errno.
class RequestFaults {
 public:
  void Arm(const std::string& name, int err, int count);
  // The errno the next request of name fails with, or 0.
  int Take(const std::string& name);
  void Clear() { faults_.clear(); }

 private:
  struct Fault {
    int err = 0;
    int count = 0;
  };
  std::map<std::string, Fault> faults_;
};

// "0xHH": a byte as the journals write it.
std::string HexByte(unsigned value);

}  // namespace sim
