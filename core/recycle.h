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

// A block of at least n octets (std::bad_alloc when the heap has none).
void* take(std::size_t n);
// Gives back a block that `take(n)` returned, with the same n.
void give(void* p, std::size_t n) noexcept;
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
