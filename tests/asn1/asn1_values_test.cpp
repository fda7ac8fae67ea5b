// The value model: presence bits, ownership, copies, comparison and the
// content octets and texts shared by the coders.

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1_test_util.h"
#include "testmod/TESTMOD.h"

namespace {

using asn1test::hex;
using asn1test::unhex;
using namespace TESTMOD;

TEST(Sequence, OptionalFieldsByOptionalNumber) {
  TESTMOD::Message m;
  EXPECT_EQ(nullptr, m.getField(TESTMOD::Message::f_seq));
  EXPECT_EQ(nullptr, m.getField(TESTMOD::Message::f_slot));
  EXPECT_NE(nullptr, m.getField(TESTMOD::Message::f_pdu));
  EXPECT_FALSE(m.hasOptionalField(0));
  m.includeOptionalField(0, 0);
  EXPECT_TRUE(m.hasOptionalField(0));
  m.set_seq(77);
  m.removeOptionalField(0);
  EXPECT_FALSE(m.hasOptionalField(0));
  // The component stays and comes back with its old content.
  m.includeOptionalField(0, 0);
  EXPECT_EQ(77, m.get_seq().getValue());
  // Setters never touch the bit.
  m.set_slot(3);
  EXPECT_FALSE(m.hasOptionalField(TESTMOD::Message::o_slot));
  // Past both maps: absent; including an extension id grows the map.
  EXPECT_FALSE(m.hasOptionalField(40));
  Growing g;
  EXPECT_EQ(0u, g.extensionMap().size());
  g.includeOptionalField(5, 99);
  EXPECT_EQ(5u, g.extensionMap().size());
  EXPECT_TRUE(g.hasOptionalField(5));
  EXPECT_FALSE(g.hasOptionalField(4));
}

TEST(Sequence, CopiesAreDeepAndCompareEqual) {
  TESTMOD::Message a;
  a.includeOptionalField(TESTMOD::Message::o_seq, TESTMOD::Message::f_seq);
  a.set_seq(5);
  a.get_pdu().select_pair().set_first(9);
  TESTMOD::Message b(a);
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a < b);
  b.get_pdu().get_pair().set_first(10);
  EXPECT_EQ(9u, static_cast<unsigned>(a.get_pdu().get_pair().get_first().getValue()));
  EXPECT_LT(a, b);
  // Presence on one side only counts that side as greater.
  TESTMOD::Message c(a);
  c.removeOptionalField(TESTMOD::Message::o_seq);
  EXPECT_GT(a.compare(c), 0);
  EXPECT_LT(c.compare(a), 0);
  // Assignment keeps its own record and copies the bitmaps.
  c = a;
  EXPECT_EQ(a, c);
  std::unique_ptr<ASN1::AbstractData> clone(a.clone());
  EXPECT_EQ(0, clone->compare(a));
  EXPECT_NE(nullptr, dynamic_cast<TESTMOD::Message*>(clone.get()));
  // Additions are numbered on from the last optional root field.
  Extended x, y;
  y.set_d(2);
  EXPECT_LT(x, y);
  // One known addition, present from construction.
  static const void* const fields[] = {&ASN1::BOOLEAN::theInfo, &ASN1::INTEGER::theInfo};
  static const int ids[] = {-1, 0};
  static const unsigned char present[] = {0x80};
  static const ASN1::SequenceInfo info = {
      {&ASN1::SEQUENCE::create, 16}, true, fields, ids, 1, 1, 0, present, nullptr, nullptr};
  ASN1::SEQUENCE one(&info);
  EXPECT_TRUE(one.hasOptionalField(0));
  EXPECT_NE(nullptr, one.getField(1));
}

TEST(Choice, Selection) {
  Pdu p;
  EXPECT_EQ(-1, p.currentSelection());
  EXPECT_FALSE(p.isSelected());
  p.setSelection(Pdu::e_later, new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 7>);
  p.setSelection(Pdu::e_last_one, new ASN1::Null);  // the first is deleted
  EXPECT_EQ(Pdu::e_last_one, p.currentSelection());
  p.setSelection(Pdu::e_last_one, p.getSelection());  // the held value stays alive
  EXPECT_EQ("last-one : NULL", p.asValueNotation());
  // An index with no record is unknown.
  Pdu q;
  q.setSelection(99, nullptr);
  EXPECT_FALSE(q.createSelection());
  EXPECT_EQ(ASN1::CHOICE::unknownSelection_, q.currentSelection());
  // Comparison: equal selections compare values, else the index difference.
  Pdu a, b;
  a.select_pair().set_first(1);
  b.select_pair().set_first(2);
  EXPECT_LT(a, b);
  b.select_numbers();
  EXPECT_GT(a.compare(b), 0);
  Pdu c(a);
  EXPECT_EQ(a, c);
}

