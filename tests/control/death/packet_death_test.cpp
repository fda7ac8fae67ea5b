// Broken packet invariants print their report and terminate the process.
#include <gtest/gtest.h>

#include <string>

#include "control/packet.h"
#include "control/protocol.h"

namespace {

// The report is literal text; make it a regular expression.
std::string literal(std::string const& text) {
  std::string re;
  for (char c : text) {
    if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos)
      re.push_back('\\');
    re.push_back(c);
  }
  return re;
}

std::string report(std::string const& assertion, std::string const& info) {
  return literal("PACKET ASSERTION FAILED!\n" + assertion + "\n" + info);
}

Packet filled(unsigned headroom, std::string const& bytes) {
  Packet p;
  p.reserve_head(headroom);
  p.put(bytes.data(), unsigned(bytes.size()));
  return p;
}

TEST(PacketDeath, ReserveLimits) {
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_head(65537);
      },
      report("length>packet_max_size", "(null)\n\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_head(65534);
        p.reserve_head(4);
      },
      report("new_len>packet_max_size", "head=65534, data=0, tail=2\n\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_tail(65537);
      },
      report("len>packet_max_size", "(null)\n\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_tail(10);
        p.reserve_tail(65530);
      },
      report("_tailroom()+len <= packet_max_size",
             "head=65526, data=0, tail=10\n\n"));
}

// A window that is not empty must still fit after being moved.
TEST(PacketDeath, ReserveMovesOnlyWithinTheBlock) {
  EXPECT_DEATH(
      {
        Packet p = filled(10, "ab");
        p.reserve_head(65525);
      },
      report("new_len>packet_max_size", "head=10, data=2, tail=65524\n"));
  EXPECT_DEATH(
      {
        Packet p = filled(10, "ab");
        p.reserve_tail(11);
      },
      report("_tailroom()+len <= packet_max_size",
             "head=10, data=2, tail=65524\n"));
}

TEST(PacketDeath, RoomChecks) {
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_tail(0);
        p.put16_b(1);
      },
      report("len<=_tailroom()", "head=65536, data=0, tail=0\n\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_tail(1);
        p.put16(1);
      },
      report("len<=_tailroom()", "head=65535, data=0, tail=1\n\n"));
  EXPECT_DEATH(
      {
        Packet p = filled(1, "\x01\xab");
        p.push16_b(1);
      },
      report("len<=_headroom()",
             "head=1, data=2, tail=65533\ndump:\n 1 ab\n\n"));
  EXPECT_DEATH(
      {
        Packet p = filled(0, "");
        p.extend_tail(65537);
      },
      report("len<=_tailroom()", "head=0, data=0, tail=65536\n\n"));
}

TEST(PacketDeath, NullPacket) {
  EXPECT_DEATH(
      {
        Packet p;
        p.put16_b(1);
      },
      report("null packet", "(null)\n\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.push16_b(1);
      },
      report("null packet", "(null)\n\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.pull16_b();
      },
      report("null packet", "(null)\n\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.sub(0, 0);
      },
      report("null packet", "(null)\n\n"));
}

TEST(PacketDeath, SubAndStringBounds) {
  EXPECT_DEATH(filled(0, "abcd").sub(2, 5),
               report("start<=_length()", "head=0, data=4, tail=65532\n"));
  EXPECT_DEATH(filled(0, "abcd").sub(3, 2),
               report("start+len<=_length()", "head=0, data=4, tail=65532\n"));
  EXPECT_DEATH(filled(0, "abcd").sub(0xFFFFFFFFu, 2),
               report("start+len<=_length()", "head=0, data=4, tail=65532\n"));
  EXPECT_DEATH(
      {
        Packet p = filled(0, "");
        p.put(std::string(256, 'x'));
      },
      report("string length>255", "head=0, data=0, tail=65536\n"));
  EXPECT_DEATH(
      {
        Packet p = filled(0, "");
        Packet none;
        p.put(none);
      },
      report("index out of range", "head=0, data=0, tail=65536\n"));
}

TEST(PacketDeath, CheckFailures) {
  auto corrupt = [](int which) {
    Packet p = filled(4, "ab");
    _Packet* r = p.get();
    if (which == 0) r->data = r->buffer - 1;
    if (which == 1) r->tail = r->buffer + packet_max_size + 1;
    if (which == 2) r->data = r->tail + 1;
    p.check("put");
  };
  EXPECT_DEATH(corrupt(0), literal("packet check fail\nafter \"put\" fdata "
                                   "invalid\nterminate.\n"));
  EXPECT_DEATH(corrupt(1), literal("packet check fail\nafter \"put\" ftail "
                                   "invalid\nterminate.\n"));
  EXPECT_DEATH(corrupt(2), literal("packet check fail\nafter \"put\" "
                                   "fdata>ftail\nterminate.\n"));
  EXPECT_DEATH(
      {
        Packet p;
        p.check("push");
      },
      literal("packet check fail\nafter \"push\" packet is null\n"));
  EXPECT_DEATH(
      {
        Packet p = filled(0, "ab");
        p.get()->tail = p.get()->data - 1;
        p.passert(false, "x");
      },
      literal("PACKET ASSERTION FAILED!\nx\nhead=0, data=-1") + ".*" +
          literal("can't dump packet: wrong pointers\n\n"));
}

TEST(PacketDeath, SmartPointerAssertions) {
  EXPECT_DEATH(
      {
        Packet p;
        p->count = 1;
      },
      literal("SMART POINTER ASSERTION!\n"));
  EXPECT_DEATH(
      {
        Protocol layer;
        layer.on_deactivate(Protocol_status());
      },
      literal("SMART POINTER ASSERTION!\n"));
}

}  // namespace
