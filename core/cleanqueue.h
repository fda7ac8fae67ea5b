#ifndef VELMARD_CORE_CLEANQUEUE_H
#define VELMARD_CORE_CLEANQUEUE_H

// Fixed-capacity ring of elements (packets in practice) that lets go of each
// element as soon as it leaves the queue, so that a queue never keeps pool
// blocks alive for elements it no longer holds.

#include <utility>

template <class T, unsigned N>
class CleanQueue {
 public:
  CleanQueue() : mHead(0), mTail(0), mCount(0) {}
  ~CleanQueue() {
    for (unsigned i = N; i-- > 0;) mSlots[i] = T();
  }

  bool put(T const& e) {
    if (mCount == N) return false;
    mSlots[mTail] = e;
    mTail = inc_index(mTail);
    ++mCount;
    return true;
  }

  // A push at the front: the element is the next one taken.
  bool append(T const& e) {
    if (mCount == N) return false;
    mHead = dec_index(mHead);
    mSlots[mHead] = e;
    ++mCount;
    return true;
  }

  bool get(T* out) {
    if (mCount == 0) return false;
    *out = std::move(mSlots[mHead]);
    mSlots[mHead] = T();
    mHead = inc_index(mHead);
    --mCount;
    return true;
  }

  bool get(T& out) { return get(&out); }

  // Takes the element put most recently.
  bool get_last(T* out) {
    if (mCount == 0) return false;
    mTail = dec_index(mTail);
    *out = std::move(mSlots[mTail]);
    mSlots[mTail] = T();
    --mCount;
    return true;
  }

  // A copy of the next element; the queue keeps it. A null pointer only
  // asks whether there is one.
  bool preview(T* out) const {
    if (mCount == 0) return false;
    if (out) *out = mSlots[mHead];
    return true;
  }

  unsigned count() const { return mCount; }
  unsigned size() const { return N; }
  bool empty() const { return mCount == 0; }

  void clear() {
    for (unsigned i = 0; i < N; ++i) mSlots[i] = T();
    mHead = mTail = mCount = 0;
  }

  static unsigned inc_index(unsigned i) { return i + 1 == N ? 0 : i + 1; }
  static unsigned dec_index(unsigned i) { return i == 0 ? N - 1 : i - 1; }

 private:
  CleanQueue(CleanQueue const&) = delete;
  CleanQueue& operator=(CleanQueue const&) = delete;

  T mSlots[N];
  unsigned mHead;
  unsigned mTail;
  unsigned mCount;
};

#endif  // VELMARD_CORE_CLEANQUEUE_H
