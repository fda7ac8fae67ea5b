// PER building blocks, decoder limits and the faults a decoder must not
// make: reading past its input, dropping what it does not understand.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/per.h"
#include "asn1_test_util.h"
#include "testmod/TESTMOD.h"

namespace {

using asn1test::hex;
using asn1test::perDecode;
using asn1test::unhex;
using namespace TESTMOD;

std::vector<char> perEncode(const ASN1::AbstractData& value,
                            int rule = ASN1::CoderEnv::per_Aligned) {
  ASN1::CoderEnv env(rule);
  std::vector<char> out;
  EXPECT_TRUE(ASN1::encode(value, &env, std::back_inserter(out)));
  return out;
}

struct BlockCase {
  const char* label;
  std::function<bool(ASN1::PEREncoder&)> write;
  const char* octets;
};

TEST(PerBlocks, EncoderBlocks) {
  const BlockCase cases[] = {
      {"small number 63", [](ASN1::PEREncoder& e) { return e.encodeSmallUnsigned(63); }, "7e"},
      {"small number 64", [](ASN1::PEREncoder& e) { return e.encodeSmallUnsigned(64); },
       "80 01 40"},
      {"small number 2^24", [](ASN1::PEREncoder& e) { return e.encodeSmallUnsigned(1u << 24); },
       "80 04 01 00 00 00"},
      {"length 127: one octet",
       [](ASN1::PEREncoder& e) { return e.encodeLength(127, 0, ASN1::UnboundedLength); }, "7f"},
      {"length 128: two octets",
       [](ASN1::PEREncoder& e) { return e.encodeLength(128, 0, ASN1::UnboundedLength); }, "80 80"},
      {"length 16383",
       [](ASN1::PEREncoder& e) { return e.encodeLength(16383, 0, ASN1::UnboundedLength); },
       "bf ff"},
      {"length 16384 has no form",
       [](ASN1::PEREncoder& e) { return e.encodeLength(16384, 0, ASN1::UnboundedLength); },
       nullptr},
      {"length above its upper bound", [](ASN1::PEREncoder& e) { return e.encodeLength(9, 0, 8); },
       nullptr},
      {"length below its lower bound", [](ASN1::PEREncoder& e) { return e.encodeLength(0, 1, 8); },
       nullptr},
      {"length with bound 65536: unbounded form",
       [](ASN1::PEREncoder& e) { return e.encodeLength(3, 0, 65536); }, "03"},
      {"bit then aligned length",
       [](ASN1::PEREncoder& e) {
         e.encodeSingleBit(true);
         return e.encodeLength(2, 0, ASN1::UnboundedLength);
       },
       "80 02"},
      {"empty block writes nothing, not even alignment",
       [](ASN1::PEREncoder& e) {
         e.encodeSingleBit(true);
         e.encodeBlock("", 0);
         e.encodeSingleBit(true);
         return true;
       },
       "c0"},
      {"byte aligns",
       [](ASN1::PEREncoder& e) {
         e.encodeSingleBit(true);
         e.encodeByte(0x5a);
         return true;
       },
       "80 5a"},
      {"32-bit field",
       [](ASN1::PEREncoder& e) {
         e.encodeMultiBit(0xdeadbeef, 32);
         return true;
       },
       "de ad be ef"},
      {"bit map",
       [](ASN1::PEREncoder& e) {
         const unsigned char m[] = {0xff, 0xa0};
         e.encodeBitMap(m, 11);
         return true;
       },
       "ff a0"},
  };
  for (const BlockCase& c : cases) {
    std::vector<char> out;
    ASN1::PEREncoder encoder(out, true);
    bool ok = c.write(encoder);
    if (!c.octets) {
      EXPECT_FALSE(ok) << c.label;
      continue;
    }
    EXPECT_TRUE(ok) << c.label;
    EXPECT_EQ(hex(unhex(c.octets)), hex(out)) << c.label;
  }
}

TEST(PerBlocks, DecoderBlocks) {
  struct Case {
    const char* octets;
    std::function<bool(ASN1::PERDecoder&, std::uint64_t&)> read;
    bool ok;
    std::uint64_t value;
  };
  auto length = [](ASN1::PERDecoder& d, std::uint64_t& v) {
    unsigned n;
    bool ok = d.decodeLength(0, ASN1::UnboundedLength, n) == 0;
    v = n;
    return ok;
  };
  auto small = [](ASN1::PERDecoder& d, std::uint64_t& v) {
    std::uint32_t n;
    bool ok = d.decodeSmallUnsigned(n);
    v = n;
    return ok;
  };
  const Case cases[] = {
      {"7f", length, true, 127},
      {"80 80", length, true, 128},
      {"bf ff", length, true, 16383},
      {"c0 00", length, false, 0},  // fragmented form
      {"80", length, false, 0},
      {"", length, false, 0},
      {"0a", small, true, 5},
      {"80 01 40", small, true, 64},
      {"80 03 01 11 70", small, true, 70000},
      {"80 05 01 02 03 04 05", small, false, 0},
      {"80 02 01", small, false, 0},
      {"de ad be ef",
       [](ASN1::PERDecoder& d, std::uint64_t& v) {
         std::uint32_t x;
         bool ok = d.decodeMultiBit(32, x);
         v = x;
         return ok;
       },
       true, 0xdeadbeef},
      {"de",  // a presence map longer than the input
       [](ASN1::PERDecoder& d, std::uint64_t&) {
         ASN1::SEQUENCE::BitMap::Octets map;
         return d.decodeBitMap(map, 16);
       },
       false, 0},
      {"de ad be ef 01",
       [](ASN1::PERDecoder& d, std::uint64_t&) {
         std::uint32_t x;
         return d.decodeMultiBit(33, x);
       },
       false, 0},
      {"de",
       [](ASN1::PERDecoder& d, std::uint64_t& v) {
         std::uint32_t x;
         bool ok = d.decodeMultiBit(0, x);
         v = x;
         return ok && d.getBitsLeft() == 8;
       },
       true, 0},
  };
  for (const Case& c : cases) {
    std::vector<char> in = unhex(c.octets);
    ASN1::PERDecoder decoder(in.data(), in.data() + in.size());
    std::uint64_t v = 0;
    EXPECT_EQ(c.ok, c.read(decoder, v)) << c.octets;
    if (c.ok) {
      EXPECT_EQ(c.value, v) << c.octets;
    }
  }
}

TEST(PerBlocks, DecodeBlockCopiesWhatIsThere) {
  std::vector<char> in = unhex("80 01 02");
  ASN1::PERDecoder decoder(in.data(), in.data() + in.size());
  bool bit;
  ASSERT_TRUE(decoder.decodeSingleBit(bit));
  char buf[4] = {};
  EXPECT_EQ(2u, decoder.decodeBlock(buf, 4));
  EXPECT_EQ(0u, decoder.getBitsLeft());
  EXPECT_EQ(0u, decoder.decodeBlock(buf, 0));
  // Unlike the encoder's, an empty block still moves to the next octet.
  ASN1::PERDecoder again(in.data(), in.data() + in.size());
  ASSERT_TRUE(again.decodeSingleBit(bit));
  EXPECT_EQ(0u, again.decodeBlock(buf, 0));
  EXPECT_EQ(16u, again.getBitsLeft());
}

// Lengths and sizes the coder must refuse (lists: ModulesVectors.ListAtItsLimit).
TEST(PerLimits, Strings) {
  ASN1::OCTET_STRING big(16383, 'x');
  ASN1::OCTET_STRING back;
  EXPECT_TRUE(perDecode(perEncode(big), back));
  EXPECT_EQ(big, back);
  std::vector<char> out;
  ASN1::CoderEnv env;
  EXPECT_FALSE(ASN1::encode(ASN1::OCTET_STRING(16384, 'x'), &env, std::back_inserter(out)));
  EXPECT_TRUE(out.empty());
  // An open type's contents (here a length of two octets and the string)
  // take a length below 16384 only.
  Misc open;
  open.get_open().grab(new ASN1::OCTET_STRING(16381, 'x'));
  Misc whole;
  ASSERT_TRUE(perDecode(perEncode(open), whole));
  EXPECT_EQ(16383u, whole.get_open().get_buf().size());
  open.get_open().grab(new ASN1::OCTET_STRING(16382, 'x'));
  EXPECT_FALSE(ASN1::encode(open, &env, std::back_inserter(out)));
  EXPECT_TRUE(out.empty());

  // A size bound past the limit: the limit itself decodes, one more does not.
  static const ASN1::StringInfo wideInfo = {
      {{&ASN1::IA5String::create, 22}, ASN1::FixedConstraint, 0, 20000},
      ASN1::IA5StringSet,
      128,
      7,
      7,
      8};
  ASN1::IA5String limit(std::string(16384, 'x'), &wideInfo), read(&wideInfo);
  EXPECT_TRUE(perDecode(perEncode(limit), read));
  EXPECT_EQ(limit, read);
  limit.push_back('x');
  EXPECT_FALSE(perDecode(perEncode(limit), read));

  // A string cut short by the end of input fails and is left empty.
  ASN1::IA5String s("kept");
  EXPECT_FALSE(perDecode(unhex("05 61 62"), s));
  EXPECT_TRUE(s.empty());
  // A table index beyond the table fails.
  ASN1::NumericString digits;
  EXPECT_FALSE(perDecode(unhex("01 f0"), digits));
  // A BIT STRING longer than what is left.
  ASN1::BIT_STRING bits;
  EXPECT_FALSE(perDecode(unhex("09 ff"), bits));
}

TEST(PerDecoder, ChoiceIndexes) {
  Pdu c;
  // Root index 12..15 in 4 bits names no root alternative.
  EXPECT_FALSE(perDecode(unhex("60"), c));
  // An extension this build does not know fails.
  EXPECT_FALSE(perDecode(unhex("82 01 00"), c));
  // A known extension whose open type claims more octets than there are.
  EXPECT_FALSE(perDecode(unhex("80 02 a0"), c));
  // The same with exactly its octets.
  EXPECT_TRUE(perDecode(unhex("80 01 a0"), c));
  EXPECT_EQ(Pdu::e_later, c.currentSelection());
  // Open-type contents do not run past their own length.
  EXPECT_FALSE(perDecode(unhex("80 00 a0"), c));
}

TEST(PerDecoder, UnknownExtensionsAreKeptAndReEncoded) {
  // Growing with one unknown addition of two octets, ending exactly at the
  // end of the input.
  const std::vector<char> in = unhex("88 08 02 ab cd");
  Growing g;
  ASSERT_TRUE(perDecode(in, g));
  EXPECT_EQ(1, g.get_a().getValue());
  ASSERT_EQ(1u, g.unknownExtensions().size());
  EXPECT_EQ(hex(unhex("ab cd")), hex(g.unknownExtensions()[0]));
  EXPECT_EQ(hex(in), hex(perEncode(g)));
  Growing copy(g);
  EXPECT_EQ(hex(in), hex(perEncode(copy)));
  // Its length running past the input fails.
  EXPECT_FALSE(perDecode(unhex("88 08 03 ab cd"), g));

  // Extended: a known addition, then an unknown one after it.
  const std::vector<char> ext = unhex("80 2e 02 01 7a 02 01 01 01 ff");
  Extended e;
  ASSERT_TRUE(perDecode(ext, e));
  EXPECT_EQ("z", static_cast<const std::string&>(e.get_c()));
  EXPECT_EQ(hex(ext), hex(perEncode(e)));
  // Decoded again without additions, it keeps none of them.
  ASSERT_TRUE(perDecode(unhex("18"), e));
  EXPECT_EQ("18", hex(perEncode(e)));

  // Presence bits of unknown additions with nothing behind them are refused
  // by the encoder instead of going out empty.
  Growing bare;
  bare.includeOptionalField(2, 99);
  std::vector<char> out;
  ASN1::CoderEnv env;
  EXPECT_FALSE(ASN1::encode(bare, &env, std::back_inserter(out)));
  // A type without an extension marker has no place for additions at all.
  TESTMOD::Message fixed;
  fixed.get_pdu().select_colour();
  fixed.includeOptionalField(2, 99);
  fixed.unknownExtensions().push_back(unhex("01"));
  EXPECT_FALSE(ASN1::encode(fixed, &env, std::back_inserter(out)));
  EXPECT_TRUE(out.empty());
}

TEST(PerDecoder, ExtensionPresenceMapLimit) {
  // 128 entries are taken, 129 refused.
  auto growing = [](unsigned entries) {
    std::vector<char> out;
    ASN1::PEREncoder enc(out, true);
    enc.encodeSingleBit(true);   // extension bit
    enc.encodeSingleBit(false);  // b absent
    enc.encodeMultiBit(1, 3);    // a
    enc.encodeSmallUnsigned(entries - 1);
    std::vector<unsigned char> map((entries + 7) / 8, 0);
    enc.encodeBitMap(map.data(), entries);
    return out;
  };
  Growing g;
  EXPECT_TRUE(perDecode(growing(128), g));
  EXPECT_FALSE(perDecode(growing(129), g));
}

TEST(PerDecoder, OpenTypes) {
  Misc m;
  m.get_open().grab(new ASN1::IA5String("hi"));
  std::vector<char> octets = perEncode(m, ASN1::CoderEnv::per_Unaligned);
  Misc d;
  ASN1::CoderEnv unaligned(ASN1::CoderEnv::per_Unaligned);
  ASSERT_TRUE(ASN1::decode(octets.data(), octets.data() + octets.size(), &unaligned, d, true));
  ASSERT_TRUE(d.get_open().has_buf());
  EXPECT_FALSE(d.get_open().has_data());
  EXPECT_EQ("02 68 69", hex(d.get_open().get_buf()));  // aligned inside
  // Raw octets go back out as they came, not as a zero octet.
  EXPECT_EQ(hex(octets), hex(perEncode(d, ASN1::CoderEnv::per_Unaligned)));
  // Deferred decoding into a value of the right type, aligned as well.
  ASN1::PERDecoder revisit(nullptr, nullptr, nullptr, false);
  EXPECT_FALSE(revisit.do_revisit(d.get_open()));
  d.get_open().grab(new ASN1::IA5String);
  ASSERT_TRUE(revisit.do_revisit(d.get_open()));
  EXPECT_EQ("\"hi\"", d.get_open().get_data().asValueNotation());
  // An empty open type goes as one zero octet.
  Misc empty;
  std::vector<char> e = perEncode(empty);
  EXPECT_EQ("01 00", hex(std::vector<char>(e.end() - 2, e.end())));
}

// An open type constrained to one type: decoded in place.
const ASN1::OpenTypeInfo pairOpenInfo = {{&ASN1::TypeConstrainedOpenData::create, 0},
                                         &TESTIMP::Pair::theInfo};

TEST(PerDecoder, TypeConstrainedOpenType) {
  std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(&pairOpenInfo));
  ASN1::OpenData& open = static_cast<ASN1::OpenData&>(*v);
  ASSERT_TRUE(open.has_data());
  static_cast<TESTIMP::Pair&>(open.get_data()).set_first(9);
  std::vector<char> octets = perEncode(*v);
  EXPECT_EQ("02 00 09", hex(octets));
  std::unique_ptr<ASN1::AbstractData> d(ASN1::AbstractData::create(&pairOpenInfo));
  ASSERT_TRUE(perDecode(octets, *d));
  EXPECT_EQ(0, d->compare(*v));
  EXPECT_FALSE(perDecode(unhex("03 00 09"), *d));
}

