// PER vectors: every value encodes to exactly the octets given and those
// octets decode back into an equal value that re-encodes the same; every
// proper prefix of every vector fails to decode.

#include <gtest/gtest.h>

#include <climits>
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
using asn1test::unhex;
using namespace TESTMOD;

using asn1test::Value;
using asn1test::with;

struct Vector {
  const char* label;
  std::function<Value()> make;
  const char* aligned;    // octets in the ALIGNED variant (null: encoding fails)
  const char* unaligned;  // octets in the UNALIGNED variant (null: not checked)
  bool deferred = false;  // holds an open type: decodes to raw octets, not the value
};

template <class T>
Value integer(long long v) {
  std::unique_ptr<T> p(new T);
  p->setValue(static_cast<int>(static_cast<unsigned>(v)));
  return Value(p.release());
}

typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> Int1023;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 255> Int255;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 7> Int7;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65535> Int65535;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65536> Int65536;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> Int32u;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127> Int8s;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 5, 5> IntSingle;
typedef ASN1::Constrained_INTEGER<ASN1::PartiallyConstrained, 0, 4294967295u> IntSemi;
typedef ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, -10, 10> IntExt;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 112000, 399975> IntOffset;

Value octets(const std::string& hexText) {
  return Value(new ASN1::OCTET_STRING(unhex(hexText)));
}

