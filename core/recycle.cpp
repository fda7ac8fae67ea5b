#include "core/recycle.h"

#include <new>

namespace Recycle {

namespace detail {

__thread Lists lists;

namespace {

// Gives the kept blocks back to the heap when the thread ends.
struct Reaper {
  ~Reaper() {
    lists.closed = true;
    for (std::size_t i = 0; i < classes; ++i) {
      while (FreeBlock* b = lists.head[i]) {
        lists.head[i] = b->next;
        ::operator delete(b);
      }
      lists.count[i] = 0;
    }
  }
};
thread_local Reaper reaper;

}  // namespace

void* take_from_heap(std::size_t n) {
  // Every block of a class has the class's full size, whichever size asked.
  if (recycled(n)) n = ((n - 1) / grain + 1) * grain;
  return ::operator new(n);
}

void give_to_heap(void* p, std::size_t n) noexcept {
  if (!p) return;
  if (recycled(n) && !lists.registered && !lists.closed) {
    // The first block given back on a thread arms the reaper, then is kept.
    lists.registered = true;
    Reaper* r = &reaper;
    asm volatile("" : : "r"(r));
    give(p, n);
    return;
  }
  ::operator delete(p);
}

}  // namespace detail

unsigned kept(std::size_t n) {
  return detail::recycled(n) ? detail::lists.count[(n - 1) / grain] : 0;
}

}  // namespace Recycle
