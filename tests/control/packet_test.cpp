#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <vector>

#include "control/packet.h"
#include "test_support.h"

namespace {

class PacketTest : public PoolTest {};

Packet make(std::vector<u8> const& bytes, unsigned headroom = 0) {
  Packet p;
  p.reserve_head(headroom);
  p.put(bytes.data(), unsigned(bytes.size()));
  return p;
}

TEST_F(PacketTest, HandleIsOneWordAndEmptyUntilReserved) {
  EXPECT_EQ(sizeof(Packet), sizeof(void*));
  Packet p;
  EXPECT_TRUE(p.is_null());
  EXPECT_EQ(p.length(), 0u);
  EXPECT_EQ(p.headroom(), 0u);
  EXPECT_EQ(p.tailroom(), 0u);
  EXPECT_EQ(p.data(), nullptr);
  EXPECT_EQ(p.text(), "(null)");
  std::ostringstream info;
  PacketInfo(p).put(info);
  EXPECT_EQ(info.str(), "(null)\n");
  std::ostringstream out;
  EXPECT_FALSE(p.dump(out));
  EXPECT_FALSE(p.dump_context(out));
  EXPECT_EQ(out.str(), "");
}

TEST_F(PacketTest, ReserveEdges) {
  struct Row {
    bool head;
    unsigned n;
    unsigned headroom, tailroom;
  } rows[] = {
      {true, 0, 0, 65536},
      {true, 65536, 65536, 0},
      {false, 10, 65526, 10},
      {false, 65536, 0, 65536},
  };
  for (auto const& r : rows) {
    Packet p;
    if (r.head)
      p.reserve_head(r.n);
    else
      p.reserve_tail(r.n);
    SCOPED_TRACE(testing::Message() << (r.head ? "head " : "tail ") << r.n);
    EXPECT_EQ(p.headroom(), r.headroom);
    EXPECT_EQ(p.tailroom(), r.tailroom);
    EXPECT_EQ(p.length(), 0u);
    EXPECT_EQ(Packet_pool::available(), 1023u);
  }
}

TEST_F(PacketTest, HeaderBuildingAddsHeadroomLayerByLayer) {
  Packet p;
  p.reserve_head(0);
  p.reserve_head(4);
  p.reserve_head(2);
  EXPECT_EQ(p.headroom(), 6u);
  EXPECT_EQ(p.tailroom(), 65530u);
  p.put16_b(0xAABB);
  p.push16_b(0x0304);
  EXPECT_EQ(p.text(), "03 04 AA BB");
  EXPECT_EQ(p.headroom(), 4u);
  // Moving the tail back keeps the window length.
  p.reserve_tail(4);
  EXPECT_EQ(p.headroom(), 0u);
  EXPECT_EQ(p.length(), 4u);
}

TEST_F(PacketTest, SixteenBitOperationsInBothByteOrders) {
  Packet p;
  p.reserve_head(2);
  p.push16_b(0x0304);
  p.put16_b(0x1234);
  p.put16(0x0304);
  EXPECT_EQ(p.text(), "03 04 12 34 04 03");
  EXPECT_EQ(p.headroom(), 0u);
}

// Removing reads a missing byte as 0 and never consumes more than the
// window holds.
TEST_F(PacketTest, PullTable) {
  typedef unsigned short (Packet::*Pull)();
  struct Row {
    char const* name;
    std::vector<u8> window;
    Pull pull;
    unsigned value;
    char const* left;
  } const rows[] = {
      {"big-endian", {0x12, 0x34, 0x56}, &Packet::pull16_b, 0x1234, "56"},
      {"little-endian", {0x12, 0x34, 0x56}, &Packet::pull16_l, 0x3412, "56"},
      {"big-endian of one byte", {0x12}, &Packet::pull16_b, 0x1200, ""},
      {"little-endian of one byte", {0x12}, &Packet::pull16_l, 0x0012, ""},
      {"big-endian of none", {}, &Packet::pull16_b, 0, ""},
      {"little-endian of none", {}, &Packet::pull16_l, 0, ""},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.name);
    Packet p = make(r.window);
    EXPECT_EQ((p.*r.pull)(), r.value);
    EXPECT_EQ(p.text(), r.left);
  }

