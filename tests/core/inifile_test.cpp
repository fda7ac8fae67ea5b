#include "core/inifile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// One line per model: each occurrence as name@line{key=["value"@line,...];...}
std::string Model(IniFile::File const& f) {
  std::ostringstream s;
  for (IniFile::Section& sec : f) {
    for (IniFile::SubSection& sub : sec) {
      s << sec.name() << "@" << sub.line() << "{";
      bool firstKey = true;
      for (IniFile::Key& k : sub) {
        if (!firstKey) s << ";";
        firstKey = false;
        s << k.name() << "=[";
        bool firstVal = true;
        for (IniFile::SubKey& v : k) {
          if (!firstVal) s << ",";
          firstVal = false;
          s << '"' << v.value() << '"' << "@" << v.line();
        }
        s << "]";
      }
      s << "}";
    }
  }
  return s.str();
}

std::string ParseModel(std::string const& text) {
  IniFile::File f;
  std::istringstream in(text);
  in >> f;
  return Model(f);
}

struct ParseCase {
  char const* what;
  char const* input;
  char const* model;
};

ParseCase const kParseCases[] = {
    {"empty input", "", ""},
    {"key before any header is skipped", "a=1\n[x]\nk=1\n", "x@2{k=[\"1\"@3]}"},
    {"header twice gives two occurrences", "[x]\nk=1\n[x]\nk=2\n",
     "x@1{k=[\"1\"@2]}x@3{k=[\"2\"@4]}"},
    {"key twice gives two values", "[s]\nk=1\nk=2\n", "s@1{k=[\"1\"@2,\"2\"@3]}"},
    {"spaces trimmed, comment after space", "[s]\n  name  =  some value  # note\n",
     "s@1{name=[\"some value\"@2]}"},
    {"line without equals dropped", "[s]\njunk\n[y]\nk=v", "s@1{}y@3{k=[\"v\"@4]}"},
    {"last line without line feed", "[s]\nk=v", "s@1{k=[\"v\"@2]}"},
    {"empty value without line feed", "[s]\nk=", "s@1{k=[\"\"@2]}"},
    {"unterminated header skips its keys", "[abc\nk=1\n[d]\nm=2\n", "d@3{m=[\"2\"@4]}"},
    {"carriage returns vanish", "[s]\r\nk=v\r\n[t\r]\r\n", "s@1{k=[\"v\"@2]}t@3{}"},
    {"section name kept exactly", "[ traces ]\nk=v\n", " traces @1{k=[\"v\"@2]}"},
    {"hash in values", "[s]\nk=#x\nk2=a#b\nk3=a #b\n",
     "s@1{k=[\"\"@2];k2=[\"a#b\"@3];k3=[\"a\"@4]}"},
    {"tabs are not trimmed", "[s]\n\tk\t=\tv\tw\t\n", "s@1{k\t=[\"\tv\tw\t\"@2]}"},
    {"semicolon starts no comment", "[s]\n;k=v ;c\n", "s@1{;k=[\"v ;c\"@2]}"},
    {"text after header ignored", "[s] junk # c\nk=v\n", "s@1{k=[\"v\"@2]}"},
    {"brackets inside a header", "[a[b]\n", "a[b@1{}"},
    {"comment lines counted", "# c\n[s]\n# c2\n\n k=v # trailing\n", "s@2{k=[\"v\"@5]}"},
    {"equals at line start belongs to the name", "[s]\n=v\n==v\n", "s@1{==[\"v\"@3]}"},
    {"comment in before-value at end of input", "[s]\nk= #c", "s@1{k=[\"\"@2]}"},
    {"empty section name", "[]\nk=v\n", "@1{k=[\"v\"@2]}"},
    {"hash in a key name", "[s]\na#b=1\n", "s@1{a#b=[\"1\"@2]}"},
    {"same key in two occurrences", "[s]\nk=1\n[t]\nk=2\n[s]\nk=3\n",
     "s@1{k=[\"1\"@2]}s@5{k=[\"3\"@6]}t@3{k=[\"2\"@4]}"},
    {"header abandoned at end of input", "[s]\nk=1\n[t", "s@1{k=[\"1\"@2]}"},
    {"pending key name dropped at end", "[s]\nk=1\nname", "s@1{k=[\"1\"@2]}"},
    {"header after a key line in the same occurrence", "[s]\nk=1\n  [t]\nm=2\n",
     "s@1{k=[\"1\"@2]}t@3{m=[\"2\"@4]}"},
};

TEST(IniFileParse, Table) {
  for (ParseCase const& c : kParseCases) EXPECT_EQ(c.model, ParseModel(c.input)) << c.what;
}

class IniFileDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/inifile_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string dir;
};

TEST_F(IniFileDisk, OpenReadsRawBytes) {
  std::string path = dir + "/server.conf";
  std::ofstream(path, std::ios::binary) << "[traces]\r\nsignalling.hdlc = yes\r\n";
  IniFile::File f(path);
  EXPECT_TRUE(f.is_open());
  EXPECT_EQ(path, f.filename());
  EXPECT_EQ("traces@1{signalling.hdlc=[\"yes\"@2]}", Model(f));
  // Opening again replaces the model.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "[b]\nk=2\n";
  EXPECT_TRUE(f.Open(path));
  EXPECT_EQ("b@1{k=[\"2\"@2]}", Model(f));
}

