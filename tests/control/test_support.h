// Helpers shared by the control-layer tests: pool accounting, stream
// capture and driving the real event loop with a bounded wait.
#ifndef VELMARD_TESTS_CONTROL_TEST_SUPPORT_H
#define VELMARD_TESTS_CONTROL_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "control/packet.h"
#include "core/multiplexer.h"
#include "core/timer.h"
#include "tests/stream_capture.h"

// Every test must give back every block it took.
class PoolTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(Packet_pool::available(), Packet_pool::capacity())
        << "packet blocks leaked by this test";
  }
};

// Runs the daemon's loop until `done` holds or `limit_ms` pass; true when
// the condition was met. A short re-armed timer keeps every poll bounded.
class LoopRunner {
 public:
  bool run_until(std::function<bool()> done, unsigned limit_ms = 5000) {
    done_ = std::move(done);
    met_ = done_();
    if (met_) return true;
    deadline_ = Mux::milliseconds() + limit_ms;
    timer_.set(1, &LoopRunner::tick, this);
    multiplexer.run(false, true);
    timer_.reset();
    return met_;
  }

  void tick(Timer*) {
    timer_.set(2, &LoopRunner::tick, this);
    if (done_()) {
      met_ = true;
      multiplexer.terminate();
    } else if (int32_t(Mux::milliseconds() - deadline_) >= 0) {
      multiplexer.terminate();
    }
  }

 private:
  std::function<bool()> done_;
  uint32_t deadline_ = 0;
  bool met_ = false;
  Timer timer_;
};

inline std::vector<u8> bytes_of(Packet const& p) {
  return std::vector<u8>(p.data(), p.data() + p.length());
}

inline std::string hex(std::vector<u8> const& v) {
  static char const digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) s.push_back(' ');
    s.push_back(digits[v[i] >> 4]);
    s.push_back(digits[v[i] & 15]);
  }
  return s;
}

#endif  // VELMARD_TESTS_CONTROL_TEST_SUPPORT_H
