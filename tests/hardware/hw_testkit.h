// Shared by the hardware tests: the simulated board's journals and captured
// log streams.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/board.h"

namespace hwtest {

inline sim::Board& board() {
  return sim::Board::instance();
}

inline std::vector<std::string> Journal(const std::string& path) {
  std::vector<std::string> out;
  for (auto& e : board().Journal(path)) out.push_back(e.text);
  return out;
}

// Captures a standard stream (std::clog, std::cerr) while it lives.
struct Capture {
  explicit Capture(std::ostream& s) : stream(s), old(s.rdbuf(text.rdbuf())) {}
  ~Capture() { stream.rdbuf(old); }
  std::string Take() {
    std::string s = text.str();
    text.str("");
    return s;
  }
  std::ostream& stream;
  std::ostringstream text;
  std::streambuf* old;
};

}  // namespace hwtest