TEST_F(IniFileDisk, OnlyARegularFileIsReadWithoutBlocking) {
  mkdir((dir + "/dir").c_str(), 0755);
  mkfifo((dir + "/fifo").c_str(), 0644);  // no writer: open(2) alone would wait
  symlink("/dev/zero", (dir + "/zero").c_str());
  std::ofstream(dir + "/mode0") << "[s]\nk=1\n";
  chmod((dir + "/mode0").c_str(), 0);
  pid_t pid = fork();
  if (pid == 0) {  // root reads a file of mode 0 all the same: read as nobody
    if (geteuid() == 0 && (chmod(dir.c_str(), 0755) != 0 || setuid(65534) != 0)) _exit(99);
    int opened = 0;  // a bit for each path read
    for (const char* name : {"/dir", "/fifo", "/zero", "/mode0"}) {
      IniFile::File f;
      opened = opened * 2 + (f.Open(dir + name) || f.count() != 0);
    }
    _exit(opened);
  }
  int status = -1;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_EQ(0, status);
}

TEST_F(IniFileDisk, MissingFileIsNotOpenAndEmpty) {
  IniFile::File f;
  EXPECT_FALSE(f.Open(dir + "/absent.conf"));
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(0u, f.count());
}

TEST(IniFileModel, LookupCreatesEmptyElements) {
  IniFile::File f;
  IniFile::Section& s = f["snmpagent"];
  EXPECT_EQ(&s, &f["snmpagent"]);
  EXPECT_EQ(1u, f.count());

  IniFile::Key& k = (*s.NewSubSection(7))["host"];
  EXPECT_EQ(0u, k.count());
  k.CheckEmpty();
  ASSERT_EQ(1u, k.count());
  EXPECT_EQ("", k.first()->value());
  EXPECT_EQ(-1, k.first()->line());
  k.CheckEmpty();
  EXPECT_EQ(1u, k.count());

  s.CheckEmpty();
  EXPECT_EQ(1u, s.count());
  f["other"].CheckEmpty();
  EXPECT_EQ(-1, f["other"].first()->line());
}

// Sections looked up on a file that never opened still belong to the model
// and must go with Close (the sanitizer build catches a leak here).
TEST(IniFileModel, CloseFreesTreeOfUnopenedFile) {
  IniFile::File f;
  f.NewSubSection("x", 3)->NewSubKey("k", "v", 4);
  EXPECT_FALSE(f.is_open());
  f.Close();
  EXPECT_EQ(0u, f.count());
  EXPECT_EQ(nullptr, f.first());
  EXPECT_EQ(0u, f["x"].count());
}

TEST(IniFileModel, CleanAndListLinks) {
  IniFile::File f;
  IniFile::SubSection* sub = f.NewSubSection("s", 1);
  sub->NewSubKey("a", "1", 2);
  sub->NewSubKey("b", "2", 3);
  sub->NewSubKey("a", "3", 4);
  ASSERT_EQ(2u, sub->count());
  EXPECT_EQ("b", sub->last()->name());
  IniFile::Key& a = (*sub)["a"];
  EXPECT_EQ(2u, a.count());
  a.CleanSubKeys();
  EXPECT_EQ(0u, a.count());
  sub->CleanKeys();
  EXPECT_EQ(0u, sub->count());
  EXPECT_EQ(0u, (*sub)["b"].count());
  EXPECT_EQ(1u, sub->count());
  f["s"].CleanSubSections();
  EXPECT_EQ(0u, f["s"].count());
}

TEST(IniFileModel, DumpText) {
  IniFile::File f;
  std::istringstream in("[s]\nk=v\n");
  in >> f;
  EXPECT_TRUE(f.is_open());  // a stream parse counts as open, without a name
  std::ostringstream out;
  f.Dump(out);
  EXPECT_EQ(
      "dumping IniFile::File\n"
      "mFileName=\"\"\n"
      "\n"
      "mSectionCount=1\n"
      "dumping IniFile::Section\n"
      "mName=\"s\"\n"
      "mSubSectionCount=1\n"
      "dumping IniFile::SubSection\n"
      "mLineNo=\"1\"\n"
      "mKeyCount=1\n"
      "dumping IniFile::Key\n"
      "mName=\"k\"\n"
      "mSubKeyCount=1\n"
      "dumping IniFile::SubKey\n"
      "mValue=\"v\"\n"
      "mLineNo=2\n",
      out.str());
}

TEST(IniFileSubKey, TypedAccessors) {
  struct {
    char const* text;
    bool def;
    bool expected;
  } const bools[] = {
      {"true", false, true},  {"yes", false, true}, {"1", false, true},        {"on", false, true},
      {"false", true, false}, {"no", true, false},  {"0", true, false},        {"off", true, false},
      {"TRUE", false, false}, {"", true, true},     {"enabled", false, false},
  };
  for (auto const& b : bools)
    EXPECT_EQ(b.expected, IniFile::SubKey(b.text, 1).GetBool(b.def)) << b.text;

  EXPECT_EQ(42, IniFile::SubKey("42abc", 1).GetInt(7));
  EXPECT_EQ(-3, IniFile::SubKey(" -3", 1).GetInt(7));
  EXPECT_EQ(7, IniFile::SubKey("x", 1).GetInt(7));
  EXPECT_FLOAT_EQ(2.5f, IniFile::SubKey("2.5", 1).GetFloat(1.0f));
  EXPECT_FLOAT_EQ(1.0f, IniFile::SubKey("x", 1).GetFloat(1.0f));

  IniFile::SubKey k("", 1);
  k.SetBool(false);
  EXPECT_EQ("no", k.value());
  k.SetInt(-12);
  EXPECT_EQ("-12", k.value());
  k.SetFloat(0.25f);
  EXPECT_EQ("0.25", k.value());
  k.SetFloat(1e7f);
  EXPECT_EQ("1e+07", k.value());
}

}  // namespace