  Packet c = make({0x42});
  EXPECT_EQ(c.pull8(), 0x42);
  EXPECT_EQ(c.pull8(), 0);
  Packet d = make({0x01, 0x02, 0x03});
  u8 out[8] = {};
  EXPECT_EQ(d.pull(out, 8), 3u);
  EXPECT_EQ(out[2], 0x03);
  EXPECT_EQ(d.pull(nullptr, 1), 0u);
}

TEST_F(PacketTest, CopyOnWriteKeepsOtherHoldersView) {
  Packet a = make({0x01, 0x02});
  Packet b = a;
  EXPECT_EQ(a.ref_count(), 2u);
  EXPECT_EQ(Packet_pool::available(), 1023u);

  b.put16_b(0x0304);
  EXPECT_EQ(Packet_pool::available(), 1022u);
  EXPECT_EQ(a.text(), "01 02");
  EXPECT_EQ(b.text(), "01 02 03 04");
  EXPECT_EQ(a.ref_count(), 1u);
  EXPECT_EQ(b.ref_count(), 1u);
  EXPECT_NE(a.data(), b.data());
  // Same offsets in the copy.
  EXPECT_EQ(a.headroom(), b.headroom());

  Packet c = a;
  EXPECT_EQ(c.pull8(), 0x01);
  EXPECT_EQ(a.text(), "01 02");
  EXPECT_EQ(c.text(), "02");

  // Reads never copy, nor does removing from an empty window.
  Packet d = b;
  EXPECT_EQ(d.length(), 4u);
  EXPECT_EQ(d.text(), "01 02 03 04");
  EXPECT_EQ(b.ref_count(), 2u);
  Packet e = make({});
  Packet f = e;
  EXPECT_EQ(f.pull16_b(), 0);
  EXPECT_EQ(e.ref_count(), 2u);
  EXPECT_EQ(Packet_pool::available(), 1020u);
}

TEST_F(PacketTest, ReassignmentAndResetReturnBlocks) {
  Packet a = make({1});
  Packet b = make({2});
  a = b;
  EXPECT_EQ(Packet_pool::available(), 1023u);
  EXPECT_EQ(a.text(), "02");
  a = a;
  EXPECT_EQ(a.ref_count(), 2u);
  a = nullptr;
  b = nullptr;
  EXPECT_EQ(Packet_pool::available(), 1024u);
}

TEST_F(PacketTest, TextAndDumps) {
  Packet p = make({0x01, 0xAB}, 3);
  EXPECT_EQ(p.text(), "01 AB");
  std::ostringstream d;
  EXPECT_TRUE(p.dump(d));
  EXPECT_EQ(d.str(), "head=3, data=2, tail=65531");
  std::ostringstream c;
  EXPECT_TRUE(p.dump_context(c));
  EXPECT_EQ(c.str(), "dump: 1 ab");
  std::ostringstream info;
  PacketInfo(p).put(info);
  EXPECT_EQ(info.str(), "head=3, data=2, tail=65531\ndump:\n 1 ab\n");

  Packet e;
  e.reserve_head(0);
  EXPECT_EQ(e.text(), "");
  std::ostringstream ec;
  EXPECT_TRUE(e.dump_context(ec));
  EXPECT_EQ(ec.str(), "");

  // Broken pointers are reported, never followed.
  Packet bad = make({1, 2});
  _Packet* r = bad.get();
  u8* data = r->data;
  r->data = r->tail + 1;
  EXPECT_EQ(bad.text(), "(bad)");
  std::ostringstream bc;
  EXPECT_FALSE(bad.dump_context(bc));
  PacketInfo(bad).put(bc);
  EXPECT_EQ(bc.str(), "head=3, data=-1, tail=65534\ncan't dump packet: wrong pointers\n");
  r->data = data;
}

