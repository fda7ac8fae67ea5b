// Broken packet invariants print their report and terminate the process.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>

#include "control/packet.h"
#include "control/protocol.h"

namespace {

// The report is literal text; make it a regular expression.
std::string literal(std::string const& text) {
  std::string re;
  for (char c : text) {
    if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos) re.push_back('\\');
    re.push_back(c);
  }
  return re;
}

std::string report(std::string const& assertion, std::string const& info) {
  return literal("PACKET ASSERTION FAILED!\n" + assertion + "\n" + info);
}

std::string check_report(std::string const& text) {
  return literal("packet check fail\n" + text + "\nterminate.\n");
}

Packet filled(unsigned headroom, std::string const& bytes) {
  Packet p;
  p.reserve_head(headroom);
  p.put(bytes.data(), unsigned(bytes.size()));
  return p;
}

Packet reserved_head(unsigned n) {
  Packet p;
  p.reserve_head(n);
  return p;
}

Packet reserved_tail(unsigned n) {
  Packet p;
  p.reserve_tail(n);
  return p;
}

// A packet of two bytes with one of its pointers pushed outside the block.
void corrupt_and_check(int which) {
  Packet p = filled(4, "ab");
  _Packet* r = p.get();
  if (which == 0) r->data = r->buffer - 1;
  if (which == 1) r->tail = r->buffer + packet_max_size + 1;
  if (which == 2) r->data = r->tail + 1;
  p.check("put");
}

struct Row {
  char const* name;
  std::function<void()> misuse;
  std::string report;
};

void expect_reports(Row const* rows, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_DEATH(rows[i].misuse(), rows[i].report);
  }
}

TEST(PacketDeath, ReserveLimits) {
  Row const rows[] = {
      {"head beyond a block", [] { Packet().reserve_head(65537); },
       report("length>packet_max_size", "(null)\n\n")},
      {"head after head", [] { reserved_head(65534).reserve_head(4); },
       report("new_len>packet_max_size", "head=65534, data=0, tail=2\n\n")},
      {"tail beyond a block", [] { Packet().reserve_tail(65537); },
       report("len>packet_max_size", "(null)\n\n")},
      {"tail after tail", [] { reserved_tail(10).reserve_tail(65530); },
       report("_tailroom()+len <= packet_max_size", "head=65526, data=0, tail=10\n\n")},
      // A window that is not empty must still fit after being moved.
      {"head moving a window out", [] { filled(10, "ab").reserve_head(65525); },
       report("new_len>packet_max_size", "head=10, data=2, tail=65524\n")},
      {"tail moving a window out", [] { filled(10, "ab").reserve_tail(11); },
       report("_tailroom()+len <= packet_max_size", "head=10, data=2, tail=65524\n")},
  };
  expect_reports(rows, std::size(rows));
}

TEST(PacketDeath, RoomChecks) {
  Row const rows[] = {
      // Byte by byte: the first byte is in when the second finds no room.
      {"put16 with one byte of tailroom", [] { reserved_tail(1).put16(0x0102); },
       report("len<=_tailroom()", "head=65535, data=1, tail=0\ndump:\n 2\n\n")},
      {"put16_b with one byte of tailroom", [] { reserved_tail(1).put16_b(0x0102); },
       report("len<=_tailroom()", "head=65535, data=1, tail=0\ndump:\n 1\n\n")},
      {"push16_b with one byte of headroom", [] { filled(1, "\x01\xab").push16_b(0x0304); },
       report("len<=_headroom()", "head=0, data=3, tail=65533\ndump:\n 4 1 ab\n\n")},
      {"string without room for its last character",
       [] { reserved_tail(3).put(std::string("abc")); },
       report("len<=_tailroom()", "head=65533, data=3, tail=0\ndump:\n 3 61 62\n\n")},
      {"extend beyond the block", [] { filled(0, "").extend_tail(65537); },
       report("len<=_tailroom()", "head=0, data=0, tail=65536\n\n")},
      {"put beyond the block",
       [] {
         std::string block(65536, 'x');
         filled(1, "").put(block.data(), 65536);
       },
       report("len<=_tailroom()", "head=1, data=0, tail=65535\n\n")},
  };
  expect_reports(rows, std::size(rows));
}

TEST(PacketDeath, NullPacket) {
  Row const rows[] = {
      {"put16_b", [] { Packet().put16_b(1); }, ""},   {"put16", [] { Packet().put16(1); }, ""},
      {"push16_b", [] { Packet().push16_b(1); }, ""}, {"pull16_b", [] { Packet().pull16_b(); }, ""},
      {"pull16_l", [] { Packet().pull16_l(); }, ""},  {"sub", [] { Packet().sub(0, 0); }, ""},
  };
  for (Row const& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_DEATH(r.misuse(), report("null packet", "(null)\n\n"));
  }
}

TEST(PacketDeath, SubAndStringBounds) {
  Row const rows[] = {
      {"start past the window", [] { filled(0, "abcd").sub(2, 5); },
       report("start<=_length()", "head=0, data=4, tail=65532\n")},
      {"end past the window", [] { filled(0, "abcd").sub(3, 2); },
       report("start+len<=_length()", "head=0, data=4, tail=65532\n")},
      {"length that wraps", [] { filled(0, "abcd").sub(0xFFFFFFFFu, 2); },
       report("start+len<=_length()", "head=0, data=4, tail=65532\n")},
      {"string longer than its length byte", [] { filled(0, "").put(std::string(256, 'x')); },
       report("string length>255", "head=0, data=0, tail=65536\n")},
      {"append of a null packet", [] { filled(0, "").put(Packet()); },
       report("index out of range", "head=0, data=0, tail=65536\n")},
  };
  expect_reports(rows, std::size(rows));
}

TEST(PacketDeath, CheckFailures) {
  Row const rows[] = {
      {"data before the block", [] { corrupt_and_check(0); },
       check_report("after \"put\" fdata invalid")},
      {"tail after the block", [] { corrupt_and_check(1); },
       check_report("after \"put\" ftail invalid")},
      {"data after tail", [] { corrupt_and_check(2); }, check_report("after \"put\" fdata>ftail")},
      {"null", [] { Packet().check("push"); }, check_report("after \"push\" packet is null")},
      {"report of broken pointers",
       [] {
         Packet p = filled(0, "ab");
         p.get()->tail = p.get()->data - 1;
         p.passert(false, "x");
       },
       literal("PACKET ASSERTION FAILED!\nx\nhead=0, data=-1") + ".*" +
           literal("can't dump packet: wrong pointers\n\n")},
  };
  expect_reports(rows, std::size(rows));
}

// A layer that answers its initialisation with no status at all.
struct NoStatus : Protocol {
  Protocol_status local_initialize() override { return Protocol_status(); }
};

TEST(PacketDeath, SmartPointerAssertions) {
  Row const rows[] = {
      {"null packet handle", [] { Packet()->count = 1; }, ""},
      {"null status", [] { Protocol().on_deactivate(Protocol_status()); }, ""},
      {"null status from the layer below",
       [] {
         ProtocolsList stack;
         stack.add_protocol_tail(new NoStatus);
         stack.add_protocol_tail(new Protocol)->initialize();
       },
       ""},
  };
  for (Row const& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_DEATH(r.misuse(), literal("SMART POINTER ASSERTION!\n"));
  }
}

}  // namespace