const std::vector<Vector>& vectors() {
  static const std::vector<Vector> table = {
      // Constrained whole numbers of each width.
      {"0..7 = 5 in 3 bits", [] { return integer<Int7>(5); }, "a0", "a0"},
      {"0..1023 = 5: 16 bits aligned, 10 unaligned", [] { return integer<Int1023>(5); }, "00 05",
       "01 40"},
      {"0..255 = 200: one aligned octet", [] { return integer<Int255>(200); }, "c8", "c8"},
      {"0..65535 = 0x1234: two octets", [] { return integer<Int65535>(0x1234); }, "12 34", "12 34"},
      {"0..65536 = 0: length 1 then one octet", [] { return integer<Int65536>(0); }, "00 00",
       "00 00 00"},
      {"0..65536 = 65536: three octets", [] { return integer<Int65536>(65536); }, "80 01 00 00",
       "80 00 00"},
      {"0..4294967295 = 3000000000", [] { return integer<Int32u>(3000000000u); }, "c0 b2 d0 5e 00",
       "b2 d0 5e 00"},
      {"0..4294967295 = 0", [] { return integer<Int32u>(0); }, "00 00", "00 00 00 00"},
      {"-128..127 = -5", [] { return integer<Int8s>(-5); }, "7b", "7b"},
      {"5..5 writes nothing", [] { return integer<IntSingle>(5); }, "", ""},
      {"112000..399975 = lower", [] { return integer<IntOffset>(112000); }, "00 00", "00 00 00"},
      {"112000..399975 = upper", [] { return integer<IntOffset>(399975); }, "80 04 64 e7",
       "8c 9c e0"},
      {"0..1023 = 1024 fails", [] { return integer<Int1023>(1024); }, nullptr, nullptr},
      {"-128..127 = 200 fails", [] { return integer<Int8s>(200); }, nullptr, nullptr},
      // Unconstrained and semi-constrained: the value itself in two's complement.
      {"INTEGER 0", [] { return integer<ASN1::INTEGER>(0); }, "01 00", "01 00"},
      {"INTEGER -1", [] { return integer<ASN1::INTEGER>(-1); }, "01 ff", "01 ff"},
      {"INTEGER 128", [] { return integer<ASN1::INTEGER>(128); }, "02 00 80", "02 00 80"},
      {"INTEGER -129", [] { return integer<ASN1::INTEGER>(-129); }, "02 ff 7f", "02 ff 7f"},
      {"INTEGER min", [] { return integer<ASN1::INTEGER>(INT_MIN); }, "04 80 00 00 00",
       "04 80 00 00 00"},
      {"0..MAX = 5 codes the value", [] { return integer<IntSemi>(5); }, "01 05", "01 05"},
      {"0..MAX = 3000000000", [] { return integer<IntSemi>(3000000000u); }, "04 b2 d0 5e 00",
       "04 b2 d0 5e 00"},
      // Extendable range.
      {"-10..10,... = -5 inside", [] { return integer<IntExt>(-5); }, "14", "14"},
      {"-10..10,... = -20 outside", [] { return integer<IntExt>(-20); }, "80 01 ec", "80 01 ec"},
      // BOOLEAN, NULL.
      {"BOOLEAN TRUE", [] { return Value(new ASN1::BOOLEAN(true)); }, "80", "80"},
      {"NULL", [] { return Value(new ASN1::Null); }, "", ""},
      // ENUMERATED by value up to the highest value.
      {"sparse 8 in 4 bits, not its index",
       [] { return with<Sparse>([](Sparse& e) { e = Sparse::cs1; }); }, "80", "80"},
      {"sparse 3 declared last", [] { return with<Sparse>([](Sparse& e) { e = Sparse::count; }); },
       "30", "30"},
      {"negative root value 0",
       [] { return with<Standby>([](Standby& e) { e = Standby::active; }); }, "00", "00"},
      {"negative enumerator cannot be coded",
       [] { return with<Standby>([](Standby& e) { e = Standby::not_use; }); }, nullptr, nullptr},
      {"extendable enum in root, range 256",
       [] { return with<Gain>([](Gain& e) { e = Gain::rsh; }); }, "00 0a", "05 00"},
      {"extendable enum addition 300", [] { return with<Gain>([](Gain& e) { e = Gain::extra; }); },
       "c0 02 01 2d 01 2c", "c0 02 01 2d 96 00"},
      {"imported extendable enum",
       [] { return with<TESTIMP::Colour>([](TESTIMP::Colour& e) { e = TESTIMP::Colour::blue; }); },
       "40", "40"},
      {"not extendable, above highest",
       [] { return with<Sparse>([](Sparse& e) { e.setFromInt(11); }); }, nullptr, nullptr},
      // OCTET STRING forms.
      {"octets empty", [] { return octets(""); }, "00", "00"},
      {"octets 2: 8-bit fields", [] { return octets("ab cd"); }, "02 ab cd", "02 ab cd"},
      {"octets 3: block", [] { return octets("01 02 03"); }, "03 01 02 03", "03 01 02 03"},
      {"octets of every form in one SEQUENCE",
       [] {
         return with<Octets>([](Octets& o) {
           o.set_any(unhex("ab cd"));
           o.set_fixed(unhex("01 02 03 04"));
           o.set_ranged(unhex("55"));
           o.get_bits().resize(3);
           o.get_bits().set(0);
           o.get_bits().set(2);
           o.get_flags().resize(8);
           o.get_flags().getData()[0] = static_cast<char>(0xf0);
           o.get_long_bits().resize(20);
           o.get_long_bits().getData() = unhex("ab cd e0");
         });
       },
       "02 ab cd 01 02 03 04 05 54 03 be 05 00 ab cd e0",
       "02 ab cd 01 02 03 04 05 54 03 be 05 2a f3 78"},
      {"BIT STRING of 16 bits behind its length: not aligned",
       [] {
         return with<Octets>([](Octets& o) {
           o.set_fixed(unhex("00 00 00 00"));
           o.get_flags().resize(8);
           o.get_long_bits().resize(16);
           o.get_long_bits().getData() = unhex("ab cd");
         });
       },
       "00 00 00 00 00 00 00 00 21 57 9a", "00 00 00 00 00 00 00 00 21 57 9a"},
      {"extendable size, outside the root",
       [] {
         return with<Octets>([](Octets& o) {
           o.set_fixed(unhex("00 00 00 00"));
           o.set_ranged(std::vector<char>(21, 'x'));
           o.get_flags().resize(8);
         });
       },
       "00 00 00 00 00 80 15 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 00 00 "
       "00",
       nullptr},
      {"fixed size violated",
       [] { return with<Octets>([](Octets& o) { o.set_fixed(unhex("00")); }); }, nullptr, nullptr},
      {"BIT STRING without its octets goes as zeros",
       [] {
         return with<ASN1::BIT_STRING>([](ASN1::BIT_STRING& b) {
           b.resize(20);
           b.getData().clear();
           b.getData().shrink_to_fit();
         });
       },
       "14 00 00 00", "14 00 00 00"},
      // Strings.
      {"IA5String: octet block", [] { return Value(new ASN1::IA5String("hi")); }, "02 68 69",
       "02 d1 a4"},
      {"IA5String (SIZE (1..8))", [] { return with<ShortName>([](ShortName& s) { s = "ab"; }); },
       "20 61 62", "38 71 00"},
      {"IA5String (SIZE (1..8)) too long",
       [] { return with<ShortName>([](ShortName& s) { s = "abcdefghi"; }); }, nullptr, nullptr},
      {"IA5String non-ASCII goes as octets aligned",
       [] { return Value(new ASN1::IA5String("\xe9")); }, "01 e9", nullptr},
      {"NumericString: table indexes", [] { return Value(new ASN1::NumericString("123")); },
       "03 23 40", "03 23 40"},
      {"NumericString: character outside", [] { return Value(new ASN1::NumericString("1a")); },
       nullptr, nullptr},
      {"GeneralString", [] { return Value(new ASN1::GeneralString("\xe9")); }, "01 e9", "01 e9"},
      {"BMPString", [] { return Value(new ASN1::BMPString(L"A")); }, "01 00 41", "01 00 41"},
      {"strings of every kind in one SEQUENCE",
       [] {
         return with<Strings>([](Strings& s) {
           s.set_ia5("a");
           s.set_name("xy");
           s.set_code("ok");
           s.set_digits("9");
           s.set_printable("P");
           s.set_visible("v");
           s.set_general("g");
           s.set_dial("9#");
           s.set_bmp(ASN1::BMPString(L"\x263a"));
           s.set_short_bmp(ASN1::BMPString(L"AB"));
         });
       },
       "01 61 04 78 79 6f 6b 01 a0 01 50 01 76 01 67 02 b0 01 26 3a 40 00 41 00 42",
       "01 c2 0f 8f 3b f5 80 01 a0 01 a0 01 ec 01 67 02 b0 01 26 3a 40 10 40 10 80"},
      // OBJECT IDENTIFIER, GeneralizedTime.
      {"OBJECT IDENTIFIER 1.2.840",
       [] {
         return Value(new ASN1::OBJECT_IDENTIFIER{1, 2, 840});
       },
       "03 2a 86 48", "03 2a 86 48"},
      {"GeneralizedTime", [] { return Value(new ASN1::GeneralizedTime("20240102030405.250Z")); },
       "13 32 30 32 34 30 31 30 32 30 33 30 34 30 35 2e 32 35 30 5a",
       "13 32 30 32 34 30 31 30 32 30 33 30 34 30 35 2e 32 35 30 5a"},
      // CHOICE indexes.
      {"CHOICE with one root alternative: no bits",
       [] { return with<One>([](One& c) { c.select_only(); }); }, "", ""},
      {"CHOICE root index in 4 bits",
       [] { return with<Pdu>([](Pdu& c) { c.select_pair().get_first() = 7u; }); }, "28 07",
       "28 1c"},
      {"CHOICE extension addition as open type",
       [] { return with<Pdu>([](Pdu& c) { c.select_later() = 5u; }); }, "80 01 a0", "80 01 a0"},
      {"CHOICE extension NULL: one zero octet",
       [] { return with<Pdu>([](Pdu& c) { c.select_last_one(); }); }, "81 01 00", "81 01 00"},
      {"CHOICE without selection fails", [] { return Value(new Pdu); }, nullptr, nullptr},
      // SEQUENCE presence maps and extensions.
      {"optional map of zeros",
       [] {
         return with<TESTMOD::Message>(
             [](TESTMOD::Message& m) { m.get_pdu().select_colour() = TESTIMP::Colour::blue; });
       },
       "0c 80", "0c 80"},
      {"optional fields present",
       [] {
         return with<TESTMOD::Message>([](TESTMOD::Message& m) {
           m.includeOptionalField(TESTMOD::Message::o_seq, TESTMOD::Message::f_seq);
           m.set_seq(1);
           m.includeOptionalField(TESTMOD::Message::o_slot, TESTMOD::Message::f_slot);
           m.set_slot(5);
           m.get_pdu().select_colour() = TESTIMP::Colour::green;
         });
       },
       "c0 01 01 00 05 31", "c0 01 01 01 4c 40"},
      {"extendable, no additions",
       [] {
         return with<Growing>([](Growing& g) {
           g.set_a(1);
           g.includeOptionalField(Growing::o_b, Growing::f_b);
           g.set_b(true);
         });
       },
       "4c", "4c"},
      {"mandatory addition present from construction",
       [] {
         return with<Extended>([](Extended& e) {
           e.set_a(3);
           e.set_d(42);
         });
       },
       "98 14 02 01 2a", "98 14 02 01 2a"},
      {"extension map with entries but no set bit",
       [] {
         return with<Extended>([](Extended& e) {
           e.set_a(3);
           e.removeOptionalField(Extended::o_d);
         });
       },
       "18", "18"},
      {"optional addition",
       [] {
         return with<Extended>([](Extended& e) {
           e.includeOptionalField(Extended::o_c, Extended::f_c);
           e.set_c("z");
           e.set_d(1);
         });
       },
       "80 1c 02 01 7a 02 01 01", "80 1c 02 01 7a 02 01 01"},
      // Lists.
      {"SEQUENCE OF INTEGER",
       [] {
         return with<Lists>([](Lists& l) {
           l.get_numbers().push_back(ASN1::INTEGER(1));
           l.get_numbers().push_back(ASN1::INTEGER(2));
           l.get_bounded().push_back(Int7());
           l.get_pairs().push_back(TESTIMP::Pair());
         });
       },
       "00 02 01 01 01 02 00 01 00 00", "00 02 01 01 01 02 00 01 00 00"},
      {"SEQUENCE OF with extendable size outside the root",
       [] {
         return with<Lists>([](Lists& l) {
           l.get_bounded().push_back(Int7());
           for (int i = 0; i < 3; ++i) l.get_names().push_back(ASN1::IA5String("a"));
         });
       },
       "00 00 04 03 01 61 01 61 01 61 00", "00 00 04 03 01 c2 01 c2 01 c2 00"},
      {"SEQUENCE OF size below its fixed range", [] { return with<Lists>([](Lists&) {}); }, nullptr,
       nullptr},
      {"SEQUENCE OF element outside its range",
       [] {
         return with<Lists>([](Lists& l) {
           l.get_bounded().resize(1);
           l.get_bounded()[0] = 9u;
         });
       },
       nullptr, nullptr},
      // Open type.
      {"open type with a value",
       [] {
         return with<Misc>([](Misc& m) {
           m.get_open().grab(new ASN1::BOOLEAN(true));
           m.get_oid().arcs() = {1, 3};
         });
       },
       "00 0e 30 30 30 31 30 31 30 31 30 30 30 30 30 30 01 2b 01 80", nullptr, true},
  };
  return table;
}

