#include "asn1/per.h"

#include <algorithm>
#include <string>

namespace ASN1 {

namespace {

// Least k with 2^k >= range (range >= 1).
unsigned bitsFor(std::uint64_t range) {
  if (range <= 1) return 0;
  return 64u - static_cast<unsigned>(__builtin_clzll(range - 1));
}

std::int64_t lowerOf(const ConstrainedInfo& c) {
  return c.lowerLimit;
}

// The upper bound as the constraint reads it: signed with a negative lower
// bound, unsigned otherwise.
std::int64_t upperOf(const ConstrainedInfo& c) {
  if (c.lowerLimit < 0) return static_cast<int>(c.upperLimit);
  return c.upperLimit;
}

std::int64_t constraintValue(const ConstrainedInfo& c, int v) {
  if (c.lowerLimit < 0) return v;
  return static_cast<std::uint32_t>(v);
}

// Size bounds of a size constraint, never negative.
void sizeBounds(const ConstrainedInfo& c, std::uint64_t& lb, std::uint64_t& ub) {
  std::int64_t lower = c.lowerLimit, upper = upperOf(c);
  lb = lower < 0 ? 0 : static_cast<std::uint64_t>(lower);
  ub = upper < 0 ? 0 : static_cast<std::uint64_t>(upper);
}

bool sizeOpen(const ConstrainedInfo& c, unsigned bitsPerChar) {
  if (c.constraintType == Unconstrained || c.constraintType == PartiallyConstrained) return true;
  std::uint64_t lb, ub;
  sizeBounds(c, lb, ub);
  return ub * bitsPerChar > 16;
}

// Whether characters go as their own codes rather than table indexes.
bool charactersAsCodes(const StringInfo& si, unsigned b) {
  if (si.canonicalSetBits > b || si.canonicalSetBits <= 4) return false;
  if (si.characterSetSize == 0) return true;
  unsigned highest = static_cast<unsigned char>(si.characterSet[si.characterSetSize - 1]);
  return b >= 32 || highest < (1u << b);
}

}  // namespace

// ===========================================================================
// Encoder.

// Fills the open octet first, then writes whole octets, then opens the last
// one: at most five octets per call, each pushed once. encodeMultiBit calls
// it only for a field longer than the open octet's free bits.
void PEREncoder::encodeBits(std::uint32_t value, unsigned nBits) {
  if (nBits == 0) return;
  std::vector<char>& out = *out_;
  std::uint32_t v = nBits >= 32 ? value : value & ((std::uint32_t(1) << nBits) - 1);
  if (freeBits_ != 8) {
    // The open octet takes the field's first freeBits_ bits.
    nBits -= freeBits_;
    out.back() = static_cast<char>(static_cast<unsigned char>(out.back()) |
                                   static_cast<unsigned>(std::uint64_t(v) >> nBits));
  }
  // The octets left, most significant first: the last one open when the
  // field ends inside it.
  unsigned octets = (nBits + 7) / 8;
  std::uint64_t aligned = std::uint64_t(v) << (8 * octets - nBits);
  for (unsigned i = octets; i-- > 0;) out.push_back(static_cast<char>(aligned >> (8 * i)));
  freeBits_ = static_cast<unsigned short>(8 * octets - nBits);
  if (freeBits_ == 0) freeBits_ = 8;
}

void PEREncoder::encodeBitMap(const unsigned char* octets, unsigned nBits) {
  unsigned whole = nBits / 8;
  if (freeBits_ == 8) {
    // At an octet boundary the whole octets go as they are.
    out_->insert(out_->end(), reinterpret_cast<const char*>(octets),
                 reinterpret_cast<const char*>(octets) + whole);
  } else {
    for (unsigned i = 0; i < whole; ++i) encodeMultiBit(octets[i], 8);
  }
  if (nBits % 8) encodeMultiBit(octets[whole] >> (8 - nBits % 8), nBits % 8);
}

void PEREncoder::encodeBlock(const char* data, std::size_t n) {
  if (n == 0) return;
  byteAlign();
  out_->insert(out_->end(), data, data + n);
}

void PEREncoder::encodeByte(unsigned char octet) {
  byteAlign();
  out_->push_back(static_cast<char>(octet));
}

bool PEREncoder::encodeUnsigned(std::int64_t v, std::int64_t lb, std::int64_t ub) {
  if (v < lb || v > ub) return false;
  if (lb == ub) return true;
  std::uint64_t span = static_cast<std::uint64_t>(ub - lb);
  std::uint64_t d = static_cast<std::uint64_t>(v - lb);
  unsigned k = bitsFor(span + 1);
  if (aligned_ && span >= 255) {
    if (k > 16) {
      unsigned c = d == 0 ? 1 : (bitsFor(d + 1) + 7) / 8;
      if (!encodeUnsigned(c, 1, (k + 7) / 8)) return false;
      k = 8 * c;
    } else if (k > 8) {
      k = 16;
    }
    byteAlign();
  }
  if (k > 32) return false;
  encodeMultiBit(static_cast<std::uint32_t>(d), k);
  return true;
}

bool PEREncoder::encodeLength(std::uint64_t n, std::uint64_t lb, std::uint64_t ub) {
  if (n < lb || n > ub) return false;
  if (!aligned_ && ub != UnboundedLength) {
    unsigned k = bitsFor(ub - lb + 1);
    if (k > 32) return false;
    encodeMultiBit(static_cast<std::uint32_t>(n - lb), k);
    return true;
  }
  if (ub <= 65535)
    return encodeUnsigned(static_cast<std::int64_t>(n), static_cast<std::int64_t>(lb),
                          static_cast<std::int64_t>(ub));
  byteAlign();
  if (n < 128) {
    encodeMultiBit(static_cast<std::uint32_t>(n), 8);
  } else if (n < 16384) {
    encodeMultiBit(0x8000u | static_cast<std::uint32_t>(n), 16);
  } else {
    return false;  // no fragmented form on this link
  }
  return true;
}

bool PEREncoder::encodeSmallUnsigned(std::uint64_t n) {
  if (n <= 63) {
    encodeSingleBit(false);
    encodeMultiBit(static_cast<std::uint32_t>(n), 6);
    return true;
  }
  if (n > 0xFFFFFFFFu) return false;
  encodeSingleBit(true);
  unsigned c = n < 256 ? 1 : n < 65536 ? 2 : n <= 16777215 ? 3 : 4;
  if (!encodeLength(c, 0, UnboundedLength)) return false;
  byteAlign();
  encodeMultiBit(static_cast<std::uint32_t>(n), 8 * c);
  return true;
}

bool PEREncoder::encodeConstrainedLength(const ConstrainedInfo& c, std::uint64_t n) {
  std::uint64_t lb, ub;
  sizeBounds(c, lb, ub);
  switch (c.constraintType) {
    case ExtendableConstraint: {
      bool outside = n > 0xFFFFFFFFu || sizeBelowLower(c, static_cast<unsigned>(n)) ||
                     sizeAboveUpper(c, static_cast<unsigned>(n));
      encodeSingleBit(outside);
      if (outside) return encodeLength(n, 0, UnboundedLength);
      return encodeLength(n, lb, ub);
    }
    case FixedConstraint:
      return encodeLength(n, lb, ub);
    default:
      return encodeLength(n, 0, UnboundedLength);
  }
}

bool PEREncoder::encodeConstraint(const ConstrainedInfo& c, std::int64_t v) {
  if (c.constraintType != ExtendableConstraint) return false;
  bool outside = v < lowerOf(c) || v > upperOf(c);
  encodeSingleBit(outside);
  return outside;
}

bool PEREncoder::encodeOpenOctets(const char* data, std::size_t n) {
  if (!encodeLength(n, 0, UnboundedLength)) return false;
  encodeBlock(data, n);
  return true;
}

// The contents are coded in place behind the aligned end of the output, and
// their length determinant (one or two octets) is slid in before them once
// their size is known: the same octets as coding them apart, without a
// second buffer.
bool PEREncoder::encodeAnyType(const AbstractData* value) {
  byteAlign();
  std::vector<char>& out = *out_;
  std::size_t mark = out.size();
  if (value) {
    PEREncoder encoder(out, true);
    if (!value->accept(encoder)) return false;
  }
  if (out.size() == mark) out.push_back(0);
  std::size_t n = out.size() - mark;
  if (n < 128) {
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(mark), static_cast<char>(n));
  } else if (n < 16384) {
    const char length[2] = {static_cast<char>(0x80 | n >> 8), static_cast<char>(n & 0xFF)};
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(mark), length, length + 2);
  } else {
    return false;  // no fragmented form on this link
  }
  return true;
}

