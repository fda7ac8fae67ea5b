#include "core/profile.h"

#include "core/timer.h"

namespace Profile {

Point* mRoot = nullptr;

Point::Point(const char* name) : next(mRoot), name(name)
{
    mRoot = this;
}

Point::~Point()
{
    for (Point** p = &mRoot; *p; p = &(*p)->next) {
        if (*p == this) {
            *p = next;
            break;
        }
    }
}

void Point::begin()
{
    start = Mux::microseconds();
}

void Point::end()
{
    uint32_t d = Mux::microseconds() - start;
    if (first) {
        first = false;
        min = max = last = d;
        counter = 1;
        return;
    }
    ++counter;
    if (d < min) min = d;
    if (d > max) max = d;
    last = d;
}

void Point::put(std::ostream& out) const
{
    out << "[" << name << "]: min=" << min << " max=" << max << " avg=" << last
        << " counter=" << counter;
}

void dump(std::ostream& out)
{
    for (const Point* p = mRoot; p; p = p->next) {
        p->put(out);
        out << std::endl;
    }
}

}  // namespace Profile
