// The two visitor interfaces through which coders and checkers reach values.
// A SEQUENCE is walked by the interface itself, which calls per-field hooks.
#ifndef VELMARD_ASN1_VISITOR_H
#define VELMARD_ASN1_VISITOR_H

#include "asn1/asn1.h"

namespace ASN1 {

// Modifiable values: the decoders.
class Visitor {
 public:
  virtual ~Visitor() {}

  // Step codes of the SEQUENCE hooks.
  enum { FAIL = 0, STOP = 1, NO_EXTENSION = 2, CONTINUE = 3 };

  bool visit(SEQUENCE& seq);

  virtual bool do_visit(Null& value) = 0;
  virtual bool do_visit(BOOLEAN& value) = 0;
  virtual bool do_visit(INTEGER& value) = 0;
  virtual bool do_visit(IntegerWithNamedNumber& value) {
    return do_visit(static_cast<INTEGER&>(value));
  }
  virtual bool do_visit(ENUMERATED& value) = 0;
  virtual bool do_visit(OBJECT_IDENTIFIER& value) = 0;
  virtual bool do_visit(OCTET_STRING& value) = 0;
  virtual bool do_visit(BIT_STRING& value) = 0;
  virtual bool do_visit(AbstractString& value) = 0;
  virtual bool do_visit(BMPString& value) = 0;
  virtual bool do_visit(CHOICE& value) = 0;
  virtual bool do_visit(SEQUENCE_OF_Base& value) = 0;
  virtual bool do_visit(OpenData& value) = 0;
  virtual bool do_revisit(OpenData& value) = 0;
  virtual bool do_visit(TypeConstrainedOpenData& value) = 0;
  virtual bool do_visit(GeneralizedTime& value) = 0;

  virtual int preVisitExtensionRoots(SEQUENCE&) { return CONTINUE; }
  virtual int visitExtensionRoot(SEQUENCE&, int /*index*/, int /*optionalId*/) { return FAIL; }
  virtual int preVisitExtensions(SEQUENCE&) { return CONTINUE; }
  virtual int visitKnownExtension(SEQUENCE&, int /*index*/, int /*optionalId*/) { return FAIL; }
  virtual bool visitUnknownExtensions(SEQUENCE&) { return true; }

  // Constructed values (SEQUENCE, SEQUENCE OF, CHOICE, open types) nested deeper
  // than this are a decode error: a type that contains itself would
  // otherwise let a short input run the decoder off the end of the stack.
  static constexpr unsigned maxNesting = 64;

  // One level of a constructed value for as long as it lives; false past
  // the bound, and then it takes no level.
  class Nested {
   public:
    explicit Nested(Visitor& v) : v_(v), ok_(v.nesting_ < maxNesting) {
      if (ok_) ++v_.nesting_;
    }
    ~Nested() {
      if (ok_) --v_.nesting_;
    }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;
    explicit operator bool() const { return ok_; }

   private:
    Visitor& v_;
    bool ok_;
  };

 private:
  unsigned nesting_ = 0;
};

// Constant values: the encoders, the printer and the checkers.
class ConstVisitor {
 public:
  virtual ~ConstVisitor() {}

  bool visit(const SEQUENCE& seq);

  virtual bool do_visit(const AbstractData&) { return true; }
  virtual bool do_visit(const Null& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const BOOLEAN& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const INTEGER& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const IntegerWithNamedNumber& value) {
    return do_visit(static_cast<const INTEGER&>(value));
  }
  virtual bool do_visit(const ENUMERATED& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const OBJECT_IDENTIFIER& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const BIT_STRING& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const OCTET_STRING& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const AbstractString& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const BMPString& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const CHOICE& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const OpenData& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const GeneralizedTime& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }
  virtual bool do_visit(const SEQUENCE_OF_Base& value) {
    return do_visit(static_cast<const AbstractData&>(value));
  }

  virtual bool preVisitExtensionRoots(const SEQUENCE& seq) {
    return do_visit(static_cast<const AbstractData&>(seq));
  }
  virtual bool visitExtensionRoot(const SEQUENCE&, int /*index*/) { return false; }
  virtual bool preVisitExtensions(const SEQUENCE&) { return true; }
  virtual bool visitKnownExtension(const SEQUENCE&, int /*index*/) { return false; }
  virtual bool afterVisitSequence(const SEQUENCE&) { return true; }

 protected:
  // The field object at index, visited by this visitor; a field that has no
  // object fails.
  bool acceptField(const SEQUENCE& seq, int index) {
    const AbstractData* field = seq.getField(static_cast<unsigned>(index));
    return field && field->accept(*this);
  }
};

// Whether a value's BER encoding is primitive.
class PrimitiveChecker : public ConstVisitor {
 public:
  using ConstVisitor::do_visit;
  bool do_visit(const AbstractData&) override { return true; }
  bool do_visit(const SEQUENCE_OF_Base&) override { return false; }
  bool do_visit(const CHOICE& value) override;
  bool do_visit(const OpenData& value) override;
  bool preVisitExtensionRoots(const SEQUENCE&) override { return false; }
};

}  // namespace ASN1

#endif  // VELMARD_ASN1_VISITOR_H
