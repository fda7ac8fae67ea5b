#include "core/inireader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

enum Color { kNone = 0, kRed = 1, kGreen = 2, kBlue = 3 };

IniFile::Symbol<Color> const kColors[] = {
    {"red", kRed},
    {"green", kGreen},
    {"blue", kBlue},
    {nullptr, kNone},
};

void Load(IniFile::File& f, char const* text) {
  std::istringstream in(text);
  in >> f;
}

enum Kind { Bool, Str, Enum, Port };

struct ReaderCase {
  char const* what;
  char const* text;  // one occurrence "[s]" on line 1 unless the text says otherwise
  Kind kind;
  bool required;
  bool result;
  bool valid;
  char const* target;  // the target after parse, as text
  char const* messages;
};

// Targets start as bool true, string "default", Color green and port 7, so that an
// untouched target is told from a stored one.
ReaderCase const kReaderCases[] = {
    {"required bool valid", "[s]\nk=no\n", Bool, true, true, true, "0", ""},
    {"required bool rejected", "[s]\nk=maybe\n", Bool, true, false, false, "1",
     "p: required key \"k\" has invalid value=\"maybe\", line 2\n"},
    {"optional bool on is rejected", "[s]\n\nk=on\n", Bool, false, true, false, "1",
     "p: optional key \"k\" has invalid value=\"on\", line 3. Key will be ignored.\n"},
    {"required duplicated", "[s]\nk=no\nk=yes\n", Bool, true, false, false, "1",
     "p: required key \"k\" is duplicated!\n"
     "p:  first occurence at 2 line.\n"
     "p:  second occurence at 3 line.\n"},
    {"optional duplicated", "[s]\nk=no\nx=1\nk=no\n", Bool, false, true, false, "1",
     "p: optional key \"k\" is duplicated!\n"
     "p:  first occurence at 2 line.\n"
     "p:  second occurence at 4 line. Both keys will be ignored.\n"},
    {"required three times", "[s]\nk=a\nk=b\n\nk=c\n", Str, true, false, false, "default",
     "p: required key \"k\" specified more than once: 2 3 5 lines\n"},
    {"optional four times", "[s]\nk=a\nk=b\nk=c\nk=d\n", Str, false, true, false, "default",
     "p: optional key \"k\" specified more than once: 2 3 4 5 lines. All keys will be ignored.\n"},
    {"required absent", "# head\n\n[s]\nx=1\n", Str, true, false, false, "default",
     "p: required key \"k\" not present, line 3\n"},
    {"optional absent", "[s]\nx=1\n", Str, false, true, false, "default", ""},
    {"string empty value is valid", "[s]\nk=\n", Str, true, true, true, "", ""},
    {"string keeps inner text", "[s]\nk = a b\t#c\n", Str, true, true, true, "a b\t#c", ""},
    {"enum by symbol", "[s]\nk=blue\n", Enum, true, true, true, "3", ""},
    {"enum symbols are case-sensitive", "[s]\nk=Blue\n", Enum, true, false, false, "2",
     "p: required key \"k\" has invalid value=\"Blue\", line 2\n"},
    {"enum by hex number", "[s]\nk=0x1\n", Enum, true, true, true, "1", ""},
    {"enum by octal number", "[s]\nk=03\n", Enum, true, true, true, "3", ""},
    // A rejected text leaves the target as it was, also for enumerations.
    {"enum partial number rejected", "[s]\nk=1x\n", Enum, true, false, false, "2",
     "p: required key \"k\" has invalid value=\"1x\", line 2\n"},
    {"enum number out of range rejected", "[s]\nk=99999999999999999999\n", Enum, true, false, false,
     "2", "p: required key \"k\" has invalid value=\"99999999999999999999\", line 2\n"},
    {"enum empty rejected", "[s]\nk=\n", Enum, false, true, false, "2",
     "p: optional key \"k\" has invalid value=\"\", line 2. Key will be ignored.\n"},
    // A number its target cannot hold is rejected, not stored cut down.
    {"number at the top of its target", "[s]\nk=0xFFFF\n", Port, true, true, true, "65535", ""},
    {"number wider than its target rejected", "[s]\nk=655355535\n", Port, true, false, false, "7",
     "p: required key \"k\" has invalid value=\"655355535\", line 2\n"},
    {"negative number for an unsigned target rejected", "[s]\nk=-1\n", Port, true, false, false,
     "7", "p: required key \"k\" has invalid value=\"-1\", line 2\n"},
};

TEST(IniReader, SingleKeyTable) {
  for (ReaderCase const& c : kReaderCases) {
    IniFile::File f;
    Load(f, c.text);
    ASSERT_EQ(1u, f["s"].count()) << c.what;

    std::ostringstream msgs;
    IniFile::Reader r("p: ", msgs);
    bool b = true;
    std::string s = "default";
    Color e = kGreen;
    unsigned short port = 7;
    IniFile::Reader::Field& field = c.required ? r.required : r.optional;
    bool* valid = nullptr;
    switch (c.kind) {
      case Bool:
        valid = &field.add(&b, "k");
        break;
      case Str:
        valid = &field.add(&s, "k");
        break;
      case Enum:
        valid = &field.add(&e, "k", kColors);
        break;
      case Port:
        valid = &field.add(&port, "k");
        break;
    }
    EXPECT_EQ(c.result, r.parse(*f["s"].first())) << c.what;
    EXPECT_EQ(c.valid, *valid) << c.what;
    std::string target;
    switch (c.kind) {
      case Bool:
        target = b ? "1" : "0";
        break;
      case Str:
        target = s;
        break;
      case Enum:
        target = std::to_string(int(e));
        break;
      case Port:
        target = std::to_string(port);
        break;
    }
    EXPECT_EQ(c.target, target) << c.what;
    EXPECT_EQ(c.messages, msgs.str()) << c.what;
  }
}

