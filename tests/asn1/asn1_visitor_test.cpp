// The SEQUENCE walks call their hooks in the documented order, and the
// small constant visitors answer as the BER coder expects.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "asn1/avn.h"
#include "asn1/per.h"
#include "asn1/visitor.h"
#include "asn1_test_util.h"
#include "testmod/TESTMOD.h"

namespace {

using asn1test::unhex;
using namespace TESTMOD;

// Records every hook of the encoding walk.
class ConstRecorder : public ASN1::ConstVisitor {
 public:
  std::vector<std::string> calls;
  using ASN1::ConstVisitor::do_visit;
  bool preVisitExtensionRoots(const ASN1::SEQUENCE&) override {
    calls.push_back("pre");
    return true;
  }
  bool visitExtensionRoot(const ASN1::SEQUENCE&, int index) override {
    calls.push_back("root" + std::to_string(index));
    return true;
  }
  bool preVisitExtensions(const ASN1::SEQUENCE&) override {
    calls.push_back("preext");
    return true;
  }
  bool visitKnownExtension(const ASN1::SEQUENCE&, int index) override {
    calls.push_back("ext" + std::to_string(index));
    return true;
  }
  bool afterVisitSequence(const ASN1::SEQUENCE&) override {
    calls.push_back("after");
    return true;
  }
};

// Records every hook of the decoding walk; the pre-hook's answer is given.
class Recorder : public ASN1::Visitor {
 public:
  explicit Recorder(int pre) : pre(pre) {}
  std::vector<std::string> calls;
  int pre;
  bool do_visit(ASN1::Null&) override { return true; }
  bool do_visit(ASN1::BOOLEAN&) override { return true; }
  bool do_visit(ASN1::INTEGER&) override { return true; }
  bool do_visit(ASN1::ENUMERATED&) override { return true; }
  bool do_visit(ASN1::OBJECT_IDENTIFIER&) override { return true; }
  bool do_visit(ASN1::OCTET_STRING&) override { return true; }
  bool do_visit(ASN1::BIT_STRING&) override { return true; }
  bool do_visit(ASN1::AbstractString&) override { return true; }
  bool do_visit(ASN1::BMPString&) override { return true; }
  bool do_visit(ASN1::CHOICE&) override { return true; }
  bool do_visit(ASN1::SEQUENCE_OF_Base&) override { return true; }
  bool do_visit(ASN1::OpenData&) override { return true; }
  bool do_revisit(ASN1::OpenData&) override { return true; }
  bool do_visit(ASN1::TypeConstrainedOpenData&) override { return true; }
  bool do_visit(ASN1::GeneralizedTime&) override { return true; }
  int preVisitExtensionRoots(ASN1::SEQUENCE&) override {
    calls.push_back("pre");
    return pre;
  }
  int visitExtensionRoot(ASN1::SEQUENCE&, int index, int id) override {
    calls.push_back("root" + std::to_string(index) + "/" + std::to_string(id));
    return CONTINUE;
  }
  int preVisitExtensions(ASN1::SEQUENCE&) override {
    calls.push_back("preext");
    return CONTINUE;
  }
  int visitKnownExtension(ASN1::SEQUENCE&, int index, int id) override {
    calls.push_back("ext" + std::to_string(index) + "/" + std::to_string(id));
    return CONTINUE;
  }
  bool visitUnknownExtensions(ASN1::SEQUENCE&) override {
    calls.push_back("unknown");
    return true;
  }
};

std::string join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : " ") + x;
  return s;
}

TEST(Walks, Encoding) {
  struct Case {
    const char* label;
    std::function<void(Extended&)> fill;
    const char* calls;
  };
  const Case cases[] = {
      {"mandatory addition present", [](Extended&) {}, "pre root0 root2 preext ext4 after"},
      {"optional root field present",
       [](Extended& e) { e.includeOptionalField(Extended::o_b, Extended::f_b); },
       "pre root0 root1 root2 preext ext4 after"},
      {"both additions", [](Extended& e) { e.includeOptionalField(Extended::o_c, Extended::f_c); },
       "pre root0 root2 preext ext3 ext4 after"},
  };
  for (const Case& c : cases) {
    Extended e;
    c.fill(e);
    ConstRecorder r;
    EXPECT_TRUE(e.accept(r));
    EXPECT_EQ(c.calls, join(r.calls)) << c.label;
  }
  // An extendable value with an empty extension map skips preVisitExtensions.
  Growing g;
  ConstRecorder r;
  EXPECT_TRUE(g.accept(r));
  EXPECT_EQ("pre root0 after", join(r.calls));
}

TEST(Walks, Decoding) {
  Extended e;
  Recorder noExtensions(ASN1::Visitor::NO_EXTENSION);
  EXPECT_TRUE(e.accept(noExtensions));
  EXPECT_EQ("pre root0/-1 root1/0 root2/-1", join(noExtensions.calls));
  Recorder extensions(ASN1::Visitor::CONTINUE);
  EXPECT_TRUE(e.accept(extensions));
  EXPECT_EQ("pre root0/-1 root1/0 root2/-1 preext ext3/1 ext4/2 unknown", join(extensions.calls));
  Recorder stop(ASN1::Visitor::STOP);
  EXPECT_TRUE(e.accept(stop));
  EXPECT_EQ("pre", join(stop.calls));
  Recorder fail(ASN1::Visitor::FAIL);
  EXPECT_FALSE(e.accept(fail));
}

TEST(Walks, DefaultRootHookFails) {
  ASN1::ConstVisitor plain;
  Growing g;
  EXPECT_FALSE(g.accept(plain));
  Empty empty;
  EXPECT_TRUE(empty.accept(plain));
}

TEST(PrimitiveChecker, Answers) {
  ASN1::PrimitiveChecker checker;
  Pdu p;
  p.select_pair();
  EXPECT_FALSE(p.accept(checker));
  p.select_later();
  EXPECT_TRUE(p.accept(checker));
  EXPECT_FALSE(ASN1::SEQUENCE_OF<ASN1::INTEGER>().accept(checker));
  EXPECT_TRUE(ASN1::GeneralizedTime().accept(checker));
  ASN1::OpenData open;
  open.grab(new Growing);
  EXPECT_FALSE(open.accept(checker));
}

// INTEGER with named numbers, on a record of its own.
const ASN1::NamedNumber levelNames[] = {{1, "low"}, {9, "high"}};
const ASN1::IntegerWithNamedNumberInfo levelInfo = {
    {{&ASN1::IntegerWithNamedNumber::create, 2}, ASN1::Unconstrained, 0, 0xFFFFFFFFu},
    levelNames,
    2};

TEST(IntegerWithNamedNumber, NamesAndCoding) {
  ASN1::IntegerWithNamedNumber n(9, &levelInfo);
  std::string name;
  EXPECT_TRUE(n.getName(name));
  EXPECT_EQ("high", name);
  EXPECT_EQ("high", n.asValueNotation());
  n.setValue(5);
  EXPECT_FALSE(n.getName(name));
  EXPECT_EQ("5", n.asValueNotation());
  std::vector<char> out;
  ASN1::PEREncoder enc(out, true);
  EXPECT_TRUE(n.accept(enc));
  EXPECT_EQ((std::vector<char>{1, 5}), out);
}

TEST(BMPString, PrintsCodesWhenItCannotConvert) {
  // Outside the C locale's single-byte range the conversion fails.
  ASN1::BMPString s(
      L"\x263a"
      L"A");
  EXPECT_EQ("{{ 0, 0, 38, 58}, { 0, 0, 0, 65}}", s.asValueNotation());
}

}  // namespace