TEST(PerDecoder, ObjectIdentifierEndingAtTheEnd) {
  ASN1::OBJECT_IDENTIFIER oid;
  ASSERT_TRUE(perDecode(unhex("03 2a 86 48"), oid));
  EXPECT_EQ(3u, oid.levels());
  EXPECT_EQ(840u, oid[2]);
  EXPECT_FALSE(perDecode(unhex("04 2a 86 48"), oid));
  EXPECT_FALSE(perDecode(unhex("02 2a 86"), oid));  // cut arc
  // Arcs are 32 bits: one more is refused, never wrapped.
  ASSERT_TRUE(perDecode(unhex("06 2a 8f ff ff ff 7f"), oid));
  EXPECT_EQ(4294967295u, oid[2]);
  for (const char* tooLong : {"06 2a 90 80 80 80 00", "05 90 80 80 80 50"})
    EXPECT_FALSE(perDecode(unhex(tooLong), oid)) << tooLong;
}

TEST(Decoders, NestingIsBounded) {
  const unsigned bound = ASN1::Visitor::maxNesting;
  for (int rule : {0, 1, 2, 3}) {  // value notation, BER, PER aligned and unaligned
    ASN1::CoderEnv env(rule);
    for (unsigned levels : {bound, bound + 1}) {
      Nest deep, back;
      Nest* n = &deep;
      for (unsigned i = 1; i < levels; ++i) n = &n->select_deeper();
      n->select_leaf();
      std::vector<char> in;
      ASSERT_TRUE(ASN1::encode(deep, &env, std::back_inserter(in)));
      EXPECT_EQ(levels <= bound, ASN1::decode(in.data(), in.data() + in.size(), &env, back, true));
    }
  }
  // Every bit says "one level more", through the OPTIONAL component.
  Nest back;
  EXPECT_FALSE(perDecode(std::vector<char>(65531, '\xff'), back));
}