TEST(SequenceOf, CopyAndCompare) {
  ASN1::SEQUENCE_OF<ASN1::INTEGER> list;
  list.push_back(ASN1::INTEGER(1));
  list.insert(list.elements().begin(), 2, ASN1::INTEGER(7));
  EXPECT_EQ(7, list.erase(list.begin())->getValue());
  ASN1::SEQUENCE_OF<ASN1::INTEGER> copy(list);
  EXPECT_EQ(list, copy);
  copy.resize(1);
  EXPECT_GT(list.compare(copy), 0);
  list.erase(list.elements().begin(), list.elements().end());
  EXPECT_TRUE(list.empty());
}

TEST(ObjectIdentifier, ContentOctets) {
  ASN1::OBJECT_IDENTIFIER oid{1, 2, 840};
  std::vector<char> out = unhex("ff");
  oid.encodeCommon(out);
  EXPECT_EQ("2a 86 48 ff", hex(out));
  ASN1::OBJECT_IDENTIFIER back;
  std::vector<char> in = unhex("2a 86 48");
  ASSERT_TRUE(back.decodeCommon(in.data(), 3));
  EXPECT_EQ(oid, back);
  EXPECT_FALSE(back.decodeCommon(in.data(), 2));  // cut arc
  EXPECT_TRUE(back.decodeCommon(nullptr, 0));
  EXPECT_EQ(0u, back.levels());
  ASN1::OBJECT_IDENTIFIER one{1};
  out = unhex("ff");
  one.encodeCommon(out);
  EXPECT_TRUE(out.empty());
  // Arcs of the full 32 bits, and the first-number split.
  ASN1::OBJECT_IDENTIFIER big{2, 4294967295u - 80};
  big.encodeCommon(out);
  EXPECT_EQ("8f ff ff ff 7f", hex(out));
  std::vector<char> firsts = unhex("27 28 4f 50");
  ASSERT_TRUE(back.decodeCommon(firsts.data(), 1));
  EXPECT_EQ((std::vector<std::uint32_t>{0, 39}), back.arcs());
  ASSERT_TRUE(back.decodeCommon(firsts.data() + 1, 1));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 0}), back.arcs());
  ASSERT_TRUE(back.decodeCommon(firsts.data() + 3, 1));
  EXPECT_EQ((std::vector<std::uint32_t>{2, 0}), back.arcs());
}

TEST(GeneralizedTime, Text) {
  ASN1::GeneralizedTime t(2024, 1, 2, 3, 4, 5, 250, 0, true);
  EXPECT_EQ("20240102030405.250Z", t.get());
  ASN1::GeneralizedTime back("20240102030405.250Z");
  EXPECT_EQ(250, back.getMillisec());
  EXPECT_TRUE(back.getUTC());
  EXPECT_EQ(t, back);
  ASN1::GeneralizedTime offset("20240102030405+0130");
  EXPECT_EQ(90, offset.getMindiff());
  EXPECT_FALSE(offset.getUTC());
  EXPECT_EQ("19990101000000-0130", ASN1::GeneralizedTime(1999, 1, 1, 0, 0, 0, 0, -90, false).get());
  EXPECT_EQ("19990101000000-0030", ASN1::GeneralizedTime(1999, 1, 1, 0, 0, 0, 0, -30, false).get());
  EXPECT_EQ("19990101000000+0530", ASN1::GeneralizedTime(1999, 1, 1, 0, 0, 0, 0, 330, false).get());
  EXPECT_EQ("00010101000000", ASN1::GeneralizedTime().get());
  // The largest offset an int holds has no positive counterpart.
  EXPECT_EQ("19990101000000-3579139408",
            ASN1::GeneralizedTime(1999, 1, 1, 0, 0, 0, 0, INT_MIN, false).get());
  // Seconds since the epoch: in from UTC, out through local time.
  ASN1::GeneralizedTime epoch(2024, 1, 2, 3, 4, 5, 250, -90, false);
  epoch.set_time_t(86400L * 366 + 3723);
  EXPECT_EQ("19710102010203.250-0130", epoch.get());
  std::time_t local = epoch.get_time_t();
  std::tm tm = std::tm();
  ASSERT_NE(nullptr, localtime_r(&local, &tm));
  char text[32];
  ASSERT_NE(0u, std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &tm));
  EXPECT_EQ("19710102010203", std::string(text));
}