bool PEREncoder::encodeUnconstrainedInteger(int value) {
  std::int64_t v = value;
  unsigned bits;
  if (v == 0)
    bits = 1;
  else if (v > 0)
    bits = bitsFor(static_cast<std::uint64_t>(v) + 1) + 1;
  else
    bits = bitsFor(static_cast<std::uint64_t>(-v)) + 1;
  unsigned c = (bits + 7) / 8;
  // A length without upper bound: aligned, and one octet for 1 to 4; then
  // the c octets of the value, most significant first.
  byteAlign();
  std::vector<char>& out = *out_;
  out.push_back(static_cast<char>(c));
  for (unsigned i = c; i-- > 0;)
    out.push_back(static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i)));
  return true;
}

bool PEREncoder::do_visit(const Null&) {
  return true;
}

bool PEREncoder::do_visit(const BOOLEAN& value) {
  encodeSingleBit(value.getValue());
  return true;
}

bool PEREncoder::do_visit(const INTEGER& value) {
  const ConstrainedInfo& c = *value.info();
  std::int64_t v = constraintValue(c, value.getValue());
  switch (c.constraintType) {
    case FixedConstraint:
      return encodeUnsigned(v, lowerOf(c), upperOf(c));
    case ExtendableConstraint:
      if (encodeConstraint(c, v)) return encodeUnconstrainedInteger(value.getValue());
      return encodeUnsigned(v, lowerOf(c), upperOf(c));
    default:
      return encodeUnconstrainedInteger(value.getValue());
  }
}

