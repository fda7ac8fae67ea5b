// Recycled small blocks for objects that are made and dropped at message
// rate (ASN.1 values and their small vectors, timer events).
//
// A block of up to `Recycle::largest` octets, once given back, is kept on a
// short per-thread list for its size class and handed out again, so steady
// traffic seldom reaches the heap. A class opts in with operator new and
// delete calling `take` and `give` with the object's size; a container with
// `Recycle::Allocator`. Under AddressSanitizer every block goes straight
// back to the heap, so a use after free is still seen.
#ifndef VELMARD_CORE_RECYCLE_H
#define VELMARD_CORE_RECYCLE_H

#include <cstddef>

namespace Recycle {

constexpr std::size_t largest = 256;
// Size classes are this many octets apart.
constexpr std::size_t grain = 16;
// Blocks kept per size class (a decoded radio packet list holds a hundred
// values of one class); further ones go back to the heap.
constexpr unsigned keep = 256;

#if defined(__SANITIZE_ADDRESS__)
#define VELMARD_RECYCLE_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMARD_RECYCLE_OFF 1
#endif
#endif
#ifdef VELMARD_RECYCLE_OFF
constexpr bool enabled = false;
#else
constexpr bool enabled = true;
#endif

namespace detail {

constexpr std::size_t classes = largest / grain;

struct FreeBlock {
  FreeBlock* next;
};

// The lists of one thread. Trivially destructible (and a `__thread`, so
// every access is a plain thread-pointer load), so it stays usable while the
// thread or the program tears down its other objects; `closed` then sends
// every block back to the heap.
struct Lists {
  FreeBlock* head[classes];
  unsigned count[classes];
  bool registered;  // the reaper that empties the lists at thread end is armed
  bool closed;
};
extern __thread Lists lists;

void* take_from_heap(std::size_t n);
void give_to_heap(void* p, std::size_t n) noexcept;

inline bool recycled(std::size_t n) {
  return enabled && n - 1 < largest;  // 1..largest
}

}  // namespace detail

// A block of at least n octets (std::bad_alloc when the heap has none).
inline void* take(std::size_t n) {
  if (detail::recycled(n)) {
    std::size_t c = (n - 1) / grain;
    if (detail::FreeBlock* b = detail::lists.head[c]) {
      detail::lists.head[c] = b->next;
      --detail::lists.count[c];
      return b;
    }
  }
  return detail::take_from_heap(n);
}

// Gives back a block that `take(n)` returned, with the same n.
inline void give(void* p, std::size_t n) noexcept {
  if (p && detail::recycled(n) && detail::lists.registered && !detail::lists.closed) {
    std::size_t c = (n - 1) / grain;
    if (detail::lists.count[c] < keep) {
      detail::FreeBlock* b = static_cast<detail::FreeBlock*>(p);
      b->next = detail::lists.head[c];
      detail::lists.head[c] = b;
      ++detail::lists.count[c];
      return;
    }
  }
  detail::give_to_heap(p, n);
}

// Blocks kept for requests of n octets on this thread.
unsigned kept(std::size_t n);

// For containers whose elements are of the same kind.
template <class T>
struct Allocator {
  typedef T value_type;
  Allocator() noexcept {}
  template <class U>
  Allocator(const Allocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(take(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { give(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const Allocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const Allocator<U>&) const noexcept {
    return false;
  }
};

}  // namespace Recycle

#endif  // VELMARD_CORE_RECYCLE_H
