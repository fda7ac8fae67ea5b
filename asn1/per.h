// Packed Encoding Rules, ALIGNED (the wire format of every control and
// monitoring message) and UNALIGNED.  Both sides of every link use this
// coder, so its departures from X.691 are part of the format:
//  - an ENUMERATED is coded by its value in 0..highest root value;
//  - lengths of 16384 and more have no form;
//  - the decoder does not check a constrained INTEGER against its upper
//    bound: consumers range-check decoded numbers before using them.
#ifndef VELMARD_ASN1_PER_H
#define VELMARD_ASN1_PER_H

#include <cstdint>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class CoderEnv;

// Length determinants with this upper bound have none.
constexpr unsigned UnboundedLength = 2147483647u;

class PEREncoder : public ConstVisitor {
 public:
  explicit PEREncoder(std::vector<char>& out, bool aligned = true)
      : out_(&out), freeBits_(8), aligned_(aligned) {}

  bool aligned() const { return aligned_; }

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
  bool preVisitExtensions(const SEQUENCE& seq) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
  bool afterVisitSequence(const SEQUENCE& seq) override;

  // Building blocks.
  void encodeSingleBit(bool value) { encodeMultiBit(value ? 1 : 0, 1); }
  void encodeMultiBit(std::uint32_t value, unsigned nBits) {
    // Most fields are a few bits that fit in the open octet, or one octet.
    if (freeBits_ != 8 && nBits <= freeBits_) {
      freeBits_ = static_cast<unsigned short>(freeBits_ - nBits);
      unsigned bits = value & ((1u << nBits) - 1);
      out_->back() =
          static_cast<char>(static_cast<unsigned char>(out_->back()) | (bits << freeBits_));
      if (freeBits_ == 0) freeBits_ = 8;
      return;
    }
    if (freeBits_ == 8 && nBits == 8) {
      out_->push_back(static_cast<char>(value));
      return;
    }
    encodeBits(value, nBits);
  }
  void encodeBitMap(const unsigned char* octets, unsigned nBits);
  void encodeBlock(const char* data, std::size_t n);
  void encodeByte(unsigned char octet);
  void byteAlign() { freeBits_ = 8; }
  // v in [lb, ub], all three as the constraint reads them.
  bool encodeUnsigned(std::int64_t v, std::int64_t lb, std::int64_t ub);
  bool encodeLength(std::uint64_t n, std::uint64_t lb, std::uint64_t ub);
  bool encodeSmallUnsigned(std::uint64_t n);
  bool encodeConstrainedLength(const ConstrainedInfo& c, std::uint64_t n);
  // Writes the extension bit of an extendable constraint; true when the
  // value must go in the unconstrained form.
  bool encodeConstraint(const ConstrainedInfo& c, std::int64_t v);
  bool encodeAnyType(const AbstractData* value);
  bool encodeOpenOctets(const char* data, std::size_t n);

 private:
  void encodeBits(std::uint32_t value, unsigned nBits);
  bool encodeUnconstrainedInteger(int value);

  std::vector<char>* out_;
  unsigned short freeBits_;
  bool aligned_;
};

class PERDecoder : public Visitor {
 public:
  struct memento_type {
    const char* position;
    unsigned bitsLeft;
  };

  PERDecoder(const char* begin, const char* end, CoderEnv* env = nullptr, bool aligned = true)
      : env_(env), pos_(begin), end_(end), bitsLeft_(8), aligned_(aligned) {}

  bool aligned() const { return aligned_; }
  const char* getPosition() const { return pos_; }
  const char* getEnd() const { return end_; }

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
  using Visitor::do_visit;

  int preVisitExtensionRoots(SEQUENCE& seq) override;
  int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
  int preVisitExtensions(SEQUENCE& seq) override;
  int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
  bool visitUnknownExtensions(SEQUENCE& seq) override;

  // Building blocks.
  bool decodeSingleBit(bool& bit);
  bool decodeMultiBit(unsigned nBits, std::uint32_t& value) {
    // Most fields are a few bits inside the current octet, or one octet.
    if (nBits <= bitsLeft_ && pos_ < end_) {
      unsigned left = bitsLeft_ - nBits;
      value = (static_cast<unsigned char>(*pos_) >> left) & ((1u << nBits) - 1);
      if (left == 0) {
        ++pos_;
        left = 8;
      }
      bitsLeft_ = static_cast<unsigned short>(left);
      return true;
    }
    return decodeBits(nBits, value);
  }
  bool decodeBitMap(SEQUENCE::BitMap::Octets& octets, unsigned nBits);
  // Copies at most the octets left; returns how many it copied.
  std::size_t decodeBlock(char* data, std::size_t n);
  int decodeUnsigned(std::int64_t lb, std::int64_t ub, std::int64_t& v);
  int decodeLength(std::uint64_t lb, std::uint64_t ub, unsigned& n);
  bool decodeSmallUnsigned(std::uint32_t& n);
  int decodeConstrainedLength(const ConstrainedInfo& c, unsigned& n);
  void byteAlign();
  void setPosition(const char* p);
  std::uint64_t getBitsLeft() const;
  std::size_t octetsLeft() const { return static_cast<std::size_t>(end_ - pos_); }

 private:
  bool decodeBits(unsigned nBits, std::uint32_t& value);
  // Reads an open-type length, checks that its octets are all there and
  // gives the position just past them.
  bool decodeOpenTypeEnd(const char*& mark);
  // Decodes value with the input limited to [position, mark), then moves
  // to mark.
  bool decodeWithin(AbstractData& value, const char* mark);
  // n octets from the next octet boundary into a byte container.
  template <class Octets>
  bool decodeOctets(Octets& octets, unsigned n);

  CoderEnv* env_;
  const char* pos_;
  const char* end_;
  unsigned short bitsLeft_;
  bool aligned_;
};

}  // namespace ASN1

#endif  // VELMARD_ASN1_PER_H