bool PEREncoder::do_visit(const ENUMERATED& value) {
  std::int64_t v = value.asInt();
  std::int64_t highest = value.getMaximum();
  if (highest < 0) return false;
  bool inRoot = v >= 0 && v <= highest;
  if (value.extendable()) {
    encodeSingleBit(!inRoot);
    if (!inRoot) {
      if (v < 0) return false;
      return encodeSmallUnsigned(static_cast<std::uint64_t>(v) + 1) && encodeUnsigned(v, 0, v);
    }
  }
  return encodeUnsigned(v, 0, highest);
}

bool PEREncoder::do_visit(const OBJECT_IDENTIFIER& value) {
  std::vector<char> content;
  value.encodeCommon(content);
  if (!encodeLength(content.size(), 0, 255)) return false;
  encodeBlock(content.data(), content.size());
  return true;
}

bool PEREncoder::do_visit(const BIT_STRING& value) {
  unsigned n = value.size();
  if (!encodeConstrainedLength(*value.info(), n)) return false;
  if (n == 0) return true;
  // Octets missing behind the bit count go out as zeros, as the value's
  // own bit reads give them.
  std::size_t octets = (std::size_t(n) + 7) / 8;
  std::vector<char> padded;
  const char* data = value.getData().data();
  if (value.getData().size() < octets) {
    padded = value.getData();
    padded.resize(octets, 0);
    data = padded.data();
  }
  if (aligned_ && n > 16)
    encodeBlock(data, octets);
  else
    encodeBitMap(reinterpret_cast<const unsigned char*>(data), n);
  return true;
}

bool PEREncoder::do_visit(const OCTET_STRING& value) {
  std::size_t n = value.size();
  if (!encodeConstrainedLength(*value.info(), n)) return false;
  if (n <= 2) {
    for (char c : value) encodeMultiBit(static_cast<unsigned char>(c), 8);
  } else {
    encodeBlock(value.data(), n);
  }
  return true;
}

bool PEREncoder::do_visit(const AbstractString& value) {
  const StringInfo& si = *value.info();
  std::size_t n = value.size();
  if (!encodeConstrainedLength(si.size, n)) return false;
  unsigned b = aligned_ ? si.charSetAlignedBits : si.charSetUnalignedBits;
  if (sizeOpen(si.size, b)) {
    if (b == 8) {
      encodeBlock(value.data(), n);
      return true;
    }
    if (aligned_) byteAlign();
  }
  bool codes = charactersAsCodes(si, b);
  for (char c : value) {
    int index = value.indexOf(c);
    if (si.characterSetSize && index < 0) return false;
    if (codes)
      encodeMultiBit(static_cast<unsigned char>(c), b);
    else if (index >= 0)
      encodeMultiBit(static_cast<unsigned>(index), b);
    else
      return false;
  }
  return true;
}

