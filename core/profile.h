// Timing accumulators and the named timing points listed, newest first, in
// the status file.
//
//     static Profile::Point point("Tpkt_protocol::message");
//     point.begin(); ... point.end();
#ifndef VELMARD_CORE_PROFILE_H
#define VELMARD_CORE_PROFILE_H

#include <cstdint>
#include <ostream>

// Timing accumulator in microseconds of Mux::microseconds(), as unsigned
// 32-bit differences, so a sample across the clock's wrap is still right.
// "avg" in the printed form is the latest sample, not a mean: that is what
// the status file shows.
class Measure {
 public:
  constexpr Measure() noexcept {}

  void begin();
  uint32_t end();
  // The same with a reading of Mux::microseconds() the caller already has,
  // so that one reading can end one measure and begin the next.
  void begin_at(uint32_t now) { start = now; }
  uint32_t end_at(uint32_t now);
  // "min=.. max=.. avg=<latest> counter=.."
  void put(std::ostream& out) const;

  uint32_t min = 0;
  uint32_t max = 0;
  uint32_t cur = 0;
  bool first = true;
  uint32_t start = 0;
  uint32_t counter = 0;
};

std::ostream& operator<<(std::ostream& out, const Measure& m);

namespace Profile {

// A Measure with a name, listed in the status file while it lives.
class Point {
 public:
  explicit Point(const char* name);
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;
  ~Point();

  void begin() { measure.begin(); }
  void end() { measure.end(); }
  void begin_at(uint32_t now) { measure.begin_at(now); }
  void end_at(uint32_t now) { measure.end_at(now); }
  // "[name]: " and the measure.
  void put(std::ostream& out) const;

  Point* next = nullptr;
  const char* name;
  Measure measure;
};

// Head of the list of live points, newest first.
extern Point* mRoot;

// Every point with put and an end of line.
void dump(std::ostream& out);

}  // namespace Profile

#endif  // VELMARD_CORE_PROFILE_H
