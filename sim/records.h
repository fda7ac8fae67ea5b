// What the record devices of the board ("/dev/dtmf", "/dev/dsp") share:
// test words turned into event bytes, broken reads and request faults.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/board.h"

namespace sim {

// A number as a test writes it: decimal, 0x hex, negative; a word with a
// '.' is a 32-bit float.
inline bool ParseWord(const std::string& text, uint32_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  if (text.find('.') != std::string::npos) {
    float f = std::strtof(text.c_str(), &end);
    if (*end != '\0') return false;
    std::memcpy(value, &f, sizeof f);
    return true;
  }
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || v < -2147483648LL || v > 4294967295LL) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

// Native words, as the driver hands them out.
inline std::string Words(const std::vector<uint32_t>& words) {
  return std::string(reinterpret_cast<const char*>(words.data()), words.size() * 4);
}

inline void SendAll(const std::vector<Port*>& ports, const std::string& bytes) {
  for (Port* p : ports) p->Send(bytes);
}

// The next requests of a device fail with a chosen errno.
struct RequestFault {
  int err = 0;
  int count = 0;
  // The errno for this request, or 0.
  int Take() {
    if (count <= 0) return 0;
    --count;
    return err;
  }
};

// "short N" (N zero bytes), "empty" (a read that returns 0) and
// "fail ERRNO COUNT": true when the words were one of these.
inline bool CommonInject(const std::vector<Port*>& ports, const std::vector<std::string>& w,
                         RequestFault* fault, std::string* reply, bool* ok) {
  uint32_t n = 0, count = 0;
  *ok = true;
  if (w.size() == 2 && w[0] == "short" && ParseWord(w[1], &n) && n < 4096) {
    SendAll(ports, std::string(n, '\0'));
  } else if (w.size() == 1 && w[0] == "empty") {
    SendAll(ports, std::string());
  } else if (w.size() == 3 && w[0] == "fail" && ParseWord(w[1], &n) && ParseWord(w[2], &count)) {
    fault->err = static_cast<int>(n);
    fault->count = static_cast<int>(count);
    *reply = "armed";
    return true;
  } else {
    return false;
  }
  *reply = "sent " + std::to_string(ports.size());
  return true;
}

}  // namespace sim