bool PEREncoder::do_visit(const BMPString& value) {
  const BMPStringInfo& bi = *value.info();
  std::size_t n = value.size();
  if (!encodeConstrainedLength(bi.size, n)) return false;
  unsigned b = aligned_ ? bi.charSetAlignedBits : bi.charSetUnalignedBits;
  if (aligned_ && sizeOpen(bi.size, b)) byteAlign();
  for (wchar_t c : value) {
    if (!value.legalCharacter(c)) return false;
    encodeMultiBit(static_cast<unsigned>(c) - bi.firstChar, b);
  }
  return true;
}

bool PEREncoder::do_visit(const GeneralizedTime& value) {
  std::string text = value.get();
  if (!encodeLength(text.size(), 0, UnboundedLength)) return false;
  encodeBlock(text.data(), text.size());
  return true;
}

bool PEREncoder::do_visit(const CHOICE& value) {
  if (!value.isSelected()) return false;
  const ChoiceInfo& ci = *value.info();
  unsigned id = static_cast<unsigned>(value.currentSelection());
  if (id >= ci.totalChoices) return false;
  if (ci.extendable) {
    bool extension = id >= ci.numChoices;
    encodeSingleBit(extension);
    if (extension)
      return encodeSmallUnsigned(id - ci.numChoices) && encodeAnyType(value.getSelection());
  } else if (id >= ci.numChoices) {
    return false;
  }
  if (ci.numChoices >= 2 && !encodeUnsigned(id, 0, ci.numChoices - 1)) return false;
  return value.getSelection()->accept(*this);
}

bool PEREncoder::do_visit(const SEQUENCE_OF_Base& value) {
  if (!encodeConstrainedLength(value.info()->size, value.size())) return false;
  for (const AbstractData* e : value.elements())
    if (!e->accept(*this)) return false;
  return true;
}

bool PEREncoder::do_visit(const OpenData& value) {
  // Octets received for a deferred open type go back out as they came.
  if (!value.has_data() && value.has_buf())
    return encodeOpenOctets(value.get_buf().data(), value.get_buf().size());
  return encodeAnyType(value.has_data() ? &value.get_data() : nullptr);
}

bool PEREncoder::preVisitExtensionRoots(const SEQUENCE& seq) {
  if (seq.extendable()) encodeSingleBit(seq.extensionMap().any());
  // Bit by bit: a map shorter than the record's count reads as absent.
  const SEQUENCE::BitMap& optional = seq.optionalMap();
  for (unsigned i = 0; i < seq.info()->numOptional; ++i) encodeSingleBit(optional[i]);
  return true;
}

bool PEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index) {
  return acceptField(seq, index);
}

bool PEREncoder::preVisitExtensions(const SEQUENCE& seq) {
  const SEQUENCE::BitMap& map = seq.extensionMap();
  if (!map.any()) return true;
  // Without an extension marker no bit announced the additions.
  if (!seq.extendable()) return false;
  // Presence bits of unknown additions must have their octets behind them.
  unsigned unknown = 0;
  for (unsigned i = seq.info()->knownExtensions; i < map.size(); ++i) unknown += map[i];
  if (unknown != seq.unknownExtensions().size()) return false;
  if (!encodeSmallUnsigned(map.size() - 1)) return false;
  encodeBitMap(map.data().data(), map.size());
  return true;
}

bool PEREncoder::visitKnownExtension(const SEQUENCE& seq, int index) {
  const AbstractData* field = seq.getField(static_cast<unsigned>(index));
  return field && encodeAnyType(field);
}

bool PEREncoder::afterVisitSequence(const SEQUENCE& seq) {
  if (!seq.extensionMap().any()) return true;
  for (const std::vector<char>& octets : seq.unknownExtensions())
    if (!encodeOpenOctets(octets.data(), octets.size())) return false;
  return true;
}

// ===========================================================================
// Decoder.

std::uint64_t PERDecoder::getBitsLeft() const {
  if (pos_ == end_) return 0;
  return std::uint64_t(end_ - pos_) * 8 - (8 - bitsLeft_);
}

