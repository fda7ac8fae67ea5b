// Named timing points, listed newest first in the status file.
//
//     static Profile::Point point("Tpkt_protocol::message");
//     point.begin(); ... point.end();
#ifndef VELMARD_CORE_PROFILE_H
#define VELMARD_CORE_PROFILE_H

#include <cstdint>
#include <ostream>

namespace Profile {

class Point {
public:
    explicit Point(const char* name);
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;
    ~Point();

    void begin();
    // Durations in microseconds, as unsigned 32-bit differences.
    void end();
    // "[name]: min=.. max=.. avg=<last duration> counter=.."
    void put(std::ostream& out) const;

    Point* next = nullptr;
    const char* name;
    uint32_t min = 0;
    uint32_t max = 0;
    uint32_t last = 0;
    bool first = true;
    uint32_t start = 0;
    uint32_t counter = 0;
};

// Head of the list of live points, newest first.
extern Point* mRoot;

// Every point with put and an end of line.
void dump(std::ostream& out);

}  // namespace Profile

#endif
