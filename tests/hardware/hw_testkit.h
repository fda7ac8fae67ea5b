// Shared by the hardware tests: the simulated board's journals and captured
// log streams.
#ifndef VELMARD_TESTS_HARDWARE_HW_TESTKIT_H
#define VELMARD_TESTS_HARDWARE_HW_TESTKIT_H

#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/multiplexer.h"
#include "sim/board.h"
#include "tests/pass_stopper.h"
#include "tests/stream_capture.h"

namespace hwtest {

inline sim::Board& board() {
  return sim::Board::instance();
}

inline std::vector<std::string> Journal(const std::string& path) {
  std::vector<std::string> out;
  for (auto& e : board().Journal(path)) out.push_back(e.text);
  return out;
}

using ::Capture;

// One pass of the daemon's loop: timers and deferred calls, a poll that
// cannot block, then the handlers attached before this one are dispatched.
class LoopPass : public PassStopper {
 public:
  void operator()() {
    mux_detach();
    mux_attach();
    multiplexer.run(false, true);
    mux_detach();
  }
};

// The poll events of every event of the loop with this name, from the
// loop's own table (Multiplexer::dump: cells of 40 and 30 characters first).
inline std::vector<std::string> PolledEvents(const std::string& name) {
  std::ostringstream dump;
  multiplexer.dump(dump);
  auto trim = [](const std::string& cell) {
    const size_t from = cell.find_first_not_of(' ');
    return from == std::string::npos ? ""
                                     : cell.substr(from, cell.find_last_not_of(' ') - from + 1);
  };
  std::vector<std::string> out;
  std::istringstream lines(dump.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 72 && line[0] == '|' && trim(line.substr(1, 40)) == name)
      out.push_back(trim(line.substr(42, 30)));
  }
  return out;
}

// The descriptors this process has open.
inline int OpenDescriptors() {
  int n = 0;
  for (int fd = 0; fd < 4096; ++fd) n += ::fcntl(fd, F_GETFD) >= 0;
  return n;
}

}  // namespace hwtest

#endif  // VELMARD_TESTS_HARDWARE_HW_TESTKIT_H
