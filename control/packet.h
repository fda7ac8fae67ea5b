// Pooled copy-on-write packet buffers.
//
// A Packet is a one-word handle on a 65536-byte block taken from a static
// pool of 1024 blocks; nothing here touches the heap. Lower layers push their
// headers into the headroom, payload is appended into the tailroom. Misuse
// (null handle, overrun, broken bounds) prints a report and terminates; only
// an exhausted pool throws (std::bad_alloc).
#ifndef VELMARD_CONTROL_PACKET_H
#define VELMARD_CONTROL_PACKET_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <ostream>
#include <string>

#include "core/dual_list.h"
#include "core/smartptr_assert.h"

typedef std::uint8_t u8;
typedef std::uint16_t u16;
typedef std::uint32_t u32;

enum { packet_max_size = 65536 };

// ---------------------------------------------------------------------------
// Smart_pointer: intrusive reference-counted handle. The pointee keeps its
// own `count`; a type may opt into copy-on-write through Smart_pointer_traits.

template <class T>
struct Smart_pointer_traits {
  static constexpr bool copy_on_write = false;
};

template <class T>
class Smart_pointer {
 public:
  Smart_pointer() : ptr_(nullptr) {}
  Smart_pointer(T* p) : ptr_(p) { acquire(); }
  Smart_pointer(Smart_pointer const& o) : ptr_(o.ptr_) { acquire(); }
  ~Smart_pointer() { drop(); }

  Smart_pointer& operator=(Smart_pointer const& o) {
    if (o.ptr_ != ptr_) {
      T* p = o.ptr_;
      if (p) ++p->count;  // before dropping: o may live inside *ptr_
      drop();
      ptr_ = p;
    }
    return *this;
  }
  Smart_pointer& operator=(T* p) {
    if (p != ptr_) {
      if (p) ++p->count;
      drop();
      ptr_ = p;
    }
    return *this;
  }

  // Every access that may change the pointee goes through here, so a shared
  // block is copied before the first write.
  T* operator->() {
    if (!ptr_) SmartPtrAssertion();
    prepare_for_modify();
    return ptr_;
  }
  T const* operator->() const {
    if (!ptr_) SmartPtrAssertion();
    return ptr_;
  }
  T& operator*() { return *operator->(); }
  T const& operator*() const { return *operator->(); }

  T* get() const { return ptr_; }
  bool is_null() const { return ptr_ == nullptr; }
  explicit operator bool() const { return ptr_ != nullptr; }
  u32 ref_count() const { return ptr_ ? ptr_->count : 0; }

  void prepare_for_modify() {
    if constexpr (Smart_pointer_traits<T>::copy_on_write) {
      if (ptr_ && ptr_->count > 1) {
        T* copy = new T(*ptr_);  // pool exhausted: std::bad_alloc
        copy->count = 1;
        --ptr_->count;
        ptr_ = copy;
      }
    }
  }

 protected:
  void acquire() {
    if (ptr_) ++ptr_->count;
  }
  void drop() {
    if (!ptr_) return;
    T* p = ptr_;
    ptr_ = nullptr;
    unref(p);
  }
  // Out of line: the compiler cannot follow the count across handles and
  // would otherwise suspect every later access of the freed object.
  [[gnu::noinline]] static void unref(T* p) {
    if (p->count > 0) --p->count;
    if (p->count == 0) delete p;
  }

  T* ptr_;
};

// ---------------------------------------------------------------------------
// List_allocator: fixed pool of N cells in static zero-initialised storage.
// Free cells are reused first-in first-out (allocate from the head, free to
// the tail). The storage and the free list are raw bytes built on first use
// under a guard flag each, so the pool is ready whichever unit's static
// initialisation asks for it first.

struct Dummy_critical_section {
  void enter() {}
  void leave() {}
};

template <class T, unsigned N, class CS>
class List_allocator {
 public:
  struct Cell : F_dual_list_item<Cell> {
    T object;
  };

