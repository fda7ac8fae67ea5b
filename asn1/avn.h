// ASN.1 value notation: how every message is written to the logs.
#ifndef VELMARD_ASN1_AVN_H
#define VELMARD_ASN1_AVN_H

#include <istream>
#include <ostream>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
 public:
  explicit AVNEncoder(std::ostream& os, int indent = 0) : strm(&os), indent(indent) {}

  using ConstVisitor::do_visit;
  bool do_visit(const Null& value) override;
  bool do_visit(const BOOLEAN& value) override;
  bool do_visit(const INTEGER& value) override;
  bool do_visit(const IntegerWithNamedNumber& value) override;
  bool do_visit(const ENUMERATED& value) override;
  bool do_visit(const OBJECT_IDENTIFIER& value) override;
  bool do_visit(const BIT_STRING& value) override;
  bool do_visit(const OCTET_STRING& value) override;
  bool do_visit(const AbstractString& value) override;
  bool do_visit(const BMPString& value) override;
  bool do_visit(const CHOICE& value) override;
  bool do_visit(const OpenData& value) override;
  bool do_visit(const GeneralizedTime& value) override;
  bool do_visit(const SEQUENCE_OF_Base& value) override;

  bool preVisitExtensionRoots(const SEQUENCE& seq) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
  bool afterVisitSequence(const SEQUENCE& seq) override;

 private:
  bool good() const { return strm->good(); }
  void pad(int n);
  void printOctets(const char* data, std::size_t n);

  std::ostream* strm;
  int indent;
  std::vector<bool> fieldPrinted;
};

// Stream glue: runs one input or output operation on a stream under its
// sentry and turns the outcome into stream state.
class IOWrapper {
 public:
  virtual ~IOWrapper() {}
  void do_it(std::ios& strm);

 protected:
  virtual std::ios_base::iostate do_real_io() = 0;
};

template <class CharT, class Traits, class T>
class InserterWrapper;

template <>
class InserterWrapper<char, std::char_traits<char>, AbstractData> : public IOWrapper {
 public:
  InserterWrapper(std::ostream& os, const AbstractData& value) : os(os), value(value) {}

 protected:
  std::ios_base::iostate do_real_io() override;

 private:
  std::ostream& os;
  const AbstractData& value;
};

template <class CharT, class Traits, class T>
class ExtractorWrapper;

template <>
class ExtractorWrapper<char, std::char_traits<char>, AbstractData> : public IOWrapper {
 public:
  ExtractorWrapper(std::istream& is, AbstractData& value) : is(is), value(value) {}

 protected:
  std::ios_base::iostate do_real_io() override;

 private:
  std::istream& is;
  AbstractData& value;
};

std::ostream& g_inserter(std::ostream& os, const AbstractData& value);
std::istream& g_extractor(std::istream& is, AbstractData& value);

}  // namespace ASN1

#endif  // VELMARD_ASN1_AVN_H