void PERDecoder::byteAlign() {
  if (bitsLeft_ != 8) {
    ++pos_;
    bitsLeft_ = 8;
  }
}

void PERDecoder::setPosition(const char* p) {
  pos_ = p < end_ ? p : end_;
  bitsLeft_ = 8;
}

bool PERDecoder::decodeSingleBit(bool& bit) {
  std::uint32_t v;
  if (!decodeMultiBit(1, v)) return false;
  bit = v != 0;
  return true;
}

// The rest of the current octet, then whole octets, then the top of the
// last one: at most five octet reads per call.
bool PERDecoder::decodeBits(unsigned nBits, std::uint32_t& value) {
  // Callers that have checked the bits left read on without testing the
  // result; a refused read still gives them a defined value.
  value = 0;
  if (nBits > 32 || nBits > getBitsLeft()) return false;
  if (nBits == 0) return true;
  std::uint64_t r = static_cast<unsigned char>(*pos_) & ((1u << bitsLeft_) - 1);
  if (nBits < bitsLeft_) {
    bitsLeft_ = static_cast<unsigned short>(bitsLeft_ - nBits);
    value = static_cast<std::uint32_t>(r >> bitsLeft_);
    return true;
  }
  nBits -= bitsLeft_;
  ++pos_;
  while (nBits >= 8) {
    r = r << 8 | static_cast<unsigned char>(*pos_++);
    nBits -= 8;
  }
  if (nBits) {
    r = r << nBits | (static_cast<unsigned char>(*pos_) >> (8 - nBits));
    bitsLeft_ = static_cast<unsigned short>(8 - nBits);
  } else {
    bitsLeft_ = 8;
  }
  value = static_cast<std::uint32_t>(r);
  return true;
}

bool PERDecoder::decodeBitMap(SEQUENCE::BitMap::Octets& octets, unsigned nBits) {
  if (nBits > getBitsLeft()) return false;
  unsigned whole = nBits / 8;
  octets.resize((std::size_t(nBits) + 7) / 8);
  if (bitsLeft_ == 8) {
    // At an octet boundary the whole octets are taken as they are.
    std::copy(pos_, pos_ + whole, octets.begin());
    pos_ += whole;
  } else {
    for (unsigned i = 0; i < whole; ++i) {
      std::uint32_t v;
      if (!decodeMultiBit(8, v)) return false;
      octets[i] = static_cast<unsigned char>(v);
    }
  }
  if (nBits % 8) {
    std::uint32_t v;
    if (!decodeMultiBit(nBits % 8, v)) return false;
    octets[whole] = static_cast<unsigned char>(v << (8 - nBits % 8));
  }
  return true;
}

std::size_t PERDecoder::decodeBlock(char* data, std::size_t n) {
  byteAlign();
  if (n == 0) return 0;
  std::size_t copied = std::min(n, octetsLeft());
  std::copy(pos_, pos_ + copied, data);
  pos_ += copied;
  return copied;
}

template <class Octets>
bool PERDecoder::decodeOctets(Octets& octets, unsigned n) {
  if (n == 0) {
    octets.clear();
    return true;
  }
  byteAlign();
  if (n > octetsLeft()) return false;
  octets.assign(pos_, pos_ + n);
  pos_ += n;
  return true;
}

int PERDecoder::decodeUnsigned(std::int64_t lb, std::int64_t ub, std::int64_t& v) {
  if (ub < lb) return -1;
  if (lb == ub) {
    v = lb;
    return 0;
  }
  std::uint64_t span = static_cast<std::uint64_t>(ub - lb);
  unsigned k = bitsFor(span + 1);
  if (aligned_ && span >= 255) {
    if (k > 16) {
      std::int64_t c;
      if (decodeUnsigned(1, (k + 7) / 8, c) < 0) return -1;
      k = static_cast<unsigned>(8 * c);
    } else if (k > 8) {
      k = 16;
    }
    byteAlign();
  }
  std::uint32_t d;
  if (!decodeMultiBit(k, d)) return -1;
  v = lb + static_cast<std::int64_t>(d);
  return 0;
}

