// Constraint checking of value trees against their records, and the tracer
// that says in words what is wrong with a value.
#pragma once

#include <iosfwd>
#include <sstream>

#include "asn1/visitor.h"

namespace ASN1 {

class ValidChecker : public ConstVisitor {
 public:
  using ConstVisitor::do_visit;
  bool do_visit(const INTEGER& value) override;
  bool do_visit(const ENUMERATED& value) override;
  bool do_visit(const OBJECT_IDENTIFIER& value) override;
  bool do_visit(const BIT_STRING& value) override;
  bool do_visit(const OCTET_STRING& value) override;
  bool do_visit(const AbstractString& value) override { return value.isValid(); }
  bool do_visit(const BMPString& value) override { return value.isValid(); }
  bool do_visit(const CHOICE& value) override { return value.isValid(); }
  bool do_visit(const OpenData& value) override { return value.isValid(); }
  bool do_visit(const GeneralizedTime& value) override { return value.isStrictlyValid(); }
  bool do_visit(const SEQUENCE_OF_Base& value) override { return value.isValid(); }
  bool preVisitExtensionRoots(const SEQUENCE&) override { return true; }
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
};

class StrictlyValidChecker : public ConstVisitor {
 public:
  using ConstVisitor::do_visit;
  bool do_visit(const INTEGER& value) override { return value.isStrictValid(); }
  bool do_visit(const ENUMERATED& value) override { return value.isStrictlyValid(); }
  bool do_visit(const OBJECT_IDENTIFIER& value) override;
  bool do_visit(const BIT_STRING& value) override;
  bool do_visit(const OCTET_STRING& value) override;
  bool do_visit(const AbstractString& value) override { return value.isStrictlyValid(); }
  bool do_visit(const BMPString& value) override { return value.isStrictlyValid(); }
  bool do_visit(const CHOICE& value) override { return value.isStrictlyValid(); }
  bool do_visit(const OpenData& value) override { return value.isStrictlyValid(); }
  bool do_visit(const GeneralizedTime& value) override { return value.isStrictlyValid(); }
  bool do_visit(const SEQUENCE_OF_Base& value) override { return value.isStrictlyValid(); }
  bool preVisitExtensionRoots(const SEQUENCE&) override { return true; }
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
};

class InvalidTracer : public ConstVisitor {
 public:
  std::string text() const { return strm.str(); }

  using ConstVisitor::do_visit;
  bool do_visit(const INTEGER& value) override;
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
  bool preVisitExtensionRoots(const SEQUENCE&) override { return true; }
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

 private:
  bool sizeCheck(const char* what, const ConstrainedInfo& c, unsigned size,
                 bool upperUnlessExtendable);

  std::stringstream strm;
};

// True when value is valid; otherwise writes prefix, the path to the first
// offending component and the reason, and a line end.
bool trace_invalid(std::ostream& os, const char* prefix, const AbstractData& value);

}  // namespace ASN1
