#ifndef VELMARD_CORE_CYCLIC_H
#define VELMARD_CORE_CYCLIC_H

// Sequence numbers of the link procedures (modulo 128) and the intrusive
// circular list through which the tone and DSP receivers are registered.

#include <cstddef>

// Modulo counter over an unsigned type; M is the largest value and M + 1 a
// power of two, so arithmetic is a mask.
template <class T, T M>
class Cyclic {
 public:
  // The first half of a chained window test a <= b <= c.
  class LessEqPair {
   public:
    LessEqPair(Cyclic lower, Cyclic middle) : mLower(lower), mMiddle(middle) {}
    // True when the middle lies in the window from lower forward to c,
    // both ends included (the check V(A) <= N(R) <= V(S)).
    bool operator<=(Cyclic c) const {
      return ((c.mValue - mLower.mValue) & M) >= ((mMiddle.mValue - mLower.mValue) & M);
    }

   private:
    Cyclic mLower;
    Cyclic mMiddle;
  };

  Cyclic() : mValue(0) {}
  Cyclic(unsigned v) : mValue(static_cast<T>(v & M)) {}

  operator unsigned() const { return mValue; }

  Cyclic operator+(Cyclic b) const { return Cyclic((unsigned(mValue) + b.mValue) & M); }
  Cyclic operator-(Cyclic b) const { return Cyclic((unsigned(mValue) - b.mValue) & M); }

  Cyclic& operator++() {
    mValue = (mValue == M) ? T(0) : T(mValue + 1);
    return *this;
  }
  Cyclic operator++(int) {
    Cyclic old(*this);
    ++*this;
    return old;
  }
  Cyclic& operator--() {
    mValue = (mValue == 0) ? M : T(mValue - 1);
    return *this;
  }

  LessEqPair operator<=(Cyclic b) const { return LessEqPair(*this, b); }

 private:
  T mValue;
};

namespace Containers {

// A node embedded in each member object; the list head is a node too, and an
// empty list is a head pointing at itself both ways.
class CyclicList {
 public:
  template <class Ref, class Ptr>
  class TIterator {
   public:
    explicit TIterator(Ptr node = nullptr) : mNode(node) {}
    TIterator& operator++() {
      mNode = mNode->next;
      return *this;
    }
    Ref operator*() const { return *mNode; }
    Ptr operator->() const { return mNode; }
    bool operator==(TIterator const& o) const { return mNode == o.mNode; }
    bool operator!=(TIterator const& o) const { return mNode != o.mNode; }

   private:
    Ptr mNode;
  };

  typedef TIterator<CyclicList&, CyclicList*> iterator;
  typedef TIterator<CyclicList const&, CyclicList const*> const_iterator;

  CyclicList() { InternalInit(); }

  void InternalInit() { next = prev = this; }

  // Puts node between two neighbours that follow each other.
  static void InternalAdd(CyclicList* node, CyclicList* p, CyclicList* n) {
    n->prev = node;
    node->next = n;
    node->prev = p;
    p->next = node;
  }

  // Joins the two neighbours of a node, taking it out of its list.
  static void InternalDel(CyclicList* p, CyclicList* n) {
    n->prev = p;
    p->next = n;
  }

  // Called on the head.
  void AddTail(CyclicList* node) { InternalAdd(node, prev, this); }
  void AddHead(CyclicList* node) { InternalAdd(node, this, next); }

  // Called on a member node; it ends up belonging to no list.
  void Unlink() {
    InternalDel(prev, next);
    InternalInit();
  }

  bool empty() const { return next == this; }

  iterator begin() { return iterator(next); }
  iterator end() { return iterator(this); }
  const_iterator begin() const { return const_iterator(next); }
  const_iterator end() const { return const_iterator(this); }

  CyclicList* next;
  CyclicList* prev;

 private:
  CyclicList(CyclicList const&) = delete;
  CyclicList& operator=(CyclicList const&) = delete;
};

// The object that holds a node as its member.
template <class T>
T* offset(CyclicList* node, CyclicList T::*member) {
  T* probe = nullptr;
  std::size_t off =
      reinterpret_cast<char const*>(&(probe->*member)) - reinterpret_cast<char const*>(probe);
  return reinterpret_cast<T*>(reinterpret_cast<char*>(node) - off);
}

template <class T>
T const* offset(CyclicList const* node, CyclicList T::*member) {
  return offset<T>(const_cast<CyclicList*>(node), member);
}

}  // namespace Containers

#endif  // VELMARD_CORE_CYCLIC_H
