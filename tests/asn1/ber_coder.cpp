// BER coder: exact octets both ways, bad input, truncation, round trips.
#include <climits>
#include <memory>

#include <gtest/gtest.h>

#include "asn1/ber.h"
#include "asn1/coder_env.h"
#include "asn1/ber_types.h"

using namespace codertest;

namespace {

bool berEncode(const AbstractData& value, std::vector<char>& out) {
  BEREncoder encoder(out);
  return value.accept(encoder);
}

bool berDecode(const std::vector<char>& in, AbstractData& value) {
  BERDecoder decoder(in.data(), in.data() + in.size());
  return value.accept(decoder);
}

struct Vector {
  const char* name;
  const void* info;
  Fill fill;
  std::vector<char> octets;
};

std::vector<char> octetString(std::size_t n) {
  std::vector<char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<char>(i);
  return v;
}

std::vector<char> concat(std::vector<char> a, const std::vector<char>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const ConstrainedInfo tag40Info = {
    {&INTEGER::create, contextTag(40)}, Unconstrained, 0, 0xFFFFFFFFu};
const ConstrainedInfo tag200Info = {
    {&INTEGER::create, makeTag(PrivateTagClass, 200)}, Unconstrained, 0, 0xFFFFFFFFu};

void fillTopFull(AbstractData& v) {
  select<Null>(field<CHOICE>(v, 2), 0);
  BIT_STRING& bits = field<BIT_STRING>(v, 3);
  bits.resize(3);
  bits.set(0);
  bits.set(2);
  field<IA5String>(v, 4) = "ab";
  SEQUENCE_OF_Base& states = field<SEQUENCE_OF_Base>(v, 5);
  states.resize(2);
  static_cast<ENUMERATED&>(states.elementAt(1)).setFromInt(16);
  field<INTEGER>(v, 6).setValue(9);
}

void fillKinds(AbstractData& v) {
  field<OBJECT_IDENTIFIER>(v, 0).arcs() = {1, 2, 840, 113549};
  field<BMPString>(v, 1) = std::wstring(L"Hi");
  field<GeneralizedTime>(v, 2) = GeneralizedTime(2024, 1, 2, 3, 4, 5, 250, 0, true);
  field<IntegerWithNamedNumber>(v, 3).setValue(9);
  field<Counter32>(v, 4) = 4000000000u;
  field<NumericString>(v, 5) = "123";
  select<INTEGER>(field<CHOICE>(v, 7), 1).setValue(5);
}

const std::vector<Vector>& vectors() {
  static const std::vector<Vector> table = {
      {"null", &Null::theInfo, nullptr, bytes({0x05, 0x00})},
      {"true", &BOOLEAN::theInfo, set<BOOLEAN>(true), bytes({0x01, 0x01, 0x01})},
      {"false", &BOOLEAN::theInfo, nullptr, bytes({0x01, 0x01, 0x00})},
      {"int 0", &INTEGER::theInfo, nullptr, bytes({0x02, 0x01, 0x00})},
      {"int 127", &INTEGER::theInfo, set<INTEGER>(127), bytes({0x02, 0x01, 0x7F})},
      {"int 128", &INTEGER::theInfo, set<INTEGER>(128), bytes({0x02, 0x02, 0x00, 0x80})},
      {"int -128", &INTEGER::theInfo, set<INTEGER>(-128), bytes({0x02, 0x01, 0x80})},
      {"int -129", &INTEGER::theInfo, set<INTEGER>(-129), bytes({0x02, 0x02, 0xFF, 0x7F})},
      {"int min", &INTEGER::theInfo, set<INTEGER>(INT_MIN), bytes({0x02, 0x04, 0x80, 0x00, 0x00, 0x00})},
      {"tag [40]", &tag40Info, set<INTEGER>(1), bytes({0x9F, 0x28, 0x01, 0x01})},
      {"tag [PRIVATE 200]", &tag200Info, set<INTEGER>(1), bytes({0xDF, 0x81, 0x48, 0x01, 0x01})},
      // Unsigned ranges keep their numbers positive on the wire.
      {"uint max", &Counter32::theInfo, set<Counter32>(4294967295u),
       bytes({0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"uint 2^31", &Counter32::theInfo, set<Counter32>(2147483648u),
       bytes({0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00})},
      {"enum speak", &stateInfo, setEnum(4), bytes({0x0A, 0x01, 0x04})},
      {"enum not-use", &modeInfo, setEnum(-1), bytes({0x0A, 0x01, 0xFF})},
      {"oid", &OBJECT_IDENTIFIER::theInfo,
       [](AbstractData& v) { static_cast<OBJECT_IDENTIFIER&>(v).arcs() = {1, 2, 840}; },
       bytes({0x06, 0x03, 0x2A, 0x86, 0x48})},
      {"bits 17", &BIT_STRING::theInfo, [](AbstractData& v) {
         BIT_STRING& b = static_cast<BIT_STRING&>(v);
         b.resize(17);
         b.getData() = bytes({0xA5, 0x0F, 0x80});
       },
       bytes({0x03, 0x04, 0x07, 0xA5, 0x0F, 0x80})},
      {"bits 101", &BIT_STRING::theInfo, [](AbstractData& v) {
         BIT_STRING& b = static_cast<BIT_STRING&>(v);
         b.resize(3);
         b.set(0);
         b.set(2);
       },
       bytes({0x03, 0x02, 0x05, 0xA0})},
      {"bits empty", &BIT_STRING::theInfo, nullptr, bytes({0x03, 0x01, 0x00})},
      {"octets", &OCTET_STRING::theInfo, [](AbstractData& v) { static_cast<OCTET_STRING&>(v) = bytes({1, 2}); },
       bytes({0x04, 0x02, 0x01, 0x02})},
      {"octets empty", &OCTET_STRING::theInfo, nullptr, bytes({0x04, 0x00})},
      {"octets 256", &OCTET_STRING::theInfo, set<OCTET_STRING>(octetString(256)),
       concat(bytes({0x04, 0x82, 0x01, 0x00}), octetString(256))},
      {"ia5", &IA5String::theInfo, set<IA5String>("abc"), bytes({0x16, 0x03, 0x61, 0x62, 0x63})},
      {"bmp", &BMPString::theInfo, set<BMPString>(std::wstring(L"A\x263a")), bytes({0x1E, 0x04, 0x00, 0x41, 0x26, 0x3A})},
      {"general", &GeneralString::theInfo, set<GeneralString>("g"), bytes({0x1B, 0x01, 0x67})},
      {"time", &GeneralizedTime::theInfo, set<GeneralizedTime>(GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, -90, false)),
       concat(bytes({0x18, 0x13}),
              bytes({'2', '0', '2', '4', '0', '1', '0', '2', '0', '3', '0', '4', '0', '5', '-', '0', '1', '3', '0'}))},
      {"int list", &intListInfo, [](AbstractData& v) {
         SEQUENCE_OF_Base& l = static_cast<SEQUENCE_OF_Base&>(v);
         l.resize(2);
         static_cast<INTEGER&>(l.elementAt(0)) = 1;
         static_cast<INTEGER&>(l.elementAt(1)) = 300;
       },
       bytes({0x30, 0x07, 0x02, 0x01, 0x01, 0x02, 0x02, 0x01, 0x2C})},
      {"empty list", &intListInfo, nullptr, bytes({0x30, 0x00})},
      {"inner", &innerInfo, [](AbstractData& v) { field<BOOLEAN>(v, 0) = true; },
       bytes({0x30, 0x03, 0x80, 0x01, 0x01})},
      {"inner data", &innerInfo, [](AbstractData& v) { field<OCTET_STRING>(v, 1) = bytes({0xAB}); },
       bytes({0x30, 0x06, 0x80, 0x01, 0x00, 0x81, 0x01, 0xAB})},
      // The enclosing lengths count the three octets of a long length.
      {"inner long", &innerInfo, [](AbstractData& v) {
         field<BOOLEAN>(v, 0) = true;
         field<OCTET_STRING>(v, 1) = octetString(256);
       },
       concat(bytes({0x30, 0x82, 0x01, 0x07, 0x80, 0x01, 0x01, 0x81, 0x82, 0x01, 0x00}), octetString(256))},
      // A CHOICE component is an explicit, constructed wrapper.
      {"top none", &topInfo, [](AbstractData& v) { select<Null>(field<CHOICE>(v, 2), 0); },
       bytes({0x30, 0x04, 0xA2, 0x02, 0x80, 0x00})},
      {"top seq number", &topInfo, [](AbstractData& v) {
         field<INTEGER>(v, 0) = 5;
         select<INTEGER>(field<CHOICE>(v, 2), 1) = 7;
       },
       bytes({0x30, 0x08, 0x80, 0x01, 0x05, 0xA2, 0x03, 0x81, 0x01, 0x07})},
      {"top slot inner", &topInfo, [](AbstractData& v) {
         field<SlotNumber>(v, 1) = 1023u;
         field<BOOLEAN>(select<SEQUENCE>(field<CHOICE>(v, 2), 2), 0) = true;
       },
       bytes({0x30, 0x0B, 0x81, 0x02, 0x03, 0xFF, 0xA2, 0x05, 0xA2, 0x03, 0x80, 0x01, 0x01})},
      {"top list", &topInfo, [](AbstractData& v) {
         SEQUENCE_OF_Base& l = select<SEQUENCE_OF_Base>(field<CHOICE>(v, 2), 3);
         l.resize(2);
         static_cast<INTEGER&>(l.elementAt(0)) = 1;
         static_cast<INTEGER&>(l.elementAt(1)) = 2;
       },
       bytes({0x30, 0x0A, 0xA2, 0x08, 0xA3, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02})},
      {"top state", &topInfo, [](AbstractData& v) { select<ENUMERATED>(field<CHOICE>(v, 2), 4).setFromInt(4); },
       bytes({0x30, 0x05, 0xA2, 0x03, 0x84, 0x01, 0x04})},
      {"top nested choice", &topInfo,
       [](AbstractData& v) { select<INTEGER>(select<CHOICE>(field<CHOICE>(v, 2), 5), 1) = 3; },
       bytes({0x30, 0x07, 0xA2, 0x05, 0xA5, 0x03, 0x81, 0x01, 0x03})},
      {"top extension alternative", &topInfo,
       [](AbstractData& v) { select<IA5String>(field<CHOICE>(v, 2), 6) = "x"; },
       bytes({0x30, 0x05, 0xA2, 0x03, 0x86, 0x01, 0x78})},
      {"top full", &topInfo, fillTopFull,
       bytes({0x30, 0x17, 0xA2, 0x02, 0x80, 0x00, 0x83, 0x02, 0x05, 0xA0, 0x84, 0x02, 0x61, 0x62,
              0xA5, 0x06, 0x0A, 0x01, 0x00, 0x0A, 0x01, 0x10, 0x86, 0x01, 0x09})},
      {"tag table choice", &eitherInfo, [](AbstractData& v) { select<IA5String>(v, 1) = "a"; },
       bytes({0x16, 0x01, 0x61})},
      {"own tags", &ownInfo, [](AbstractData& v) {
         select<INTEGER>(field<CHOICE>(v, 0), 0) = 5;
         field<OCTET_STRING>(v, 1) = bytes({0xFF});
       },
       bytes({0x30, 0x06, 0x02, 0x01, 0x05, 0x04, 0x01, 0xFF})},
      // An untagged OPTIONAL CHOICE is tried and found absent.
      {"own tags without choice", &ownInfo, [](AbstractData& v) { field<OCTET_STRING>(v, 1) = bytes({0xFF}); },
       bytes({0x30, 0x03, 0x04, 0x01, 0xFF})},
      {"kinds", &kindsInfo, fillKinds,
       concat(concat(bytes({0x30, 0x39, 0x80, 0x06, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x81, 0x04, 0x00, 0x48, 0x00,
                            0x69, 0x82, 0x13}),
                     bytes({'2', '0', '2', '4', '0', '1', '0', '2', '0', '3', '0', '4', '0', '5', '.', '2', '5', '0',
                            'Z'})),
              bytes({0x83, 0x01, 0x09, 0x84, 0x05, 0x00, 0xEE, 0x6B, 0x28, 0x00, 0x85, 0x03, '1', '2', '3', 0x86, 0x00,
                     0xA7, 0x03, 0x81, 0x01, 0x05}))},
  };
  return table;
}

TEST(BerCoder, EncodesExactOctets) {
  for (const Vector& row : vectors()) {
    Value v = make(row.info, row.fill);
    std::vector<char> out;
    ASSERT_TRUE(berEncode(*v, out)) << row.name;
    EXPECT_EQ(hex(row.octets), hex(out)) << row.name;
    EXPECT_EQ(row.octets.size(), getObjectLength(*v, BEREncoder::NoOverride)) << row.name;
  }
}

TEST(BerCoder, DecodesExactOctetsToEqualValue) {
  for (const Vector& row : vectors()) {
    Value expected = make(row.info, row.fill);
    Value decoded(AbstractData::create(row.info));
    BERDecoder decoder(row.octets.data(), row.octets.data() + row.octets.size());
    ASSERT_TRUE(decoded->accept(decoder)) << row.name;
    EXPECT_EQ(row.octets.data() + row.octets.size(), decoder.getPosition()) << row.name;
    EXPECT_EQ(*expected, *decoded) << row.name;
    // The text shows what comparing leaves out (a time's offset).
    EXPECT_EQ(expected->asValueNotation(), decoded->asValueNotation()) << row.name;
  }
}

// Every proper prefix of a valid encoding is refused, never read past.
TEST(BerCoder, EveryTruncationFails) {
  for (const Vector& row : vectors()) {
    for (std::size_t n = 0; n < row.octets.size(); ++n) {
      std::vector<char> prefix(row.octets.begin(),
                               row.octets.begin() + static_cast<std::ptrdiff_t>(n));
      Value decoded(AbstractData::create(row.info));
      EXPECT_FALSE(berDecode(prefix, *decoded)) << row.name << " cut at " << n;
    }
  }
}

TEST(BerCoder, ThroughCoderEnvironment) {
  const Vector& row = vectors().back();
  Value v = make(row.info, row.fill);
  CoderEnv env(CoderEnv::ber);
  std::vector<char> out;
  ASSERT_TRUE(encode(*v, &env, std::back_inserter(out)));
  EXPECT_EQ(hex(row.octets), hex(out));
  Value decoded(AbstractData::create(row.info));
  ASSERT_TRUE(decode(out.data(), out.data() + out.size(), &env, *decoded, true));
  EXPECT_EQ(*v, *decoded);
}

struct BadInput {
  const char* name;
  const void* info;
  std::vector<char> octets;
};

TEST(BerCoder, RefusesMalformedInput) {
  const BadInput table[] = {
      {"indefinite length", &OCTET_STRING::theInfo, bytes({0x04, 0x80, 0x01, 0x00, 0x00})},
      {"indefinite sequence", &innerInfo, bytes({0x30, 0x80, 0x80, 0x01, 0x01, 0x00, 0x00})},
      {"indefinite choice wrapper", &topInfo,
       bytes({0x30, 0x06, 0xA2, 0x80, 0x80, 0x00, 0x00, 0x00})},
      {"indefinite list", &intListInfo, bytes({0x30, 0x80, 0x02, 0x01, 0x00, 0x00, 0x00})},
      // Refused from the header alone, before anything is sized from it.
      {"length beyond input", &OCTET_STRING::theInfo,
       bytes({0x04, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x00})},
      {"length of 4 GiB", &OCTET_STRING::theInfo,
       bytes({0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x00})},
      {"list of 4 GiB", &intListInfo,
       bytes({0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x01, 0x00})},
      {"string beyond its sequence", &innerInfo,
       bytes({0x30, 0x09, 0x80, 0x01, 0x01, 0x81, 0x84, 0x10, 0x00, 0x00, 0x00})},
      {"length of five octets", &OCTET_STRING::theInfo,
       bytes({0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00})},
      {"reserved length octet", &OCTET_STRING::theInfo, bytes({0x04, 0xFF, 0x00})},
      {"component beyond parent", &innerInfo, bytes({0x30, 0x03, 0x80, 0x02, 0x01, 0x01})},
      {"tag number too long", &INTEGER::theInfo, bytes({0x1F, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00})},
      {"wrong tag", &INTEGER::theInfo, bytes({0x04, 0x01, 0x00})},
      {"empty integer", &INTEGER::theInfo, bytes({0x02, 0x00})},
      {"empty enumerated", &stateInfo, bytes({0x0A, 0x00})},
      {"empty bit string", &BIT_STRING::theInfo, bytes({0x03, 0x00})},
      {"unused bits 8", &BIT_STRING::theInfo, bytes({0x03, 0x02, 0x08, 0xFF})},
      {"unused bits without data", &BIT_STRING::theInfo, bytes({0x03, 0x01, 0x03})},
      {"constructed octet string", &OCTET_STRING::theInfo, bytes({0x24, 0x03, 0x04, 0x01, 0x00})},
      {"constructed integer", &INTEGER::theInfo, bytes({0x22, 0x03, 0x02, 0x01, 0x05})},
      {"constructed sequence component", &innerInfo,
       bytes({0x30, 0x05, 0xA0, 0x03, 0x01, 0x01, 0x01})},
      {"odd BMPString", &BMPString::theInfo, bytes({0x1E, 0x03, 0x00, 0x41, 0x00})},
      {"truncated oid", &OBJECT_IDENTIFIER::theInfo, bytes({0x06, 0x02, 0x2A, 0x86})},
      {"missing mandatory", &topInfo, bytes({0x30, 0x03, 0x80, 0x01, 0x05})},
      {"mandatory with other tag", &topInfo, bytes({0x30, 0x04, 0x83, 0x02, 0x05, 0xA0})},
      {"empty choice wrapper", &topInfo, bytes({0x30, 0x02, 0xA2, 0x00})},
      {"alternative beyond wrapper", &topInfo, bytes({0x30, 0x05, 0xA2, 0x03, 0x81, 0x02, 0x07})},
      {"unknown alternative of closed choice", &leafInfo, bytes({0x82, 0x00})},
      {"universal tag as alternative", &leafInfo, bytes({0x02, 0x01, 0x05})},
      {"bad list element", &intListInfo, bytes({0x30, 0x03, 0x04, 0x01, 0x00})},
      {"empty input", &Null::theInfo, {}},
  };
  for (const BadInput& row : table) {
    Value v(AbstractData::create(row.info));
    EXPECT_FALSE(berDecode(row.octets, *v)) << row.name;
  }
}

// A trailing OPTIONAL component of an inner SEQUENCE shares its tag [1]
// with the next component of the outer one: the inner content end, not the
// next tag, decides that it is absent.
TEST(BerCoder, TrailingOptionalDoesNotTakeParentsField) {
  std::vector<char> in = bytes({0x30, 0x08, 0xA0, 0x03, 0x80, 0x01, 0x01, 0x81, 0x01, 0x02});
  SEQUENCE outer(&outerInfo);
  ASSERT_TRUE(berDecode(in, outer));
  SEQUENCE& tail = static_cast<SEQUENCE&>(*outer.getField(0));
  EXPECT_FALSE(tail.hasOptionalField(0));
  EXPECT_EQ(1, static_cast<INTEGER&>(*tail.getField(0)).getValue());
  EXPECT_EQ(2, static_cast<INTEGER&>(*outer.getField(1)).getValue());
}

// Input that is not as this encoder writes it but that the rules still read:
// each row decodes to the value its fill builds.
TEST(BerCoder, AcceptsWhatTheRulesAllow) {
  const Vector table[] = {
      {"unknown alternative of an extensible choice", &topInfo,
       [](AbstractData& v) {
         field<INTEGER>(v, 0) = 5;
         field<CHOICE>(v, 2).setSelection(CHOICE::unknownSelection_, nullptr);
       },
       bytes({0x30, 0x07, 0x80, 0x01, 0x05, 0xA2, 0x02, 0x89, 0x00})},
      // Automatic tags are context-specific: [UNIVERSAL 1] is not alternative 1.
      {"universal tag in an extensible choice", &topInfo,
       [](AbstractData& v) {
         field<CHOICE>(v, 2).setSelection(CHOICE::unknownSelection_, nullptr);
       },
       bytes({0x30, 0x05, 0xA2, 0x03, 0x01, 0x01, 0x05})},
      {"unknown trailing component", &innerInfo,
       [](AbstractData& v) { field<BOOLEAN>(v, 0) = true; },
       bytes({0x30, 0x06, 0x80, 0x01, 0x01, 0x89, 0x01, 0x00})},
      {"unknown trailing component, then the next field", &outerInfo,
       [](AbstractData& v) {
         field<INTEGER>(field<SEQUENCE>(v, 0), 0) = 1;
         field<INTEGER>(v, 1) = 2;
       },
       bytes({0x30, 0x0B, 0xA0, 0x06, 0x80, 0x01, 0x01, 0x89, 0x01, 0x00, 0x81, 0x01, 0x02})},
      {"octets after the value", &Null::theInfo, nullptr, bytes({0x05, 0x00, 0xFF})},
      {"five-octet integer keeps four", &INTEGER::theInfo, set<INTEGER>(5),
       bytes({0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x05})},
      {"five-octet enumerated keeps four", &stateInfo, setEnum(16),
       bytes({0x0A, 0x05, 0xFF, 0x00, 0x00, 0x00, 0x10})},
      {"boolean takes its last octet", &BOOLEAN::theInfo, set<BOOLEAN>(true),
       bytes({0x01, 0x02, 0x00, 0x07})},
      {"empty boolean", &BOOLEAN::theInfo, nullptr, bytes({0x01, 0x00})},
      {"primitive sequence", &innerInfo, [](AbstractData& v) { field<BOOLEAN>(v, 0) = true; },
       bytes({0x10, 0x03, 0x80, 0x01, 0x01})},
      {"primitive list", &intListInfo,
       [](AbstractData& v) { static_cast<SEQUENCE_OF_Base&>(v).resize(1); },
       bytes({0x10, 0x03, 0x02, 0x01, 0x00})},
      {"primitive choice wrapper", &topInfo,
       [](AbstractData& v) {
         field<INTEGER>(v, 0) = 5;
         select<INTEGER>(field<CHOICE>(v, 2), 1) = 7;
       },
       bytes({0x30, 0x08, 0x80, 0x01, 0x05, 0x82, 0x03, 0x81, 0x01, 0x07})},
  };
  for (const Vector& row : table) {
    Value expected = make(row.info, row.fill);
    Value decoded(AbstractData::create(row.info));
    EXPECT_TRUE(berDecode(row.octets, *decoded)) << row.name;
    EXPECT_EQ(*expected, *decoded) << row.name << "\n" << decoded->asValueNotation();
  }

  // Decoding into a used value: an OPTIONAL component that the input lacks
  // is cleared, and the alternative is made afresh (an empty BOOLEAN keeps
  // what its new object holds, not the old one's value).
  SEQUENCE reused(&innerInfo);
  field<OCTET_STRING>(reused, 1) = bytes({1});
  ASSERT_TRUE(berDecode(bytes({0x30, 0x03, 0x80, 0x01, 0x01}), reused));
  EXPECT_FALSE(reused.hasOptionalField(0));
  SEQUENCE top(&topInfo);
  field<BOOLEAN>(select<SEQUENCE>(field<CHOICE>(top, 2), 2), 0) = true;
  ASSERT_TRUE(berDecode(bytes({0x30, 0x06, 0xA2, 0x04, 0xA2, 0x02, 0x80, 0x00}), top));
  EXPECT_EQ(*make(&topInfo, [](AbstractData& v) { select<SEQUENCE>(field<CHOICE>(v, 2), 2); }),
            top);
}

TEST(BerCoder, RefusesToEncodeIncompleteValues) {
  std::vector<char> out;
  SEQUENCE top(&topInfo);
  EXPECT_FALSE(berEncode(top, out)) << "CHOICE without selection";
  OpenData open;
  EXPECT_FALSE(berEncode(open, out)) << "open type with nothing in it";
}

TEST(BerCoder, IntegerAndObjectLengths) {
  const struct {
    int value;
    int octets;
  } table[] = {{0, 1}, {127, 1}, {128, 2}, {-129, 2}, {32768, 3}, {INT_MAX, 4}, {INT_MIN, 4}};
  for (const auto& row : table) EXPECT_EQ(row.octets, getIntegerDataLength(row.value)) << row.value;

  OCTET_STRING s(octetString(200));
  EXPECT_EQ(200u, getDataLength(s));
  EXPECT_EQ(203u, getObjectLength(s, BEREncoder::NoOverride));
  EXPECT_EQ(200u, getObjectLength(s, 0));
  EXPECT_EQ(204u, getObjectLength(s, contextTag(31)));
}

// Open types carry the whole encoding of their value; a deferred one keeps
// the octets and decodes them on the second visit.
TEST(BerCoder, OpenTypeCarriesWholeEncoding) {
  OpenData open(&OpenData::theInfo, new INTEGER(300));
  std::vector<char> out;
  ASSERT_TRUE(berEncode(open, out));
  EXPECT_EQ(hex(bytes({0x02, 0x02, 0x01, 0x2C})), hex(out));

  OpenData deferred(&OpenData::theInfo, new INTEGER(0));
  BERDecoder decoder(out.data(), out.data() + out.size());
  ASSERT_TRUE(deferred.accept(decoder));
  ASSERT_TRUE(deferred.has_buf());
  EXPECT_EQ(hex(out), hex(deferred.get_buf()));
  EXPECT_TRUE(decoder.do_revisit(deferred));
  EXPECT_EQ(300, static_cast<INTEGER&>(deferred.get_data()).getValue());

  OpenData raw;
  raw.get_buf() = bytes({0x05, 0x00});
  out.clear();
  ASSERT_TRUE(berEncode(raw, out));
  EXPECT_EQ(hex(bytes({0x05, 0x00})), hex(out));
}

}  // namespace
