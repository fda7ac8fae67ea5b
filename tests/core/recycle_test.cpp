#include "core/recycle.h"

#include <malloc.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Recycle, BlocksComeBackBySizeClassWithinTheirBound) {
  if (!Recycle::enabled) GTEST_SKIP() << "every block goes to the heap in this build";
  struct Case {
    std::size_t given, asked;
    bool same;
  } const cases[] = {
      {24, 24, true},   // the block just given back
      {24, 17, true},   // any size of the same class
      {24, 33, false},  // another class
  };
  for (auto const& c : cases) {
    void* p = Recycle::take(c.given);
    Recycle::give(p, c.given);
    void* q = Recycle::take(c.asked);
    EXPECT_EQ(c.same, p == q) << c.given << " then " << c.asked;
    Recycle::give(q, c.asked);
  }

  // Only `keep` blocks per class stay; the others go back to the heap.
  std::vector<void*> blocks;
  for (unsigned i = 0; i < Recycle::keep + 8; ++i) blocks.push_back(Recycle::take(40));
  unsigned before = Recycle::kept(40);
  for (void* b : blocks) Recycle::give(b, 40);
  EXPECT_EQ(Recycle::keep, Recycle::kept(40));
  EXPECT_LE(before, Recycle::keep);
  EXPECT_EQ(0u, Recycle::kept(Recycle::largest + 1));

  // A block from the heap has its class's full size, for any size asked.
  void* h = Recycle::detail::take_from_heap(17);
  EXPECT_GE(malloc_usable_size(h), 32u);
  EXPECT_LT(malloc_usable_size(h), 48u);
  ::operator delete(h);
}

}  // namespace
