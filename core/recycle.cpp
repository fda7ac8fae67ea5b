#include "core/recycle.h"

#include <new>

namespace Recycle {

namespace {

constexpr std::size_t kClasses = largest / grain;

struct FreeBlock {
  FreeBlock* next;
};

// Trivially destructible, so it stays usable while the thread (or the
// program) tears down its other objects; `closed` then sends every block
// back to the heap.
struct Lists {
  FreeBlock* head[kClasses];
  unsigned count[kClasses];
  bool registered;
  bool closed;
};
thread_local Lists lists;

// Gives the kept blocks back to the heap when the thread ends.
struct Reaper {
  ~Reaper() {
    lists.closed = true;
    for (std::size_t i = 0; i < kClasses; ++i) {
      while (FreeBlock* b = lists.head[i]) {
        lists.head[i] = b->next;
        ::operator delete(b);
      }
      lists.count[i] = 0;
    }
  }
};
thread_local Reaper reaper;

bool recycled(std::size_t n) {
  return enabled && n != 0 && n <= largest;
}

std::size_t classOf(std::size_t n) {
  return (n - 1) / grain;
}

}  // namespace

void* take(std::size_t n) {
  if (!recycled(n)) return ::operator new(n);
  std::size_t c = classOf(n);
  if (FreeBlock* b = lists.head[c]) {
    lists.head[c] = b->next;
    --lists.count[c];
    return b;
  }
  // Every block of a class has the class's full size, whichever size asked.
  return ::operator new((c + 1) * grain);
}

void give(void* p, std::size_t n) noexcept {
  if (!p) return;
  if (!recycled(n) || lists.closed) {
    ::operator delete(p);
    return;
  }
  std::size_t c = classOf(n);
  if (lists.count[c] >= keep) {
    ::operator delete(p);
    return;
  }
  if (!lists.registered) {
    lists.registered = true;
    // The first use builds the reaper.
    Reaper* r = &reaper;
    asm volatile("" : : "r"(r));
  }
  FreeBlock* b = static_cast<FreeBlock*>(p);
  b->next = lists.head[c];
  lists.head[c] = b;
  ++lists.count[c];
}

unsigned kept(std::size_t n) {
  return recycled(n) ? lists.count[classOf(n)] : 0;
}

}  // namespace Recycle
