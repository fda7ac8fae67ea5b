#include "core/cleanqueue.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A handle that counts the live copies of the values it names, as a packet
// handle pins its pool block.
class Counted {
 public:
  static int live;

  Counted() {}
  explicit Counted(char v) : mValue(v) { ++live; }
  Counted(Counted const& o) : mValue(o.mValue) {
    if (mValue) ++live;
  }
  Counted& operator=(Counted const& o) {
    if (this != &o) {
      release();
      mValue = o.mValue;
      if (mValue) ++live;
    }
    return *this;
  }
  ~Counted() { release(); }

  char value() const { return mValue; }

 private:
  void release() {
    if (mValue) --live;
    mValue = 0;
  }
  char mValue = 0;
};

int Counted::live = 0;

class CleanQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { Counted::live = 0; }
  void TearDown() override { EXPECT_EQ(0, Counted::live); }
};

std::string Drain(CleanQueue<Counted, 7>& q) {
  std::string s;
  Counted c;
  while (q.get(&c)) s += c.value();
  return s;
}

TEST_F(CleanQueueTest, CapacitySeven) {
  CleanQueue<Counted, 7> q;
  EXPECT_EQ(7u, q.size());
  EXPECT_TRUE(q.empty());
  for (char c = 'a'; c < 'h'; ++c) EXPECT_TRUE(q.put(Counted(c)));
  EXPECT_FALSE(q.put(Counted('x')));
  EXPECT_FALSE(q.append(Counted('y')));
  EXPECT_EQ(7u, q.count());
  EXPECT_EQ(7, Counted::live);
  EXPECT_EQ("abcdefg", Drain(q));
  EXPECT_EQ(0, Counted::live);
}

TEST_F(CleanQueueTest, AppendGetLastPreview) {
  CleanQueue<Counted, 7> q;
  q.put(Counted('a'));
  q.put(Counted('b'));
  q.append(Counted('c'));
  EXPECT_EQ("cab", Drain(q));

  q.put(Counted('a'));
  q.put(Counted('b'));
  Counted c('z');
  EXPECT_TRUE(q.get_last(&c));
  EXPECT_EQ('b', c.value());
  EXPECT_TRUE(q.preview(nullptr));
  EXPECT_TRUE(q.preview(&c));
  EXPECT_EQ('a', c.value());
  EXPECT_EQ(1u, q.count());
  EXPECT_EQ(2, Counted::live);
  EXPECT_TRUE(q.get(c));
  EXPECT_EQ('a', c.value());
  EXPECT_EQ(1, Counted::live);
  EXPECT_FALSE(q.get(&c));
  EXPECT_FALSE(q.get_last(&c));
  EXPECT_FALSE(q.preview(&c));
  EXPECT_FALSE(q.preview(nullptr));
  EXPECT_EQ('a', c.value());
}

TEST_F(CleanQueueTest, WrapAroundKeepsOrder) {
  CleanQueue<Counted, 7> q;
  std::string expected, got;
  char next = 'a';
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(q.put(Counted(next)));
      expected += next++;
    }
    Counted c;
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(q.get(&c));
      got += c.value();
    }
  }
  EXPECT_EQ(expected, got);
  // append across index 0 wraps backwards.
  q.append(Counted('1'));
  q.append(Counted('2'));
  q.put(Counted('3'));
  EXPECT_EQ("213", Drain(q));
}

// A cleared queue holds nothing any more: nothing stays pinned and the next
// put starts at slot 0.
TEST_F(CleanQueueTest, ClearReleasesElements) {
  CleanQueue<Counted, 135> q;
  for (int i = 0; i < 100; ++i) q.put(Counted('p'));
  Counted c;
  q.get(&c);
  q.get(&c);
  EXPECT_EQ(99, Counted::live);
  q.clear();
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(1, Counted::live);
  q.put(Counted('n'));
  q.append(Counted('m'));
  Counted last;
  EXPECT_TRUE(q.get_last(&last));
  EXPECT_EQ('n', last.value());
  EXPECT_TRUE(q.get(&last));
  EXPECT_EQ('m', last.value());
}

TEST_F(CleanQueueTest, DestructorReleases) {
  {
    CleanQueue<Counted, 327> q;
    for (int i = 0; i < 327; ++i) ASSERT_TRUE(q.put(Counted('x')));
    EXPECT_FALSE(q.put(Counted('x')));
    EXPECT_EQ(327, Counted::live);
  }
  EXPECT_EQ(0, Counted::live);
}

}  // namespace
