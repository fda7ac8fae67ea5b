// Value-notation reader: printed values read back equal, hand-written text
// reads as meant, bad text fails without touching the rest of the stream.
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "asn1/avn_decoder.h"
#include "asn1/coder_env.h"
#include "asn1/ber_types.h"

using namespace codertest;

namespace {

struct Sample {
  const char* name;
  const void* info;
  Fill fill;
};

const std::vector<Sample>& samples() {
  static const std::vector<Sample> table = {
      {"top none", &topInfo, [](AbstractData& v) { select<Null>(field<CHOICE>(v, 2), 0); }},
      {"top numbers", &topInfo,
       [](AbstractData& v) {
         field<INTEGER>(v, 0) = -5;
         field<SlotNumber>(v, 1) = 1023u;
         select<INTEGER>(field<CHOICE>(v, 2), 1) = 7;
       }},
      {"top inner", &topInfo,
       [](AbstractData& v) {
         SEQUENCE& inner = select<SEQUENCE>(field<CHOICE>(v, 2), 2);
         field<BOOLEAN>(inner, 0) = true;
         field<OCTET_STRING>(inner, 1) = bytes({0x00, 0x7F, 0xAB});
       }},
      {"top list", &topInfo,
       [](AbstractData& v) {
         SEQUENCE_OF_Base& l = select<SEQUENCE_OF_Base>(field<CHOICE>(v, 2), 3);
         l.resize(3);
         static_cast<INTEGER&>(l.elementAt(1)) = -2147483647 - 1;
         static_cast<INTEGER&>(l.elementAt(2)) = 42;
       }},
      {"top empty list", &topInfo,
       [](AbstractData& v) { select<SEQUENCE_OF_Base>(field<CHOICE>(v, 2), 3); }},
      {"top nested choice", &topInfo,
       [](AbstractData& v) { select<Null>(select<CHOICE>(field<CHOICE>(v, 2), 5), 0); }},
      {"top extension alternative", &topInfo,
       [](AbstractData& v) { select<IA5String>(field<CHOICE>(v, 2), 6) = "with blanks, commas}"; }},
      {"top full", &topInfo,
       [](AbstractData& v) {
         select<ENUMERATED>(field<CHOICE>(v, 2), 4).setFromInt(8);
         BIT_STRING& bits = field<BIT_STRING>(v, 3);
         bits.resize(11);
         bits.set(0);
         bits.set(10);
         field<IA5String>(v, 4) = "";
         SEQUENCE_OF_Base& states = field<SEQUENCE_OF_Base>(v, 5);
         states.resize(3);
         static_cast<ENUMERATED&>(states.elementAt(1)).setFromInt(4);
         static_cast<ENUMERATED&>(states.elementAt(2)).setFromInt(16);
         field<INTEGER>(v, 6) = 9;
       }},
      {"kinds", &kindsInfo,
       [](AbstractData& v) {
         field<OBJECT_IDENTIFIER>(v, 0).arcs() = {1, 2, 840, 113549};
         field<BMPString>(v, 1) = std::wstring(L"Hi there");
         field<GeneralizedTime>(v, 2) = GeneralizedTime(2024, 1, 2, 3, 4, 5, 250, -90, false);
         field<IntegerWithNamedNumber>(v, 3).setValue(9);
         field<Counter32>(v, 4) = 4000000000u;
         field<NumericString>(v, 5) = "0 12";
         select<INTEGER>(field<CHOICE>(v, 7), 1) = 5;
       }},
      {"kinds unnamed level", &kindsInfo,
       [](AbstractData& v) {
         field<IntegerWithNamedNumber>(v, 3).setValue(-3);
         select<Null>(field<CHOICE>(v, 7), 0);
       }},
      {"empty sequence", &emptyInfo, nullptr},
      {"negative enumerator", &modeInfo, setEnum(-1)},
      {"sparse enumeration unnamed", &stateInfo, setEnum(3)},
  };
  return table;
}

TEST(ValueNotationReader, PrintedValuesReadBackEqual) {
  for (const Sample& row : samples()) {
    Value original = make(row.info, row.fill);
    std::string text = original->asValueNotation();
    Value read(AbstractData::create(row.info));
    ASSERT_TRUE(read->setFromValueNotation(text)) << row.name << "\n" << text;
    EXPECT_EQ(*original, *read) << row.name << "\n" << text << "\n" << read->asValueNotation();
    EXPECT_EQ(text, read->asValueNotation()) << row.name;
  }
}

TEST(ValueNotationReader, ThroughCoderEnvironment) {
  Value original = make(samples()[7].info, samples()[7].fill);
  CoderEnv env(CoderEnv::avn);
  std::vector<char> text;
  ASSERT_TRUE(encode(*original, &env, std::back_inserter(text)));
  Value read(AbstractData::create(&topInfo));
  ASSERT_TRUE(decode(text.data(), text.data() + text.size(), &env, *read, true));
  EXPECT_EQ(*original, *read);
}

TEST(ValueNotationReader, ReadsHandWrittenText) {
  // Each row: the text, the record, and how the value it reads is built.
  const Sample table[] = {
      // Names end where punctuation starts.
      {"{ initial,speak=4,active}", &stateListInfo,
       [](AbstractData& v) {
         SEQUENCE_OF_Base& l = static_cast<SEQUENCE_OF_Base&>(v);
         l.resize(3);
         static_cast<ENUMERATED&>(l.elementAt(1)).setFromInt(4);
         static_cast<ENUMERATED&>(l.elementAt(2)).setFromInt(16);
       }},
      {"{seq 5,pick number:7}", &topInfo,
       [](AbstractData& v) {
         field<INTEGER>(v, 0) = 5;
         select<INTEGER>(field<CHOICE>(v, 2), 1) = 7;
       }},
      {"{ pick state: standby, }", &topInfo,
       [](AbstractData& v) { select<ENUMERATED>(field<CHOICE>(v, 2), 4).setFromInt(8); }},
      {"{ pick state : standby=8 }", &topInfo,
       [](AbstractData& v) { select<ENUMERATED>(field<CHOICE>(v, 2), 4).setFromInt(8); }},
      {"speak", &stateInfo, setEnum(4)},
      // Numbers stand for values that have no name to print.
      {"3", &stateInfo, setEnum(3)},
      {"17", &stateInfo, setEnum(17)},
      {"-1", &modeInfo, setEnum(-1)},
      {"'A5'H", &BIT_STRING::theInfo,
       [](AbstractData& v) {
         BIT_STRING& b = static_cast<BIT_STRING&>(v);
         b.resize(8);
         b.getData() = bytes({0xA5});
       }},
      {"'101'B", &BIT_STRING::theInfo,
       [](AbstractData& v) {
         BIT_STRING& b = static_cast<BIT_STRING&>(v);
         b.resize(3);
         b.getData() = bytes({0xA0});
       }},
      {"' 0f 1F\n c'H", &OCTET_STRING::theInfo,
       [](AbstractData& v) {
         static_cast<OCTET_STRING&>(v) = bytes({0x0F, 0x1F, 0xC0});
       }},
      {"{ iso(1) member-body (2) 840 }", &OBJECT_IDENTIFIER::theInfo,
       [](AbstractData& v) {
         static_cast<OBJECT_IDENTIFIER&>(v).arcs() = {1, 2, 840};
       }},
      {"low", &levelInfo, set<INTEGER>(1)},
      {"  -3", &levelInfo, set<INTEGER>(-3)},
      {"4294967295", &Counter32::theInfo, set<Counter32>(4294967295u)},
      {"TRUE", &BOOLEAN::theInfo, set<BOOLEAN>(true)},
      {"NULL,", &Null::theInfo, nullptr},
      {"\"20240102030405+0130\"", &GeneralizedTime::theInfo,
       [](AbstractData& v) {
         static_cast<GeneralizedTime&>(v) = GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, 90, false);
       }},
      // Braces alone leave every component as it was built.
      {"{}", &topInfo, nullptr},
      {"{\n}", &innerInfo, nullptr},
  };
  for (const Sample& row : table) {
    Value expected = make(row.info, row.fill);
    Value read(AbstractData::create(row.info));
    ASSERT_TRUE(read->setFromValueNotation(row.name)) << row.name;
    EXPECT_EQ(*expected, *read) << row.name;
    EXPECT_EQ(expected->asValueNotation(), read->asValueNotation()) << row.name;
  }
}

