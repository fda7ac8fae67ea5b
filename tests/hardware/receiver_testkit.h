// The simulated tone and DSP devices seen from a test: decoded journals,
// control words, and a frozen loop clock for the receivers' timers.
#ifndef VELMARD_TESTS_HARDWARE_RECEIVER_TESTKIT_H
#define VELMARD_TESTS_HARDWARE_RECEIVER_TESTKIT_H

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/timer.h"
#include "hw_testkit.h"
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

// What one call wrote to each log stream, apart (ids masked unless asked).
struct Streams {
  std::string out, err, log;  // std::cout, std::cerr, std::clog
  bool operator==(const Streams& o) const { return out == o.out && err == o.err && log == o.log; }
};
inline std::ostream& operator<<(std::ostream& os, const Streams& s) {
  return os << "{out \"" << s.out << "\", err \"" << s.err << "\", log \"" << s.log << "\"}";
}
inline Streams Logged(const std::function<void()>& f, bool mask = true) {
  hwtest::Capture out(std::cout), err(std::cerr), log(std::clog);
  f();
  if (!mask) return {out.Take(), err.Take(), log.Take()};
  return {MaskIds(out.Take()), MaskIds(err.Take()), MaskIds(log.Take())};
}

// After one pass of the loop on the frozen clock (what was scheduled since
// the last pass joins the poll set), the named event's row of the loop's
// table: "NAME EVENTS attached|unattached", or "none".
inline std::string PollRow(const std::string& name) {
  struct Stop {
    void On() { multiplexer.terminate(); }
    Timer timer;
  } stop;
  stop.timer.set(0, &Stop::On, &stop);
  {
    hwtest::Capture log(std::clog);
    multiplexer.run(false, true);
  }
  std::ostringstream table;
  multiplexer.dump(table);
  std::istringstream lines(table.str());
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '|');) {
      size_t first = cell.find_first_not_of(' '), last = cell.find_last_not_of(' ');
      cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    if (cells.size() > 4 && cells[1] == name) return name + " " + cells[2] + " " + cells[4];
  }
  return "none";
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

#endif  // VELMARD_TESTS_HARDWARE_RECEIVER_TESTKIT_H
