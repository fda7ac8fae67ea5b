// Redirects one standard stream (std::cout, std::cerr or the log stream
// std::clog) into a string while it lives, so a test tells the three apart.
#ifndef VELMARD_TESTS_STREAM_CAPTURE_H
#define VELMARD_TESTS_STREAM_CAPTURE_H

#include <ostream>
#include <sstream>
#include <string>

class Capture {
 public:
  explicit Capture(std::ostream& s) : stream_(s), old_(s.rdbuf(buf_.rdbuf())) {}
  ~Capture() { stream_.rdbuf(old_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  std::string text() const { return buf_.str(); }
  // The text without the loop's own "Mux: terminating..." lines.
  std::string lines() const {
    static std::string const loop_line = "Mux: terminating...\n";
    std::string s = buf_.str();
    for (size_t at; (at = s.find(loop_line)) != std::string::npos;) s.erase(at, loop_line.size());
    return s;
  }
  void clear() { buf_.str(""); }
  // The text so far, which is then cleared.
  std::string Take() {
    std::string s = buf_.str();
    clear();
    return s;
  }

 private:
  std::ostream& stream_;
  std::ostringstream buf_;
  std::streambuf* old_;
};

#endif  // VELMARD_TESTS_STREAM_CAPTURE_H