int PERDecoder::decodeLength(std::uint64_t lb, std::uint64_t ub, unsigned& n) {
  if (!aligned_ && ub != UnboundedLength) {
    if (ub < lb) return -1;
    std::uint32_t d;
    if (!decodeMultiBit(bitsFor(ub - lb + 1), d)) return -1;
    std::uint64_t r = lb + d;
    if (r > 0xFFFFFFFFu) return -1;
    n = static_cast<unsigned>(r);
    return 0;
  }
  if (ub <= 65535) {
    std::int64_t v;
    if (decodeUnsigned(static_cast<std::int64_t>(lb), static_cast<std::int64_t>(ub), v) < 0)
      return -1;
    n = static_cast<unsigned>(v);
    return 0;
  }
  byteAlign();
  std::uint32_t first;
  if (!decodeMultiBit(8, first)) return -1;
  if (!(first & 0x80)) {
    n = first;
    return 0;
  }
  if ((first & 0xC0) != 0x80) return -1;  // fragmented form: not supported
  std::uint32_t second;
  if (!decodeMultiBit(8, second)) return -1;
  n = (first & 0x3F) << 8 | second;
  return 0;
}

bool PERDecoder::decodeSmallUnsigned(std::uint32_t& n) {
  bool large;
  if (!decodeSingleBit(large)) return false;
  if (!large) return decodeMultiBit(6, n);
  unsigned c;
  if (decodeLength(0, UnboundedLength, c) < 0) return false;
  byteAlign();
  return decodeMultiBit(8 * c, n);
}

int PERDecoder::decodeConstrainedLength(const ConstrainedInfo& c, unsigned& n) {
  std::uint64_t lb, ub;
  sizeBounds(c, lb, ub);
  switch (c.constraintType) {
    case ExtendableConstraint: {
      bool outside;
      if (!decodeSingleBit(outside)) return -1;
      if (outside) return decodeLength(0, UnboundedLength, n);
      return decodeLength(lb, ub, n);
    }
    case FixedConstraint:
      return decodeLength(lb, ub, n);
    default:
      return decodeLength(0, UnboundedLength, n);
  }
}

bool PERDecoder::decodeOpenTypeEnd(const char*& mark) {
  unsigned n;
  if (decodeLength(0, UnboundedLength, n) < 0) return false;
  byteAlign();
  if (n > octetsLeft()) return false;
  mark = pos_ + n;
  return true;
}

bool PERDecoder::decodeWithin(AbstractData& value, const char* mark) {
  // The contents of an open type are always coded ALIGNED.
  const char* savedEnd = end_;
  bool savedAligned = aligned_;
  end_ = mark;
  aligned_ = true;
  bool ok = value.accept(*this);
  end_ = savedEnd;
  aligned_ = savedAligned;
  if (ok) setPosition(mark);
  return ok;
}

bool PERDecoder::do_visit(Null&) {
  return true;
}

bool PERDecoder::do_visit(BOOLEAN& value) {
  bool bit;
  if (!decodeSingleBit(bit)) return false;
  value.setValue(bit);
  return true;
}

bool PERDecoder::do_visit(INTEGER& value) {
  const ConstrainedInfo& c = *value.info();
  bool unconstrained =
      c.constraintType == Unconstrained || c.constraintType == PartiallyConstrained;
  if (c.constraintType == ExtendableConstraint && !decodeSingleBit(unconstrained)) return false;
  if (unconstrained) {
    unsigned n;
    if (decodeLength(0, UnboundedLength, n) < 0 || n > 4) return false;
    std::uint32_t raw = 0;
    if (n && !decodeMultiBit(8 * n, raw)) return false;
    if (n && n < 4 && (raw & (1u << (8 * n - 1)))) raw |= ~((1u << (8 * n)) - 1);
    value.setValue(static_cast<int>(raw));
    return true;
  }
  std::int64_t v;
  if (decodeUnsigned(lowerOf(c), upperOf(c), v) < 0) return false;
  value.setValue(static_cast<int>(static_cast<std::uint32_t>(v)));
  return true;
}