  static T* allocate() {
    build();
    lock_.enter();
    Cell* c = free_list().remove_from_head();
    if (c) fetch_ahead(c);
    lock_.leave();
    return c ? &c->object : nullptr;
  }

  static void deallocate(T* p) {
    if (!p) return;
    build();
    Cell* c = cell_of(p);
    c->next = nullptr;
    c->prev = nullptr;
    lock_.enter();
    free_list().insert_to_tail(c);
    lock_.leave();
  }

  static unsigned available() {
    build();
    return free_list().size();
  }
  static constexpr unsigned capacity() { return N; }

  static void build() {
    if (!blocks_built_) {
      blocks_built_ = true;
      Cell* cells = blocks();
      for (unsigned i = 0; i < N; ++i) {
        Cell* c = new (&cells[i]) Cell;
        c->next = nullptr;
        c->prev = nullptr;
      }
    }
    if (!free_list_built_) {
      free_list_built_ = true;
      new (free_list_storage_) F_dual_list<Cell>;
      free_list().init(blocks(), N);
    }
  }

 private:
  static Cell* blocks() { return reinterpret_cast<Cell*>(blocks_storage_); }
  static F_dual_list<Cell>& free_list() {
    return *reinterpret_cast<F_dual_list<Cell>*>(free_list_storage_);
  }
  // Cells are handed out first-in first-out, so those next in line were
  // freed long ago and have left the cache. A cursor runs a few cells ahead
  // of the head, one step per allocation, and fetches the header and first
  // data line of each cell it reaches: by the time a cell is handed out, it
  // is in the cache. The cursor only reads links of cells it has fetched.
  static constexpr unsigned kLead = 4;
  static void fetch_ahead(Cell* taken) {
    if (taken == ahead_ || !ahead_) {
      ahead_ = taken->next;  // the new head, or null: start over from it
      gap_ = 1;
      fetch(ahead_);
    } else {
      --gap_;
    }
    for (unsigned i = 0; i < 2 && gap_ < kLead && ahead_ && ahead_->next; ++i) {
      ahead_ = ahead_->next;
      ++gap_;
      fetch(ahead_);
    }
  }
  static void fetch(Cell* c) {
    if (!c) return;
    char const* at = reinterpret_cast<char const*>(c);
    __builtin_prefetch(at, 1);
    __builtin_prefetch(at + 64, 1);
  }

  static Cell* cell_of(T* p) {
    std::size_t index =
        (reinterpret_cast<char*>(p) - reinterpret_cast<char*>(&blocks()[0].object)) / sizeof(Cell);
    return &blocks()[index];
  }

  alignas(Cell) static unsigned char blocks_storage_[sizeof(Cell) * N];
  alignas(F_dual_list<Cell>) static unsigned char free_list_storage_[sizeof(F_dual_list<Cell>)];
  static bool blocks_built_;
  static bool free_list_built_;
  static CS lock_;
  static Cell* ahead_;
  static unsigned gap_;
};

template <class T, unsigned N, class CS>
alignas(typename List_allocator<T, N, CS>::Cell) unsigned char List_allocator<
    T, N, CS>::blocks_storage_[sizeof(Cell) * N];
template <class T, unsigned N, class CS>
alignas(F_dual_list<typename List_allocator<T, N, CS>::Cell>) unsigned char List_allocator<
    T, N, CS>::free_list_storage_[sizeof(F_dual_list<Cell>)];
template <class T, unsigned N, class CS>
bool List_allocator<T, N, CS>::blocks_built_;
template <class T, unsigned N, class CS>
bool List_allocator<T, N, CS>::free_list_built_;
template <class T, unsigned N, class CS>
CS List_allocator<T, N, CS>::lock_;
template <class T, unsigned N, class CS>
typename List_allocator<T, N, CS>::Cell* List_allocator<T, N, CS>::ahead_;
template <class T, unsigned N, class CS>
unsigned List_allocator<T, N, CS>::gap_;

