// What the fuzz targets that drive the real loop share: a sink for the
// daemon's log lines, a handler that ends a pass, the input's plan for
// chunking the stream and moving the frozen clock, and the clock step.
#ifndef VELMARD_TESTS_FUZZ_FUZZ_LOOP_H
#define VELMARD_TESTS_FUZZ_FUZZ_LOOP_H

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <vector>

#include "asn1/coder_env.h"

#include "core/multiplexer.h"
#include "core/timer.h"
#include "tests/pass_stopper.h"

namespace fuzzloop {

// The daemon's log lines go nowhere: formatting them still runs.
class NullBuf : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(char const*, std::streamsize n) override { return n; }
};

using Stopper = PassStopper;

// Plan bits 0-1: chunking (all at once, octet by octet, 1..16, 1..512);
// bits 2-3: clock (still, small steps, some steps just past `nearTimeout`,
// some just past `farTimeout`); the bits from `seedShift` on seed the choices.
class Plan {
 public:
  Plan(std::uint8_t plan, unsigned seedShift, unsigned nearTimeout, unsigned farTimeout)
      : bits_(plan),
        state_(0x9E3779B9u ^ (unsigned(plan) >> seedShift)),
        near_(nearTimeout),
        far_(farTimeout) {}

  std::uint8_t bits() const { return bits_; }

  std::size_t chunk(std::size_t left) {
    std::size_t n = left;
    switch (bits_ & 3) {
      case 1:
        n = 1;
        break;
      case 2:
        n = 1 + next() % 16;
        break;
      case 3:
        n = 1 + next() % 512;
        break;
    }
    return n < left ? n : left;
  }

  unsigned step() {
    unsigned r = next();
    switch ((bits_ >> 2) & 3) {
      case 1:
        return r % 8;
      case 2:
        return r % 4 == 0 ? near_ + r % 2 : r % 100;
      case 3:
        return r % 8 == 0 ? far_ + r % 2 : r % 5000;
    }
    return 0;
  }

 private:
  unsigned next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

  std::uint8_t bits_;
  std::uint32_t state_;
  unsigned near_, far_;
};

// Moves the frozen clock on by ms.
inline void Advance(unsigned ms) {
  std::uint64_t us = std::uint64_t(Mux::g_tv_time.tv_sec) * 1000000 + Mux::g_tv_time.tv_usec;
  us += std::uint64_t(ms) * 1000;
  Mux::g_tv_time.tv_sec = std::uint32_t(us / 1000000);
  Mux::g_tv_time.tv_usec = std::uint32_t(us % 1000000);
}

// Everything the peer received so far: whole TPKT frames only, each body a
// PER-aligned Msg that `expected` accepts; anything else traps.
template <class Msg, class Expected>
void CheckFrames(int peer, Expected expected) {
  static std::vector<unsigned char> got;
  got.clear();
  unsigned char buf[4096];
  ssize_t n;
  while ((n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0) got.insert(got.end(), buf, buf + n);
  std::size_t at = 0;
  while (at < got.size()) {
    if (got.size() - at < 4 || got[at] != 3 || got[at + 1] != 0) __builtin_trap();
    std::size_t len = (std::size_t(got[at + 2]) << 8) | got[at + 3];
    if (len <= 4 || got.size() - at < len) __builtin_trap();
    char const* body = reinterpret_cast<char const*>(got.data() + at + 4);
    Msg msg;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    if (!ASN1::decode(body, body + len - 4, &env, msg, true) || !expected(msg)) __builtin_trap();
    at += len;
  }
}

}  // namespace fuzzloop

#endif  // VELMARD_TESTS_FUZZ_FUZZ_LOOP_H
