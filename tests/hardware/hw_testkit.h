// Shared by the hardware tests: captured log streams and the simulated
// board's journals.
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

// Captures one standard stream (std::clog, std::cerr) while it lives.
class Capture {
 public:
  explicit Capture(std::ostream& stream) : stream_(stream), old_(stream.rdbuf(text_.rdbuf())) {}
  ~Capture() { stream_.rdbuf(old_); }
  std::string Take() {
    std::string s = text_.str();
    text_.str("");
    return s;
  }

 private:
  std::ostream& stream_;
  std::ostringstream text_;
  std::streambuf* old_;
};

}  // namespace hwtest