TEST(PerDecoder, DecoderDoesNotCheckUpperBound) {
  // 0..1000 in 16 bits can carry 65535: the decoder passes it on.
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 20, 1000> n;
  ASSERT_TRUE(perDecode(unhex("ff ff"), n));
  EXPECT_EQ(20 + 65535, n.getValue());
  // An ENUMERATED may arrive with a number that has no name.
  Sparse e;
  ASSERT_TRUE(perDecode(unhex("f0"), e));
  EXPECT_EQ(15, e.asInt());
  EXPECT_EQ("15", e.asValueNotation());
}

TEST(CoderEnvironment, Rules) {
  TESTMOD::Message m;
  m.get_pdu().select_colour() = TESTIMP::Colour::blue;
  std::vector<char> out(1, 'x');
  ASN1::CoderEnv bad(4);
  EXPECT_FALSE(ASN1::encode(m, &bad, std::back_inserter(out)));
  EXPECT_EQ(1u, out.size());
  EXPECT_FALSE(ASN1::decode(out.data(), out.data() + out.size(), &bad, m, true));

  // Octets after a complete value are not looked at.
  TESTMOD::Message d;
  std::vector<char> in = unhex("0c 80 ff ff");
  ASN1::CoderEnv env;
  EXPECT_TRUE(ASN1::decode(in.data(), in.data() + in.size(), &env, d, true));
  EXPECT_EQ(0, d.compare(m));
  // Nothing to decode from.
  EXPECT_FALSE(ASN1::decode(in.data(), in.data(), &env, d, true));

  // Aligned and unaligned differ where the aligned variant aligns.
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> slot;
  slot = 5u;
  EXPECT_EQ("00 05", hex(perEncode(slot, ASN1::CoderEnv::per_Aligned)));
  EXPECT_EQ("01 40", hex(perEncode(slot, ASN1::CoderEnv::per_Unaligned)));

  // Rule 0 writes value notation.
  ASN1::CoderEnv avn(ASN1::CoderEnv::avn);
  std::vector<char> text;
  ASSERT_TRUE(ASN1::encode(m, &avn, std::back_inserter(text)));
  EXPECT_EQ(m.asValueNotation(), std::string(text.begin(), text.end()));
}

}  // namespace