TEST(GeneralizedTime, ReadsOnlyItsText) {
  // A text without a terminator, followed by octets that must not be read.
  const char buffer[] = {'2', '0', '2', '4', '0', '1', '9', '9', '9', '9', '9', '9', '9', '9'};
  ASN1::GeneralizedTime t;
  t.set(buffer, 6);
  EXPECT_EQ(2024, t.getYear());
  EXPECT_EQ(1, t.getMonth());
  EXPECT_EQ(1, t.getDay());
  EXPECT_FALSE(t.getUTC());
  ASN1::GeneralizedTime z;
  z.set("Z", 1);
  EXPECT_TRUE(z.getUTC());
  ASN1::GeneralizedTime empty;
  empty.set("", 0);
  EXPECT_EQ(1, empty.getYear());
  ASN1::GeneralizedTime fraction;
  fraction.set("20240102030405.5", 16);
  EXPECT_EQ(500, fraction.getMillisec());
  fraction.set("20240102030405.9999", 19);  // truncated, not rounded
  EXPECT_EQ(999, fraction.getMillisec());
}

TEST(Helpers, CountBitsAndByteCompare) {
  EXPECT_EQ(32u, ASN1::CountBits(0));
  EXPECT_EQ(0u, ASN1::CountBits(1));
  EXPECT_EQ(10u, ASN1::CountBits(1024));
  EXPECT_EQ(11u, ASN1::CountBits(1025));
  EXPECT_EQ(32u, ASN1::CountBits(0xFFFFFFFFu));
  const char a[] = "\x01\x80", b[] = "\x01\x7f";
  EXPECT_GT(ASN1::lexicographic_compare_bytes(a, a + 2, b, b + 2), 0);
  EXPECT_EQ(0, ASN1::lexicographic_compare_bytes(a, a + 2, a, a + 2));
  EXPECT_EQ(1, ASN1::lexicographic_compare_bytes(a, a + 2, a, a + 1));
  EXPECT_EQ(-1, ASN1::lexicographic_compare_bytes(a, a + 1, a, a + 2));
}

TEST(BitMap, Bits) {
  ASN1::SEQUENCE::BitMap map;
  map.resize(10);
  map.set(0);
  map.set(9);
  map.set(10);  // past the count: nothing
  EXPECT_EQ(2u, map.data().size());
  EXPECT_EQ(0x80, map.data()[0]);
  EXPECT_EQ(0x40, map.data()[1]);
  EXPECT_TRUE(map[9]);
  EXPECT_FALSE(map[10]);
  map.resize(9);
  map.resize(10);
  EXPECT_FALSE(map[9]);
}

TEST(Strings, AndBits) {
  ASN1::BIT_STRING bits;
  bits.resize(12);
  bits.set(11);
  EXPECT_TRUE(bits[11]);
  EXPECT_FALSE(bits[12]);
  ASN1::BIT_STRING other(bits);
  other.clear(11);
  EXPECT_GT(bits.compare(other), 0);
  EXPECT_LT(ASN1::IA5String("ab").compare(ASN1::IA5String("abc")), 0);
  ASN1::BMPString w(L"ab");
  EXPECT_TRUE(w.legalCharacter(L'a'));
  EXPECT_EQ(2u, w.first_illegal_at());
}

TEST(Strings, PermittedCharacterTables) {
  struct Case {
    const ASN1::StringInfo& info;
    unsigned first, last;
  };
  const Case cases[] = {
      {ASN1::NumericString::theInfo, ' ', '9'},   {ASN1::PrintableString::theInfo, ' ', 'z'},
      {ASN1::VisibleString::theInfo, 0x20, 0x7e}, {ASN1::IA5String::theInfo, 0, 0x7f},
      {ASN1::GeneralString::theInfo, 0, 0xff},
  };
  for (const Case& c : cases) {
    const unsigned char* table = reinterpret_cast<const unsigned char*>(c.info.characterSet);
    unsigned n = c.info.characterSetSize;
    EXPECT_EQ(c.first, table[0]) << n;
    EXPECT_EQ(c.last, table[n - 1]) << n;
    for (unsigned i = 1; i < n; ++i) EXPECT_LT(table[i - 1], table[i]) << n << " at " << i;
  }
}

TEST(Enumerated, Values) {
  Gain g;
  g = Gain::min;
  EXPECT_STREQ("rtx1", g.getName());  // the first entry with the value
  g = Gain::mux;
  EXPECT_STREQ("mux=11", g.getName());
  g = Gain::extra;
  EXPECT_EQ(nullptr, g.getName());  // above the root
  Standby s;
  s = Standby::not_use;
  EXPECT_EQ(nullptr, s.getName());
  s = Standby::standby;
  EXPECT_STREQ("standby", s.getName());
}

}  // namespace