class PerVectors : public ::testing::TestWithParam<bool> {};

TEST_P(PerVectors, EncodeAndDecodeEveryVector) {
  bool aligned = GetParam();
  ASN1::CoderEnv env(aligned ? ASN1::CoderEnv::per_Aligned : ASN1::CoderEnv::per_Unaligned);
  for (const Vector& v : vectors()) {
    const char* expected = aligned ? v.aligned : v.unaligned;
    if (!aligned && !v.unaligned && v.aligned) continue;
    Value value = v.make();
    std::vector<char> out;
    bool ok = ASN1::encode(*value, &env, std::back_inserter(out));
    if (!expected) {
      EXPECT_FALSE(ok) << v.label;
      EXPECT_TRUE(out.empty()) << v.label;
      continue;
    }
    ASSERT_TRUE(ok) << v.label;
    EXPECT_EQ(hex(unhex(expected)), hex(out)) << v.label;

    std::vector<char> in = unhex(expected);
    Value decoded(ASN1::AbstractData::create(value->info()));
    ASSERT_TRUE(ASN1::decode(in.data(), in.data() + in.size(), &env, *decoded, true)) << v.label;
    if (!v.deferred) {
      EXPECT_EQ(0, decoded->compare(*value)) << v.label << "\n" << *decoded << "\n" << *value;
    }
    std::vector<char> again;
    ASSERT_TRUE(ASN1::encode(*decoded, &env, std::back_inserter(again))) << v.label;
    EXPECT_EQ(hex(in), hex(again)) << v.label;
  }
}

// A decoder never reads past its input: every proper prefix fails cleanly.
TEST_P(PerVectors, EveryPrefixFails) {
  bool aligned = GetParam();
  ASN1::CoderEnv env(aligned ? ASN1::CoderEnv::per_Aligned : ASN1::CoderEnv::per_Unaligned);
  for (const Vector& v : vectors()) {
    const char* expected = aligned ? v.aligned : v.unaligned;
    if (!expected) continue;
    std::vector<char> in = unhex(expected);
    Value proto = v.make();
    for (std::size_t n = 0; n < in.size(); ++n) {
      // An exact-size copy so that the sanitizer sees any read past it.
      std::unique_ptr<char[]> prefix(new char[n ? n : 1]);
      std::copy(in.begin(), in.begin() + static_cast<long>(n), prefix.get());
      Value decoded(ASN1::AbstractData::create(proto->info()));
      EXPECT_FALSE(ASN1::decode(prefix.get(), prefix.get() + n, &env, *decoded, true))
          << v.label << ": prefix of " << n << " octets";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, PerVectors, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "Aligned" : "Unaligned";
                         });

}  // namespace
