// Intrusive doubly linked lists: the element carries its own links, so
// linking and unlinking never allocate. The loop keeps its handlers and
// timers in them, the packet pool its free blocks.
#ifndef VELMARD_CORE_DUAL_LIST_H
#define VELMARD_CORE_DUAL_LIST_H

#include <cstddef>
#include <iterator>

template <class T>
struct F_dual_list_item {
  T* next = nullptr;
  T* prev = nullptr;
};

template <class T>
class F_dual_list {
 public:
  typedef F_dual_list_item<T> Item;

  class iterator {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef T value_type;
    typedef std::ptrdiff_t difference_type;
    typedef T* pointer;
    typedef T& reference;

    explicit iterator(T* p = nullptr) : p_(p) {}
    T& operator*() const { return *p_; }
    T* operator->() const { return p_; }
    iterator& operator++() {
      p_ = link(p_)->next;
      return *this;
    }
    iterator operator++(int) {
      iterator old(*this);
      ++*this;
      return old;
    }
    bool operator==(const iterator& o) const { return p_ == o.p_; }
    bool operator!=(const iterator& o) const { return p_ != o.p_; }

   private:
    T* p_;
  };

  constexpr F_dual_list() noexcept {}

  T* head = nullptr;
  T* tail = nullptr;

  // The links of an element, seen through the item base of this list
  // (an element may sit in lists of several kinds).
  static Item* link(T* x) { return static_cast<Item*>(x); }

  void push_back(T* x) { insert_to_tail(x); }

  void insert_to_tail(T* x) {
    link(x)->next = nullptr;
    link(x)->prev = tail;
    if (tail)
      link(tail)->next = x;
    else
      head = x;
    tail = x;
    ++n_;
  }

  void insert_to_head(T* x) {
    link(x)->prev = nullptr;
    link(x)->next = head;
    if (head)
      link(head)->prev = x;
    else
      tail = x;
    head = x;
    ++n_;
  }

  // x goes right after pos; a null pos puts it at the head.
  void insert_after(T* pos, T* x) {
    if (!pos) {
      insert_to_head(x);
      return;
    }
    T* after = link(pos)->next;
    link(x)->prev = pos;
    link(x)->next = after;
    link(pos)->next = x;
    if (after)
      link(after)->prev = x;
    else
      tail = x;
    ++n_;
  }

  // x must be a member: membership is not checked, and x keeps its
  // stale links afterwards.
  void remove(T* x) {
    T* p = link(x)->prev;
    T* nx = link(x)->next;
    if (p)
      link(p)->next = nx;
    else
      head = nx;
    if (nx)
      link(nx)->prev = p;
    else
      tail = p;
    --n_;
  }

  T* remove_from_head() {
    T* x = head;
    if (x) remove(x);
    return x;
  }

  // Linear search, for the few places that must know.
  bool contains(const T* x) const {
    for (T* p = head; p; p = link(p)->next)
      if (p == x) return true;
    return false;
  }

  unsigned size() const { return n_; }
  bool empty() const { return n_ == 0; }
  T* front() const { return head; }
  T* back() const { return tail; }

  iterator begin() const { return iterator(head); }
  iterator end() const { return iterator(); }

  // Exchanges the whole contents of the two lists.
  void merge(F_dual_list& other) {
    T* h = head;
    T* t = tail;
    unsigned c = n_;
    head = other.head;
    tail = other.tail;
    n_ = other.n_;
    other.head = h;
    other.tail = t;
    other.n_ = c;
  }

  // The n consecutive elements of an array, in array order, become the
  // whole content of the list.
  void init(T* array, unsigned n) {
    head = tail = nullptr;
    n_ = 0;
    for (unsigned i = 0; i < n; ++i) insert_to_tail(&array[i]);
  }

 protected:
  unsigned n_ = 0;
};

// Kept in ascending order of T::compare(const T*) (negative when this
// sorts first). Inserting walks from the tail, since new elements mostly
// sort last; equal elements keep their insertion order.
template <class T>
class F_sorted_list : public F_dual_list<T> {
 public:
  constexpr F_sorted_list() noexcept {}

  void insert_to_tail_by_grown(T* x) {
    T* e = this->tail;
    while (e && e->compare(x) > 0) e = F_dual_list<T>::link(e)->prev;
    this->insert_after(e, x);
  }

  unsigned count() const { return this->n_; }
};

#endif  // VELMARD_CORE_DUAL_LIST_H
