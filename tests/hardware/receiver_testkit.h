// The simulated tone and DSP devices seen from a test: decoded journals,
// control words, and a frozen loop clock for the receivers' timers.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/timer.h"
#include "sim/board.h"

namespace receiver_testkit {

// Event ids other than 0 shown as "id=N": the services hand them out
// process-wide.
inline std::string MaskIds(std::string text) {
  for (size_t at = text.find("id="); at != std::string::npos; at = text.find("id=", at + 3)) {
    size_t end = text.find_first_not_of("0123456789", at + 3);
    if (end == std::string::npos) end = text.size();
    if (end > at + 3 && text.compare(at + 3, end - at - 3, "0") != 0)
      text.replace(at + 3, end - at - 3, "N");
  }
  return text;
}

// The device's journal since the last call, ids masked.
inline std::vector<std::string> Take(const std::string& path) {
  std::vector<std::string> out;
  for (auto& e : sim::Board::instance().Journal(path)) out.push_back(MaskIds(e.text));
  sim::Board::instance().ClearJournal(path);
  return out;
}

// A control word line for the device ("state 5", "event ..."); its first
// answer line.
inline std::string Ask(const std::string& path, const std::string& words) {
  std::string answer = sim::Board::instance().Command("inject " + path + " " + words);
  return answer.substr(0, answer.find('\n'));
}

class FrozenClock : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Board::instance().Reset();
    Mux::timevalset(Mux::g_tv_time, uint64_t(1700000000) * 1000);
  }
  void TearDown() override { Mux::g_tv_time = Mux::timeval(); }
  static void Advance(unsigned ms) {
    uint64_t now = uint64_t(Mux::g_tv_time.tv_sec) * 1000 + Mux::g_tv_time.tv_usec / 1000;
    Mux::timevalset(Mux::g_tv_time, now + ms);
    multiplexer.timers_schedule();
  }
};

}  // namespace receiver_testkit