TEST(ValueNotationReader, IdentifierKeepsOldArcs) {
  OBJECT_IDENTIFIER oid;
  oid.arcs() = {1, 3};
  ASSERT_TRUE(oid.setFromValueNotation("{ 6 1 }"));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 3, 6, 1}), oid.arcs());
}

TEST(ValueNotationReader, RefusesBadText) {
  const struct {
    const char* text;
    const void* info;
  } table[] = {
      {"loud", &stateInfo},
      {"speak=5", &stateInfo},
      {"4", &stateInfo},
      {"1", &modeInfo},
      {"{ pick nosuch : NULL }", &topInfo},
      {"{ pick number 7 }", &topInfo},
      {"{ seq 5, bits '1'B }", &topInfo},
      {"{ seq 5, pick none : NULL, bogus 1 }", &topInfo},
      {"{ pick none : NULL, seq 5 }", &topInfo},
      {"{ pick none : NULL; seq 5 }", &topInfo},
      {"{ pick none : NULL", &topInfo},
      {"{ flag TRUE data '01'H }", &innerInfo},
      {"\"abc", &IA5String::theInfo},
      {"abc", &IA5String::theInfo},
      {"\"ab", &BMPString::theInfo},
      {"\"\xff\"", &BMPString::theInfo},  // no character in this locale
      {"'G1'H", &OCTET_STRING::theInfo},
      {"'012'B", &BIT_STRING::theInfo},
      {"'01'X", &BIT_STRING::theInfo},
      {"'01", &BIT_STRING::theInfo},
      {"-1", &SlotNumber::theInfo},
      {"4294967296", &Counter32::theInfo},
      {"x", &INTEGER::theInfo},
      {"{ 1, 2 3 }", &intListInfo},
      {"{ 1,", &intListInfo},
      {"NUL", &Null::theInfo},
      {"True", &BOOLEAN::theInfo},
      {"{ 1 iso 2 }", &OBJECT_IDENTIFIER::theInfo},
      {"{ 1 2", &OBJECT_IDENTIFIER::theInfo},
      {"medium", &levelInfo},
      {"", &Null::theInfo},
      {"00", &OpenData::theInfo},
  };
  for (const auto& row : table) {
    Value read(AbstractData::create(row.info));
    EXPECT_FALSE(read->setFromValueNotation(row.text)) << row.text;
  }
}

TEST(ValueNotationReader, StreamExtraction) {
  std::istringstream in("{ seq 1, pick none : NULL } speak rest");
  SEQUENCE top(&topInfo);
  ENUMERATED state(&stateInfo);
  in >> top >> state;
  ASSERT_TRUE(in.good());
  EXPECT_EQ(4, state.asInt());
  std::string rest;
  in >> rest;
  EXPECT_EQ("rest", rest);

  std::istringstream bad("loud speak");
  bad >> state >> state;
  EXPECT_TRUE(bad.fail());
  EXPECT_EQ(4, state.asInt()) << "a failed stream reads nothing more";
}

}  // namespace