bool PERDecoder::do_visit(ENUMERATED& value) {
  std::int64_t highest = value.getMaximum();
  if (value.extendable()) {
    bool extension;
    if (!decodeSingleBit(extension)) return false;
    if (extension) {
      // A number cut off by the end of the input fails; only a count of 0
      // falls back to a root value.
      std::uint32_t n;
      std::int64_t v;
      if (!decodeSmallUnsigned(n)) return false;
      if (n >= 1) {
        if (decodeUnsigned(0, std::int64_t(n) - 1, v) < 0) return false;
        value.setFromInt(static_cast<int>(static_cast<std::uint32_t>(v)));
        return true;
      }
    }
  }
  std::int64_t v;
  if (decodeUnsigned(0, highest, v) < 0) return false;
  value.setFromInt(static_cast<int>(v));
  return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& value) {
  unsigned n;
  if (decodeLength(0, 255, n) < 0) return false;
  if (n == 0) return value.decodeCommon(nullptr, 0);
  byteAlign();
  if (n > octetsLeft()) return false;
  if (!value.decodeCommon(pos_, n)) return false;
  pos_ += n;
  return true;
}

bool PERDecoder::do_visit(OCTET_STRING& value) {
  unsigned n;
  if (decodeConstrainedLength(*value.info(), n) < 0 || n > MaximumStringSize) return false;
  if (n <= 2) {
    if (std::uint64_t(n) * 8 > getBitsLeft()) return false;
    value.resize(n);
    for (unsigned i = 0; i < n; ++i) {
      std::uint32_t octet;
      if (!decodeMultiBit(8, octet)) return false;
      value[i] = static_cast<char>(octet);
    }
    return true;
  }
  return decodeOctets(value, n);
}

bool PERDecoder::do_visit(BIT_STRING& value) {
  unsigned n;
  if (decodeConstrainedLength(*value.info(), n) < 0) return false;
  if (n > MaximumStringSize || n > getBitsLeft()) return false;
  value.resize(n);
  if (n == 0) return true;
  std::vector<char>& data = value.getData();
  if (aligned_ && n > 16) {
    std::size_t octets = (std::size_t(n) + 7) / 8;
    return decodeBlock(data.data(), octets) == octets;
  }
  SEQUENCE::BitMap::Octets bits;
  if (!decodeBitMap(bits, n)) return false;
  std::copy(bits.begin(), bits.end(), data.begin());
  return true;
}

bool PERDecoder::do_visit(AbstractString& value) {
  const StringInfo& si = *value.info();
  unsigned n;
  if (decodeConstrainedLength(si.size, n) < 0 || n > MaximumStringSize) return false;
  unsigned b = aligned_ ? si.charSetAlignedBits : si.charSetUnalignedBits;
  if (sizeOpen(si.size, b)) {
    if (b == 8) {
      if (decodeOctets(value, n)) return true;
      value.clear();
      return false;
    }
    if (aligned_) byteAlign();
  }
  if (std::uint64_t(n) * b > getBitsLeft()) {
    value.clear();
    return false;
  }
  bool codes = charactersAsCodes(si, b);
  value.resize(n);
  for (unsigned i = 0; i < n; ++i) {
    std::uint32_t c;
    if (!decodeMultiBit(b, c)) return false;
    if (codes) {
      value[i] = static_cast<char>(c);
    } else {
      if (c >= si.characterSetSize) return false;
      value[i] = si.characterSet[c];
    }
  }
  return true;
}

bool PERDecoder::do_visit(BMPString& value) {
  const BMPStringInfo& bi = *value.info();
  unsigned n;
  if (decodeConstrainedLength(bi.size, n) < 0 || n > MaximumStringSize) return false;
  unsigned b = aligned_ ? bi.charSetAlignedBits : bi.charSetUnalignedBits;
  if (aligned_ && sizeOpen(bi.size, b)) byteAlign();
  if (std::uint64_t(n) * b > getBitsLeft()) return false;
  value.resize(n);
  for (unsigned i = 0; i < n; ++i) {
    std::uint32_t c;
    if (!decodeMultiBit(b, c)) return false;
    value[i] = static_cast<wchar_t>(bi.firstChar + c);
  }
  return true;
}

bool PERDecoder::do_visit(GeneralizedTime& value) {
  unsigned n;
  if (decodeLength(0, UnboundedLength, n) < 0 || n == 0) return false;
  std::vector<char> text;
  if (!decodeOctets(text, n)) return false;
  value.set(text.data(), text.size());
  return true;
}

