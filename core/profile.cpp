#include "core/profile.h"

#include "core/timer.h"

void Measure::begin() {
  start = Mux::microseconds();
}

uint32_t Measure::end() {
  return end_at(Mux::microseconds());
}

uint32_t Measure::end_at(uint32_t now) {
  uint32_t d = now - start;
  if (first) {
    first = false;
    min = max = cur = d;
    counter = 1;
  } else {
    ++counter;
    if (d < min) min = d;
    if (d > max) max = d;
    cur = d;
  }
  return d;
}

void Measure::put(std::ostream& out) const {
  out << "min=" << min << " max=" << max << " avg=" << cur << " counter=" << counter;
}

std::ostream& operator<<(std::ostream& out, const Measure& m) {
  m.put(out);
  return out;
}

namespace Profile {

Point* mRoot = nullptr;

Point::Point(const char* name) : next(mRoot), name(name) {
  mRoot = this;
}

Point::~Point() {
  for (Point** p = &mRoot; *p; p = &(*p)->next) {
    if (*p == this) {
      *p = next;
      break;
    }
  }
}

void Point::put(std::ostream& out) const {
  out << "[" << name << "]: " << measure;
}

void dump(std::ostream& out) {
  for (const Point* p = mRoot; p; p = p->next) {
    p->put(out);
    out << std::endl;
  }
}

}  // namespace Profile
