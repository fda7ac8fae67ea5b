#include "core/cyclic.h"

#include <gtest/gtest.h>

#include <string>

namespace {

typedef Cyclic<unsigned char, 127> Seq;

TEST(Cyclic, ModuloArithmetic) {
  EXPECT_EQ(0u, unsigned(Seq(127) + Seq(1)));
  EXPECT_EQ(127u, unsigned(Seq(0) - Seq(1)));
  EXPECT_EQ(5u, unsigned(Seq(120) + Seq(13)));
  EXPECT_EQ(3u, unsigned(Seq(131)));
  Seq s(127);
  EXPECT_EQ(0u, unsigned(++s));
  Seq t(127);
  EXPECT_EQ(127u, unsigned(t++));
  EXPECT_EQ(0u, unsigned(t));
  EXPECT_EQ(127u, unsigned(--t));
  EXPECT_EQ(0u, unsigned(Seq()));
}

TEST(Cyclic, WindowTable) {
  struct {
    unsigned a, b, c;
    bool inside;
  } const cases[] = {
      {120, 126, 5, true}, {120, 3, 5, true},   {120, 6, 5, false}, {120, 119, 5, false},
      {120, 120, 5, true}, {120, 5, 5, true},   {7, 7, 7, true},    {7, 8, 7, false},
      {7, 6, 7, false},    {0, 127, 127, true}, {1, 0, 127, false}, {0, 64, 10, false},
  };
  for (auto const& c : cases)
    EXPECT_EQ(c.inside, Seq(c.a) <= Seq(c.b) <= Seq(c.c)) << c.a << " <= " << c.b << " <= " << c.c;
}

struct Receiver {
  explicit Receiver(char n) : name(n) {}
  virtual ~Receiver() {}
  char name;
  Containers::CyclicList link;
};

std::string Walk(Containers::CyclicList& head) {
  std::string s;
  for (Containers::CyclicList::iterator it = head.begin(); it != head.end(); ++it)
    s += Containers::offset<Receiver>(&*it, &Receiver::link)->name;
  return s;
}

TEST(CyclicList, TailInsertWalkAndUnlink) {
  Containers::CyclicList head;
  EXPECT_EQ("", Walk(head));
  Receiver a('a'), b('b'), c('c');
  head.AddTail(&a.link);
  head.AddTail(&b.link);
  head.AddTail(&c.link);
  EXPECT_EQ("abc", Walk(head));
  EXPECT_EQ(&c.link, head.prev);

  b.link.Unlink();
  EXPECT_EQ("ac", Walk(head));
  EXPECT_EQ(&b.link, b.link.next);
  Containers::CyclicList::InternalDel(a.link.prev, a.link.next);
  EXPECT_EQ("c", Walk(head));
  c.link.Unlink();
  EXPECT_TRUE(head.empty());

  head.AddHead(&a.link);
  head.AddHead(&b.link);
  EXPECT_EQ("ba", Walk(head));
}

}  // namespace