TEST(IniReader, BoolTexts) {
  struct {
    char const* text;
    bool valid;
    bool value;
  } const cases[] = {
      {"true", true, true},   {"false", true, false},   {"yes", true, true},
      {"no", true, false},    {"enabled", true, true},  {"disabled", true, false},
      {"enable", true, true}, {"disable", true, false}, {"1", true, true},
      {"0", true, false},     {"on", false, false},     {"TRUE", false, false},
  };
  for (auto const& c : cases) {
    IniFile::SubSection sub(1);
    sub.NewSubKey("k", c.text, 2);
    std::ostringstream msgs;
    IniFile::Reader r("", msgs);
    bool target = !c.value;
    bool const before = target;
    bool& valid = r.optional.add(&target, "k");
    EXPECT_TRUE(r.parse(sub));
    EXPECT_EQ(c.valid, valid) << c.text;
    EXPECT_EQ(c.valid ? c.value : before, target) << c.text;
  }
}

// A NUL byte inside a value must not let it pass for its first part.
TEST(IniReader, ValueWithNulByteRejected) {
  IniFile::SubSection sub(1);
  sub.NewSubKey("k", std::string("yes\0no", 6), 2);
  std::ostringstream msgs;
  IniFile::Reader r("", msgs);
  bool target = false;
  bool& valid = r.optional.add(&target, "k");
  EXPECT_TRUE(r.parse(sub));
  EXPECT_FALSE(valid);
  EXPECT_FALSE(target);
}

// The first failing required key ends the parse: later required keys and all
// optional keys are not looked at.
TEST(IniReader, FirstRequiredFailureStops) {
  IniFile::File f;
  Load(f, "[s]\na=1\nb=bad\nc=1\nc=2\no=zz\n");
  std::ostringstream msgs;
  IniFile::Reader r("snmpagent: ", msgs);
  bool a = false, b = false, c = false, o = false;
  bool& va = r.required.add(&a, "a");
  bool& vb = r.required.add(&b, "b");
  bool& vc = r.required.add(&c, "c");
  bool& vo = r.optional.add(&o, "o");
  EXPECT_FALSE(r.parse(*f["s"].first()));
  EXPECT_TRUE(va);
  EXPECT_TRUE(a);
  EXPECT_FALSE(vb);
  EXPECT_FALSE(vc);
  EXPECT_FALSE(vo);
  EXPECT_EQ("snmpagent: required key \"b\" has invalid value=\"bad\", line 3\n", msgs.str());
}

TEST(IniReader, ParseAddsEmptyKeysForDeclaredNames) {
  IniFile::SubSection sub(1);
  sub.NewSubKey("a", "1", 2);
  std::ostringstream msgs;
  IniFile::Reader r("", msgs);
  bool a = false, b = false, c = false;
  r.optional.add(&a, "a");
  r.optional.add(&b, "b");
  r.optional.add(&c, "c");
  EXPECT_TRUE(r.parse(sub));
  EXPECT_EQ(3u, sub.count());
  EXPECT_EQ(0u, sub["b"].count());
  EXPECT_EQ(0u, sub["c"].count());
}

// The valid flags tell the state of the last parse, also for a required key
// that an earlier occurrence had and this one lacks.
TEST(IniReader, FlagsResetBetweenOccurrences) {
  IniFile::File f;
  Load(f, "[s]\nk=x\no=yes\n[s]\nm=1\n[s]\nk=1\nk=2\n");
  ASSERT_EQ(3u, f["s"].count());
  std::ostringstream msgs;
  IniFile::Reader r("p: ", msgs);
  std::string k;
  bool o = false;
  bool& vk = r.required.add(&k, "k");
  bool& vo = r.optional.add(&o, "o");

  IniFile::SubSection* occ = f["s"].first();
  EXPECT_TRUE(r.parse(*occ));
  EXPECT_TRUE(vk);
  EXPECT_TRUE(vo);

  occ = occ->next();
  EXPECT_FALSE(r.parse(*occ));
  EXPECT_FALSE(vk);
  EXPECT_FALSE(vo);
  EXPECT_EQ("p: required key \"k\" not present, line 4\n", msgs.str());

  msgs.str("");
  EXPECT_TRUE(r.parse(*f["s"].first()));
  occ = occ->next();
  EXPECT_FALSE(r.parse(*occ));
  EXPECT_FALSE(vk);
  EXPECT_EQ(
      "p: required key \"k\" is duplicated!\n"
      "p:  first occurence at 7 line.\n"
      "p:  second occurence at 8 line.\n",
      msgs.str());
}

}  // namespace