TEST_F(PacketTest, SubCopiesIntoItsOwnBlock) {
  Packet p = make({0x10, 0x20, 0x30, 0x40}, 2);
  Packet s = p.sub(2, 1);
  EXPECT_EQ(s.text(), "20 30");
  EXPECT_EQ(s.ref_count(), 1u);
  EXPECT_EQ(Packet_pool::available(), 1022u);
  EXPECT_EQ(p.sub(0, 4).text(), "");
  EXPECT_EQ(p.sub(4, 0).text(), "10 20 30 40");
}

TEST_F(PacketTest, StringsAndPacketAppend) {
  Packet p;
  p.reserve_head(0);
  p.put(std::string("abc"));
  p.put(std::string());
  EXPECT_EQ(p.text(), "03 61 62 63 00");
  EXPECT_EQ(p.pull_string(), "abc");
  EXPECT_EQ(p.pull_string(), "");
  EXPECT_EQ(p.length(), 0u);

  Packet s = make({0x02, 0x41});  // says two bytes, holds one
  EXPECT_EQ(s.pull_string(), std::string("A\0", 2));

  Packet a = make({1, 2});
  Packet b = make({3});
  a.put(b);
  EXPECT_EQ(a.text(), "01 02 03");
  a.put(a);
  EXPECT_EQ(a.text(), "01 02 03 01 02 03");
}

TEST_F(PacketTest, TailExtension) {
  Packet p;
  p.reserve_head(0);
  u8* at = p.tail_space();
  at[0] = 0xDE;
  at[1] = 0xAD;
  p.extend_tail(2);
  EXPECT_EQ(p.text(), "DE AD");
  p.extend_tail(p.tailroom());
  EXPECT_EQ(p.length(), unsigned(packet_max_size));
  EXPECT_EQ(p.tailroom(), 0u);
}

TEST_F(PacketTest, PoolExhaustionThrowsAndReusesFirstFreed) {
  std::vector<Packet> held(Packet_pool::capacity());
  for (auto& p : held) p.reserve_head(0);
  EXPECT_EQ(Packet_pool::available(), 0u);

  Packet extra;
  EXPECT_THROW(extra.reserve_head(0), std::bad_alloc);
  EXPECT_THROW(extra.reserve_tail(0), std::bad_alloc);
  EXPECT_TRUE(extra.is_null());

  // Copy-on-write needs a block too.
  Packet shared = held[0];
  EXPECT_THROW(shared.put8(1), std::bad_alloc);
  shared = nullptr;

  u8 const* first = held[5].data();
  u8 const* second = held[9].data();
  held[5] = nullptr;
  held[9] = nullptr;
  Packet x, y;
  x.reserve_head(0);
  y.reserve_head(0);
  EXPECT_EQ(x.data(), first);
  EXPECT_EQ(y.data(), second);
}

TEST_F(PacketTest, FreedBlocksAreReusedFirstInFirstOut) {
  Packet a, b, c;
  a.reserve_head(0);
  b.reserve_head(0);
  u8 const* pa = a.data();
  u8 const* pb = b.data();
  b = nullptr;
  a = nullptr;
  // b went back before a; both after the never-used blocks.
  std::vector<Packet> rest(Packet_pool::available());
  for (auto& p : rest) p.reserve_head(0);
  EXPECT_EQ(rest[rest.size() - 2].data(), pb);
  EXPECT_EQ(rest.back().data(), pa);
}

TEST(SmartPointer, CountsAndDeletesOrdinaryObjects) {
  struct Obj {
    u32 count = 0;
    bool* gone;
    explicit Obj(bool* g) : gone(g) {}
    ~Obj() { *gone = true; }
  };
  bool gone = false;
  {
    Smart_pointer<Obj> a(new Obj(&gone));
    Smart_pointer<Obj> b = a;
    EXPECT_EQ(a.ref_count(), 2u);
    b = Smart_pointer<Obj>();
    EXPECT_EQ(a.ref_count(), 1u);
    EXPECT_FALSE(gone);
  }
  EXPECT_TRUE(gone);
}

}  // namespace
