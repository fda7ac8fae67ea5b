// Value notation as the logs show it, and the checkers' verdicts and texts.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "asn1/avn.h"
#include "asn1/validity.h"
#include "asn1_test_util.h"
#include "testmod/TESTMOD.h"

namespace {

using asn1test::unhex;
using namespace TESTMOD;

using asn1test::Value;
using asn1test::with;

struct PrintCase {
  const char* label;
  std::function<Value()> make;
  const char* text;
};

TEST(ValueNotationPrint, Texts) {
  const PrintCase cases[] = {
      {"NULL", [] { return Value(new ASN1::Null); }, "NULL"},
      {"BOOLEAN", [] { return Value(new ASN1::BOOLEAN(true)); }, "TRUE"},
      {"unconstrained INTEGER, all bits set", [] { return Value(new ASN1::INTEGER(-1)); }, "-1"},
      {"INTEGER with lower bound 0, all bits set",
       [] {
         Value v(new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u>);
         static_cast<ASN1::INTEGER&>(*v).setValue(-1);
         return v;
       },
       "4294967295"},
      {"signed range",
       [] {
         return Value(new ASN1::INTEGER(
             -5, &ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127>::theInfo));
       },
       "-5"},
      {"sparse enumeration prints the table entry",
       [] { return with<Sparse>([](Sparse& e) { e = Sparse::cs1; }); }, "cs1=8"},
      {"value no enumerator carries",
       [] { return with<Sparse>([](Sparse& e) { e.setFromInt(2); }); }, "2"},
      {"value past the table", [] { return with<Sparse>([](Sparse& e) { e.setFromInt(300); }); },
       "300"},
      {"negative value", [] { return with<Standby>([](Standby& e) { e = Standby::not_use; }); },
       "-1"},
      {"OBJECT IDENTIFIER",
       [] {
         return Value(new ASN1::OBJECT_IDENTIFIER{1, 3, 6, 1});
       },
       "{ 1 3 6 1 }"},
      {"BIT STRING",
       [] {
         Value v(new ASN1::BIT_STRING);
         ASN1::BIT_STRING& b = static_cast<ASN1::BIT_STRING&>(*v);
         b.resize(5);
         b.set(0);
         b.set(3);
         return v;
       },
       "'10010'B"},
      {"BIT STRING without its octets",
       [] {
         Value v(new ASN1::BIT_STRING);
         ASN1::BIT_STRING& b = static_cast<ASN1::BIT_STRING&>(*v);
         b.resize(3);
         b.getData().clear();
         b.getData().shrink_to_fit();
         b.set(1);  // no octet to hold it
         b.clear(2);
         return v;
       },
       "'000'B"},
      {"OCTET STRING", [] { return Value(new ASN1::OCTET_STRING(unhex("0a ff 00"))); },
       "'0a ff 00'H"},
      {"empty OCTET STRING", [] { return Value(new ASN1::OCTET_STRING); }, "''H"},
      {"IA5String unescaped", [] { return Value(new ASN1::IA5String("a\"b")); }, "\"a\"b\""},
      {"BMPString", [] { return Value(new ASN1::BMPString(L"hi")); }, "\"hi\""},
      {"GeneralizedTime",
       [] { return Value(new ASN1::GeneralizedTime(2001, 2, 3, 4, 5, 6, 0, 0, true)); },
       "\"20010203040506Z\""},
      {"CHOICE of NULL", [] { return with<One>([](One& o) { o.select_only(); }); }, "only : NULL"},
      {"exact spelling of a name", [] { return with<Names>([](Names& n) { n.set_trunk_bri(4); }); },
       "{\n  trunk_bri 4,\n  in-progress FALSE\n}"},
      {"empty SEQUENCE", [] { return Value(new Empty); }, "{\n}"},
      {"empty SEQUENCE OF", [] { return Value(new ASN1::SEQUENCE_OF<ASN1::INTEGER>); }, "{\n}"},
      {"nesting",
       [] {
         return with<TESTMOD::Message>([](TESTMOD::Message& m) {
           m.includeOptionalField(TESTMOD::Message::o_seq, TESTMOD::Message::f_seq);
           m.set_seq(1);
           m.includeOptionalField(TESTMOD::Message::o_slot, TESTMOD::Message::f_slot);
           m.set_slot(5);
           Lists& l = m.get_pdu().select_lists();
           l.get_numbers().push_back(ASN1::INTEGER(3));
           l.get_numbers().push_back(ASN1::INTEGER(4));
           TESTIMP::Pair p;
           p.set_first(2);
           p.includeOptionalField(TESTIMP::Pair::o_second, TESTIMP::Pair::f_second);
           l.get_pairs().push_back(p);
         });
       },
       "{\n  seq 1,\n  slot 5,\n  pdu lists : {\n    numbers {\n      3,\n      4\n    },\n"
       "    bounded {\n    },\n    names {\n    },\n"
       "    pairs {\n      {\n        first 2,\n        second FALSE\n      }\n    }\n  }\n}"},
      {"known extension printed like a root field",
       [] { return with<Extended>([](Extended& e) { e.set_d(7); }); },
       "{\n  a 0,\n  e NULL,\n  d 7\n}"},
      {"open type with a value and octets: the value",
       [] {
         return with<ASN1::OpenData>([](ASN1::OpenData& o) {
           o.grab(new ASN1::INTEGER(5));
           o.get_buf() = unhex("80");
         });
       },
       "5"},
      {"open type with octets only",
       [] { return with<Misc>([](Misc& m) { m.get_open().get_buf() = unhex("80"); }); },
       "{\n  nothing NULL,\n  flag FALSE,\n  when \"00010101000000\",\n  oid { },\n  open "
       "'80'H\n}"},
  };
  for (const PrintCase& c : cases) {
    Value v = c.make();
    std::ostringstream os;
    os << *v;
    EXPECT_EQ(c.text, os.str()) << c.label;
    EXPECT_TRUE(os.good()) << c.label;
    EXPECT_EQ(c.text, v->asValueNotation()) << c.label;
  }
}

TEST(ValueNotationPrint, OctetStringLeavesStreamFormat) {
  std::ostringstream os;
  os << std::hex << ASN1::OCTET_STRING(unhex("0a")) << ' ' << 255;
  EXPECT_EQ("'0a'H ff", os.str());
  EXPECT_EQ(' ', os.fill());
}

TEST(ValueNotationPrint, UnprintableValueKeepsTheStreamUsable) {
  TESTMOD::Message m;  // pdu without selection
  std::ostringstream os;
  os << "msg " << m << " end";
  EXPECT_TRUE(os.good());
  EXPECT_EQ("msg {\n  pdu  end", os.str());
  EXPECT_EQ(std::ios_base::failbit, m.print_on(os));
  EXPECT_EQ("{\n  pdu ", m.asValueNotation());
  // A field marked present whose object was never made fails the print too.
  TESTMOD::Message marked;
  marked.includeOptionalField(TESTMOD::Message::o_seq, 99);
  marked.get_pdu().select_one().select_only();
  EXPECT_EQ(std::ios_base::failbit, marked.print_on(os));
  EXPECT_EQ("{\n", marked.asValueNotation());
  // So does a list element, and the elements after it are not printed.
  ASN1::SEQUENCE_OF<Pdu> list;
  list.resize(2);
  list[1].select_one().select_only();
  EXPECT_EQ(std::ios_base::failbit, list.print_on(os));
  EXPECT_EQ("{\n  ", list.asValueNotation());
}

// A stream whose buffer throws on every write.
struct ThrowingBuffer : std::streambuf {
  int overflow(int) override { throw std::runtime_error("device gone"); }
};

TEST(ValueNotationPrint, ThrowingStreamGoesBadAndRethrowsOnlyWhenAsked) {
  ThrowingBuffer buffer;
  std::ostream quiet(&buffer);
  EXPECT_NO_THROW(quiet << ASN1::BOOLEAN(true));
  EXPECT_TRUE(quiet.bad());
  std::ostream loud(&buffer);
  loud.exceptions(std::ios_base::badbit);
  EXPECT_THROW(loud << ASN1::BOOLEAN(true), std::runtime_error);
  EXPECT_TRUE(loud.bad());
}

TEST(ValueNotationPrint, FailedStreamReceivesNothing) {
  std::ostringstream os;
  os.setstate(std::ios_base::failbit);
  os << ASN1::BOOLEAN(true);
  EXPECT_EQ("", os.str());
  EXPECT_TRUE(os.fail());
}

// ---------------------------------------------------------------------------

struct CheckCase {
  const char* label;
  std::function<Value()> make;
  bool valid;
  bool strict;
  const char* trace;  // text after the prefix, or "" when nothing is written
};

typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127> Int8s;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> Int1023;
typedef ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 10> IntExt;

Value integer(int v, const void* info) {
  return Value(new ASN1::INTEGER(v, info));
}

const char kUncodable[] = "p This OBJECT IDENTIFIER has arcs that cannot be coded";
std::function<Value()> Oid(std::vector<std::uint32_t> arcs) {
  return [arcs] {
    ASN1::OBJECT_IDENTIFIER* oid = new ASN1::OBJECT_IDENTIFIER;
    oid->arcs() = arcs;
    return Value(oid);
  };
}

const char kBadTime[] = "p This GeneralizedTime is not valid";
// A time on 2000-01-01 but for the fields given, its offset in minutes.
std::function<Value()> Time(int month, int hour, int offset) {
  return [=] {
    return Value(new ASN1::GeneralizedTime(2000, month, 1, hour, 0, 0, 0, offset, false));
  };
}

TEST(Validity, CheckersAndTracer) {
  const CheckCase cases[] = {
      {"generic INTEGER takes every value", [] { return integer(-7, &ASN1::INTEGER::theInfo); },
       true, true, ""},
      {"empty string without a size bound", [] { return Value(new ASN1::PrintableString); }, true,
       true, ""},
      {"0..4294967295 above 2^31",
       [] {
         Value v(new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u>);
         static_cast<ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u>&>(*v) =
             3000000000u;
         return v;
       },
       true, true, ""},
      {"-128..127 = -5", [] { return integer(-5, &Int8s::theInfo); }, true, true, ""},
      {"-5..MAX has no upper bound",
       [] {
         return integer(
             5, &ASN1::Constrained_INTEGER<ASN1::PartiallyConstrained, -5, 4294967295u>::theInfo);
       },
       true, true, ""},
      {"-128..127 = 200", [] { return integer(200, &Int8s::theInfo); }, false, false,
       "p The INTEGER value 200 is greater than upper bound 127"},
      {"-128..127 = -200", [] { return integer(-200, &Int8s::theInfo); }, false, false,
       "p The INTEGER value -200 is smaller than lower bound -128"},
      {"0..1023 = -1 compares unsigned", [] { return integer(-1, &Int1023::theInfo); }, false,
       false, "p The INTEGER value 4294967295 is greater than upper bound 1023"},
      {"extendable above upper: valid, not reported", [] { return integer(11, &IntExt::theInfo); },
       true, false, ""},
      {"extendable below lower: valid, reported",
       [] {
         return integer(-11,
                        &ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, -10, 10>::theInfo);
       },
       true, false, "p The INTEGER value -11 is smaller than lower bound -10"},
      {"extendable ENUMERATED above the root",
       [] { return with<Gain>([](Gain& g) { g = Gain::extra; }); }, true, false,
       "p This ENUMERATED has invalid value 300"},
      {"OBJECT IDENTIFIER without arcs", [] { return Value(new ASN1::OBJECT_IDENTIFIER); }, false,
       false, "p This OBJECT IDENTIFIER is not assigned"},
      // Arcs the coders would write as another identifier.
      {"OID 1", Oid({1}), false, false, kUncodable},
      {"OID 1.40", Oid({1, 40}), false, false, kUncodable},
      {"OID 3.1", Oid({3, 1}), false, false, kUncodable},
      {"OID 2 past 32 bits", Oid({2, 4294967216u}), false, false, kUncodable},
      {"OID 2 at 32 bits", Oid({2, 4294967215u}), true, true, ""},
      {"string too short", [] { return Value(new ShortName); }, false, false,
       "p This AbstractString has size 0 smaller than its lower bound 1"},
      {"string too long", [] { return with<ShortName>([](ShortName& s) { s = "123456789"; }); },
       false, false, "p This AbstractString has size 9 greater than its upper bound 8"},
      {"character outside the table", [] { return Value(new ASN1::NumericString("12a")); }, false,
       false, "p The character 'a' is not valid for the string"},
      {"GeneralizedTime hour 24, 12 hours behind UTC", Time(1, 24, -720), true, true, ""},
      {"GeneralizedTime month 13", Time(13, 0, 0), false, false, kBadTime},
      {"GeneralizedTime midnight, 12 hours ahead", Time(1, 0, 720), true, true, ""},
      {"GeneralizedTime hour 25", Time(1, 25, 0), false, false, kBadTime},
      {"GeneralizedTime 12 hours and a minute ahead", Time(1, 0, 721), false, false, kBadTime},
      {"ENUMERATED at its highest root value",
       [] { return with<Sparse>([](Sparse& e) { e = Sparse::af11; }); }, true, true, ""},
      {"CHOICE not selected", [] { return Value(new Pdu); }, false, false,
       "p This CHOICE is not selected"},
      {"CHOICE unknown",
       [] {
         return with<Pdu>([](Pdu& p) {
           p.setSelection(99, nullptr);
           p.createSelection();
         });
       },
       false, false, "p This selection is not understood by this decoder"},
      {"CHOICE extension: valid, not strictly",
       [] { return with<Pdu>([](Pdu& p) { p.select_later(); }); }, true, false, ""},
      {"path through SEQUENCE and CHOICE",
       [] {
         return with<TESTMOD::Message>(
             [](TESTMOD::Message& m) { m.get_pdu().select_numbers().get_fixed().setValue(2000); });
       },
       false, false, "p.pdu.numbers.fixed The INTEGER value 2000 is greater than upper bound 1023"},
      {"invalid optional field that is absent",
       [] {
         return with<TESTMOD::Message>([](TESTMOD::Message& m) {
           m.get_pdu().select_one().select_only();
           m.set_slot(2000);
         });
       },
       true, true, ""},
      {"list element",
       [] {
         return with<Lists>([](Lists& l) {
           for (int i = 0; i < 3; ++i)
             l.get_bounded().push_back(ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 7>());
           l.get_bounded()[1] = 9u;
         });
       },
       false, false, "p.bounded[1] The INTEGER value 9 is greater than upper bound 7"},
      {"known addition outside its characters",
       [] {
         return with<Extended>([](Extended& e) {
           e.includeOptionalField(Extended::o_c, Extended::f_c);
           e.set_c("\x80");
         });
       },
       false, false, "p.c The character '\x80' is not valid for the string"},
      {"list too short", [] { return Value(new Lists); }, false, false,
       "p.bounded This SEQUENCE OF has size 0 smaller than its lower bound 1"},
      {"open type without data", [] { return Value(new ASN1::OpenData); }, false, false,
       "p This Open Type does not contain any valid data"},
      {"open type with an invalid value and octets",
       [] {
         return with<ASN1::OpenData>([](ASN1::OpenData& o) {
           o.grab(new ASN1::INTEGER(200, &Int8s::theInfo));
           o.get_buf();
         });
       },
       false, false, "p The INTEGER value 200 is greater than upper bound 127"},
      {"open type with octets",
       [] { return with<ASN1::OpenData>([](ASN1::OpenData& o) { o.get_buf(); }); }, true, true, ""},
      {"fixed OCTET STRING size",
       [] {
         return with<Octets>([](Octets& o) {
           o.set_fixed(unhex("00 00 00 00"));
           o.get_flags().resize(9);
         });
       },
       false, false, "p.flags This BIT STRING has size 9 greater than its upper bound 8"},
  };
  for (const CheckCase& c : cases) {
    Value v = c.make();
    EXPECT_EQ(c.valid, v->isValid()) << c.label;
    EXPECT_EQ(c.strict, v->isStrictlyValid()) << c.label;
    std::ostringstream os;
    bool ok = ASN1::trace_invalid(os, "p", *v);
    std::string expected = *c.trace ? std::string(c.trace) + "\n" : "";
    EXPECT_EQ(expected, os.str()) << c.label;
    EXPECT_EQ(expected.empty(), ok) << c.label;
  }
}

}  // namespace
