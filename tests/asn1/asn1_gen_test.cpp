// The generator accepts the subset the modules use and refuses anything
// else with the file, the line and the construct.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Result {
  int status;
  std::string output;
};

class Generator : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/asn1gen_testXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    root = dir;
  }
  void TearDown() override { std::system(("rm -rf '" + root + "'").c_str()); }

  Result run(const std::string& module, const std::string& body) {
    std::string dir = root + "/" + module;
    std::system(("mkdir -p '" + dir + "'").c_str());
    std::string path = dir + "/" + module + ".asn";
    std::ofstream(path) << module << " DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n" << body << "END\n";
    std::string log = root + "/log";
    std::string cmd = std::string(PYTHON3_EXECUTABLE) + " " + ASN1GEN_SCRIPT + " '" + path +
                      "' --out-dir '" + root + "/out' --include-prefix gen --search '" + root +
                      "' > '" + log + "' 2>&1";
    int status = std::system(cmd.c_str());
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return {status, text.str()};
  }

  std::string root;
};

TEST_F(Generator, RefusesWhatItDoesNotKnow) {
  struct Case {
    const char* body;
    const char* message;  // after "M.asn:<line>: error: "
    int line;
  };
  const Case cases[] = {
      {"A ::= SEQUENCE {\n  x [0] INTEGER\n}\n",
       "unsupported construct: explicit tag (all tags are automatic)", 3},
      {"A ::= SEQUENCE {\n  x INTEGER DEFAULT 5\n}\n", "unsupported construct: DEFAULT", 3},
      {"A ::= SEQUENCE {\n  x INTEGER,\n  ...,\n  [[ y INTEGER ]]\n}\n",
       "unsupported construct: extension addition group [[ ]] in SEQUENCE", 5},
      {"A ::= REAL\n", "unsupported construct: REAL", 2},
      {"A ::= UTF8String\n", "unsupported construct: UTF8String", 2},
      {"A ::= INTEGER { one(1) }\n", "unsupported construct: INTEGER with named numbers", 2},
      {"A ::= INTEGER (MIN..5)\n", "unsupported construct: MIN bound", 2},
      {"A ::= INTEGER (1..2 | 4..5)\n", "unsupported construct: union or intersection of ranges",
       2},
      {"a INTEGER ::= 5\n", "unsupported construct: value assignment 'a'", 2},
      {"A ::= SEQUENCE {\n  x SEQUENCE { y INTEGER }\n}\n",
       "unsupported construct: inline SEQUENCE (define it as a named type)", 3},
      {"A ::= ENUMERATED {\n  a(0),\n  b\n}\n", "enumerator 'b' needs an explicit number", 4},
      {"A ::= ENUMERATED {\n  a(0),\n  b(0)\n}\n",
       "enumerator 'b' repeats the value 0 of 'a' (mark it --@alias)", 4},
      {"A ::= SEQUENCE {\n  x Missing\n}\n", "undefined type 'Missing'", 3},
      {"A ::= SEQUENCE {\n  x INTEGER --@nmae y\n}\n", "unknown annotation '--@nmae y'", 3},
      {"A ::= SET {\n  x INTEGER\n}\n", "unsupported construct: SET", 2},
      {"A ::= SEQUENCE {\n  x OBJECT IDENTIFIER (SIZE (1))\n}\n",
       "unsupported construct: constraint on OBJECT IDENTIFIER", 3},
      {"A ::= BIT STRING { a(0) }\n", "unsupported construct: BIT STRING with named bits", 2},
      {"A ::= SEQUENCE {\n  b B\n}\nB ::= SEQUENCE {\n  a A,\n  c A OPTIONAL\n}\n",
       "type 'A' contains itself through components that are always present (A -> B -> A)", 2},
      {"A ::= SEQUENCE {\n  vad-rx INTEGER,\n  vad INTEGER --@name vad_rx\n}\n",
       "component 'vad-rx' and 'vad' have the same C++ name 'vad_rx'", 4},
  };
  for (const Case& c : cases) {
    Result r = run("M", c.body);
    EXPECT_NE(0, r.status) << c.body;
    std::string expected =
        root + "/M/M.asn:" + std::to_string(c.line) + ": error: " + c.message + "\n";
    EXPECT_EQ(expected, r.output) << c.body;
  }
}

TEST_F(Generator, AcceptsTheConventions) {
  Result r = run("M",
                 "A-b ::= SEQUENCE {  --@name A_b\n"
                 "  trunk-bri INTEGER,  --@name trunk_bri\n"
                 "  x INTEGER (0..4294967295) OPTIONAL,\n"
                 "  ...\n"
                 "}\n"
                 "E ::= ENUMERATED { a(0), b(10),\n"
                 "  c(0),  --@alias\n"
                 "  ... }\n"
                 "L ::= SEQUENCE OF A-b\n");
  ASSERT_EQ(0, r.status) << r.output;
  std::ifstream h(root + "/out/M.h");
  std::stringstream header;
  header << h.rdbuf();
  EXPECT_NE(std::string::npos, header.str().find("class A_b : public ASN1::SEQUENCE {"));
  EXPECT_NE(std::string::npos, header.str().find("get_trunk_bri()"));
  EXPECT_NE(std::string::npos,
            header.str().find("typedef ASN1::SEQUENCE_OF<M::A_b, ASN1::EmptyConstraint> L;"));
  std::ifstream c(root + "/out/M.cpp");
  std::stringstream source;
  source << c.rdbuf();
  EXPECT_NE(std::string::npos, source.str().find("{\"trunk_bri\", \"x\"}"));
  EXPECT_NE(std::string::npos, source.str().find("{\"a\", \"b=10\", \"c=0\"}"));
  EXPECT_NE(std::string::npos,
            source.str().find("ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u>"));
}

TEST_F(Generator, ReadsImportedModules) {
  run("B", "T ::= ENUMERATED { a(0) }\n");
  Result r = run("M", "IMPORTS T FROM B;\nS ::= SEQUENCE { t T }\n");
  EXPECT_EQ(0, r.status) << r.output;
  Result missing = run("N", "IMPORTS T FROM Nowhere;\nS ::= SEQUENCE { t T }\n");
  EXPECT_NE(0, missing.status);
  EXPECT_EQ(root + "/N/N.asn:2: error: imported module 'Nowhere' not found\n", missing.output);
}

}  // namespace
