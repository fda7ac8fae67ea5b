// Basic Encoding Rules (X.690), definite-length form only.  Every type of
// the message modules has automatic tags: component or alternative i goes
// under the context tag [i], which replaces the component's own universal
// tag; a CHOICE or open type has no tag of its own and is wrapped instead,
// so [i] becomes a constructed header around the alternative's encoding.
#ifndef VELMARD_ASN1_BER_H
#define VELMARD_ASN1_BER_H

#include <cstddef>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class CoderEnv;

// Tag under which component / alternative `index` is coded.
unsigned sequenceFieldTag(const SequenceInfo& info, unsigned index);
unsigned choiceAlternativeTag(const ChoiceInfo& info, unsigned index);

// Content length in octets of a value's BER encoding.
class DataLengthCounter : public ConstVisitor {
 public:
  DataLengthCounter() : length(0) {}
  unsigned getLength() const { return length; }

  using ConstVisitor::do_visit;
  bool do_visit(const BOOLEAN& value) override;
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
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override {
    return visitExtensionRoot(seq, index);
  }

 private:
  unsigned length;
};

// Minimal two's-complement octets of v (1 to 4).
int getIntegerDataLength(int v);
// Content octets of value.
unsigned getDataLength(const AbstractData& value);
// Header and content octets of value written under `tag` (see BEREncoder's
// pending tag: NoOverride = its own tag, 0 = no header).
unsigned getObjectLength(const AbstractData& value, unsigned tag);

class BEREncoder : public ConstVisitor {
 public:
  // Appends to `out`; a failed encode leaves a partial value there, so
  // callers encode into a scratch vector and copy it out on success.
  explicit BEREncoder(std::vector<char>& out) : out_(&out), tag_(NoOverride) {}

  // Identifier and length octets of `value` under the pending tag.
  void encodeHeader(const AbstractData& value);

  using ConstVisitor::do_visit;
  bool do_visit(const Null& value) override;
  bool do_visit(const BOOLEAN& value) override;
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

  bool preVisitExtensionRoots(const SEQUENCE& seq) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

  // Pending tag: NoOverride = the value's own, 0 = no header at all.
  static constexpr unsigned NoOverride = 0xFFFFFFFFu;

 private:
  // Takes the pending tag; 0 when no header is to be written.
  unsigned takeTag(const AbstractData& value);
  void writeHeader(unsigned tag, bool constructed, unsigned length);
  void writeInteger(int value);

  std::vector<char>* out_;
  unsigned tag_;
};

class BERDecoder : public Visitor {
 public:
  BERDecoder(const char* begin, const char* end, CoderEnv* env = nullptr)
      : env_(env), pos_(begin), end_(end), implicitTag_(0) {}
  ~BERDecoder() override = default;

  const char* getPosition() const { return pos_; }

  // Reads an identifier and a definite length; the length must fit in what
  // is left of the innermost enclosing content.
  bool decodeHeader(unsigned& tag, bool& primitive, unsigned& length);
  // The same, and the tag must be the value's own unless an implicit
  // context tag is allowed in its place.
  // Reads the next header without moving: its tag and where its content ends.
  bool peekHeader(unsigned& tag, const char*& end);
  bool decodeHeader(AbstractData& value, unsigned& length);
  unsigned decodeBlock(char* dst, unsigned n);
  // Reads the optional explicit wrapper and selects the alternative named
  // by the next header; `end` is where that alternative's encoding ends.
  bool decodeChoicePreamle(CHOICE& value, const char*& end);

  bool do_visit(Null& value) override;
  bool do_visit(BOOLEAN& value) override;
  bool do_visit(INTEGER& value) override;
  bool do_visit(ENUMERATED& value) override;
  bool do_visit(OBJECT_IDENTIFIER& value) override;
  bool do_visit(OCTET_STRING& value) override;
  bool do_visit(BIT_STRING& value) override;
  bool do_visit(AbstractString& value) override;
  bool do_visit(BMPString& value) override;
  bool do_visit(CHOICE& value) override;
  bool do_visit(SEQUENCE_OF_Base& value) override;
  bool do_visit(OpenData& value) override;
  bool do_revisit(OpenData& value) override;
  bool do_visit(TypeConstrainedOpenData& value) override;
  bool do_visit(GeneralizedTime& value) override;

  int preVisitExtensionRoots(SEQUENCE& seq) override;
  int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
  int preVisitExtensions(SEQUENCE&) override { return CONTINUE; }
  int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
  bool visitUnknownExtensions(SEQUENCE& seq) override;

 private:
  const char* limit() const { return contentEnds_.empty() ? end_ : contentEnds_.back(); }
  // decodeHeader, then steps over the content; `content` is where it starts.
  bool decodeContent(AbstractData& value, const char*& content, unsigned& length);
  // Two's complement content, of which the last four octets are kept.
  bool decodeInteger(AbstractData& value, int& number);
  template <class Octets>
  bool decodeOctets(Octets& value);
  int visitField(SEQUENCE& seq, int index, int optionalId, bool optional);
  // Reads the header that wraps a CHOICE or an open type (an implicit
  // context tag, or the type's own): a wrapper is consumed, a contained
  // value's own header is left in place; `end` is where the encoding that
  // header announces ends.
  bool decodeWrapper(AbstractData& value, bool& wrapped, const char*& end);

  CoderEnv* env_;
  const char* pos_;
  const char* end_;
  std::vector<const char*> contentEnds_;
  int implicitTag_;
};

}  // namespace ASN1

#endif  // VELMARD_ASN1_BER_H