bool PERDecoder::do_visit(CHOICE& value) {
  const ChoiceInfo& ci = *value.info();
  std::uint64_t id = 0;
  const char* mark = nullptr;
  bool extension = false;
  if (ci.extendable && !decodeSingleBit(extension)) return false;
  if (extension) {
    std::uint32_t n;
    if (!decodeSmallUnsigned(n)) return false;
    id = std::uint64_t(ci.numChoices) + n;
    if (!decodeOpenTypeEnd(mark)) return false;
  } else if (ci.numChoices >= 2) {
    std::int64_t v;
    if (decodeUnsigned(0, ci.numChoices - 1, v) < 0) return false;
    id = static_cast<std::uint64_t>(v);
    if (id >= ci.numChoices) return false;
  } else if (ci.numChoices == 0) {
    return false;
  }
  if (id >= ci.totalChoices) return false;  // unknown alternative
  if (!value.select(static_cast<int>(id))) return false;
  if (mark) return decodeWithin(*value.getSelection(), mark);
  return value.getSelection()->accept(*this);
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& value) {
  unsigned n;
  if (decodeConstrainedLength(value.info()->size, n) < 0 || n > MaximumArraySize) return false;
  value.resize(n);
  if (value.size() != n) return false;
  SEQUENCE_OF_Base::Container& elements = value.elements();
  for (unsigned i = 0; i < n; ++i) {
    if (!elements[i]->accept(*this)) {
      value.erase(elements.begin() + i, elements.end());
      return false;
    }
  }
  return true;
}

bool PERDecoder::do_visit(OpenData& value) {
  unsigned n;
  if (decodeLength(0, UnboundedLength, n) < 0 || n > MaximumStringSize) return false;
  return decodeOctets(value.get_buf(), n);
}

bool PERDecoder::do_revisit(OpenData& value) {
  if (!value.has_buf() || !value.has_data()) return false;
  const std::vector<char>& buf = value.get_buf();
  PERDecoder decoder(buf.data(), buf.data() + buf.size(), env_, true);
  return value.get_data().accept(decoder);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& value) {
  const char* mark;
  if (!decodeOpenTypeEnd(mark) || !value.has_data()) return false;
  return decodeWithin(value.get_data(), mark);
}

int PERDecoder::preVisitExtensionRoots(SEQUENCE& seq) {
  bool extension = false;
  if (seq.extendable() && !decodeSingleBit(extension)) return FAIL;
  SEQUENCE::BitMap& optional = seq.optionalMap();
  unsigned count = seq.info()->numOptional;
  optional.resize(count);
  if (!decodeBitMap(optional.data(), count)) return FAIL;
  if (!extension) {
    seq.extensionMap().resize(0);
    seq.unknownExtensions().clear();
  }
  return extension ? CONTINUE : NO_EXTENSION;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) {
  if (optionalId != -1 && !seq.hasOptionalField(static_cast<unsigned>(optionalId))) return CONTINUE;
  AbstractData* field = seq.createField(static_cast<unsigned>(index));
  if (!field || !field->accept(*this)) return FAIL;
  return CONTINUE;
}

int PERDecoder::preVisitExtensions(SEQUENCE& seq) {
  std::uint32_t n;
  if (!decodeSmallUnsigned(n)) return FAIL;
  std::uint64_t count = std::uint64_t(n) + 1;
  if (count > MaximumArraySize) return FAIL;
  SEQUENCE::BitMap& map = seq.extensionMap();
  map.resize(static_cast<unsigned>(count));
  if (!decodeBitMap(map.data(), static_cast<unsigned>(count))) return FAIL;
  seq.unknownExtensions().clear();
  return CONTINUE;
}

int PERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int optionalId) {
  if (!seq.hasOptionalField(static_cast<unsigned>(optionalId))) return CONTINUE;
  const char* mark;
  if (!decodeOpenTypeEnd(mark)) return FAIL;
  AbstractData* field = seq.createField(static_cast<unsigned>(index));
  if (!field) {
    setPosition(mark);
    return CONTINUE;
  }
  return decodeWithin(*field, mark) ? CONTINUE : FAIL;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE& seq) {
  const SEQUENCE::BitMap& map = seq.extensionMap();
  for (unsigned i = seq.info()->knownExtensions; i < map.size(); ++i) {
    if (!map[i]) continue;
    const char* mark;
    if (!decodeOpenTypeEnd(mark)) return false;
    seq.unknownExtensions().emplace_back(pos_, mark);
    setPosition(mark);
  }
  return true;
}

}  // namespace ASN1