// ---------------------------------------------------------------------------
// _Packet: the shared block. Invariant: buffer <= data <= tail <= buffer end.

struct _Packet {
  u32 count;
  u8* data;
  u8* tail;
  u8 buffer[packet_max_size];

  _Packet() : count(0), data(buffer + packet_max_size), tail(data) {}
  // Used by copy-on-write only: same offsets, only the window is copied.
  _Packet(_Packet const& o);
  _Packet& operator=(_Packet const&) = delete;

  static void* operator new(std::size_t size);
  static void* operator new(std::size_t, void* where) { return where; }
  static void operator delete(void* p);
  static void operator delete(void*, void*) {}

  u8* buffer_end() { return buffer + packet_max_size; }
  u8 const* buffer_end() const { return buffer + packet_max_size; }
  bool valid() const {
    return data >= buffer && data <= buffer_end() && tail >= buffer && tail <= buffer_end() &&
           data <= tail;
  }
  unsigned _headroom() const { return unsigned(data - buffer); }
  unsigned _length() const { return unsigned(tail - data); }
  unsigned _tailroom() const { return unsigned(buffer_end() - tail); }
};

template <>
struct Smart_pointer_traits<_Packet> {
  static constexpr bool copy_on_write = true;
};

typedef List_allocator<_Packet, 1024, Dummy_critical_section> Packet_pool;

// Builds the pool during the static initialisation of every unit that
// includes this header, whichever of them runs first.
namespace {
struct Packet_pool_init {
  Packet_pool_init() { Packet_pool::build(); }
};
[[maybe_unused]] Packet_pool_init packet_pool_init_;
}  // namespace

// ---------------------------------------------------------------------------

class Packet;

// Snapshot of a packet printed by an assertion report.
struct PacketInfo {
  explicit PacketInfo(Packet const& p);
  void put(std::ostream& out) const;

  bool null;
  bool valid;
  // Signed: broken pointers show as they are.
  long head;
  long length;
  long tail;
  std::string bytes;
};

class Packet : public Smart_pointer<_Packet> {
 public:
  using Smart_pointer<_Packet>::operator=;

  unsigned length() const;
  unsigned headroom() const;
  unsigned tailroom() const;
  u8 const* data() const;  // null for an empty handle

  void reserve_head(unsigned n);
  void reserve_tail(unsigned n);

  void put8(u8 v);
  void push8(u8 v);
  u8 pull8();

  void put16_b(unsigned short v);
  void put16(unsigned short v);
  void push16_b(unsigned short v);
  unsigned short pull16_b();
  unsigned short pull16_l();

  // Tail extension: `tail_space()` is where the next appended byte goes
  // (the packet is made private first), `extend_tail` takes `len` bytes
  // written there into the window; `put` copies bytes in.
  u8* tail_space();
  void extend_tail(unsigned len);
  void put(void const* bytes, unsigned len);
  // Removes up to `len` bytes from the front into `to` (when not null);
  // returns how many there were.
  unsigned pull(void* to, unsigned len);

  void put(std::string const& s);
  std::string pull_string();
  void put(Packet const& other);
  Packet sub(unsigned len, unsigned start) const;

  std::string text() const;
  bool dump(std::ostream& out) const;
  bool dump_context(std::ostream& out) const;

  void check(char const* where) const;
  void passert(bool cond, std::string const& text) const;
  // The form every caller uses: the text stays a literal until an assertion
  // fails, so a passing check costs one test and no allocation.
  void passert(bool cond, char const* text) const {
    if (!cond) passert_fail(text);
  }

  [[noreturn]] static void check_fail(char const* format, ...)
      __attribute__((format(printf, 1, 2)));

 private:
  [[noreturn, gnu::cold, gnu::noinline]] void passert_fail(char const* text) const;
};

#endif  // VELMARD_CONTROL_PACKET_H
