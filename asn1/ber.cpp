#include "asn1/ber.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace ASN1 {

namespace {

constexpr unsigned TagNumberMask = 0x3FFFFFu;
constexpr unsigned char ConstructedBit = 0x20;

unsigned tagNumber(unsigned tag) {
  return tag & TagNumberMask;
}

unsigned base128Groups(unsigned number) {
  unsigned n = 1;
  while (number >>= 7) ++n;
  return n;
}

unsigned lengthOctets(unsigned length) {
  if (length < 128) return 1;
  unsigned n = 1;
  while (length >>= 8) ++n;
  return 1 + n;
}

// Two's complement, big-endian; of a longer number only the last four
// octets survive.
int readInteger(const char* p, unsigned length) {
  std::uint32_t v = static_cast<std::uint32_t>(static_cast<int>(static_cast<signed char>(*p)));
  for (unsigned i = 1; i < length; ++i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return static_cast<int>(v);
}

// A type whose constraint starts at 0 or above holds its number unsigned:
// 4000000000 in (0..4294967295) must not reach the wire as a negative
// number, so it takes a leading zero octet.
bool needsSignOctet(const INTEGER& value) {
  return value.getConstraintType() != Unconstrained && value.getLowerLimit() >= 0 &&
         value.getValue() < 0;
}

unsigned integerContentLength(const INTEGER& value) {
  return needsSignOctet(value) ? 5 : static_cast<unsigned>(getIntegerDataLength(value.getValue()));
}

bool isPrimitive(const AbstractData& value) {
  PrimitiveChecker checker;
  return value.accept(checker);
}

}  // namespace

// ---------------------------------------------------------------------------
// Tags and lengths

unsigned sequenceFieldTag(const SequenceInfo& info, unsigned index) {
  if (!info.tags) return contextTag(index);
  if (info.tags == &SEQUENCE::defaultTag) return typeInfo(info.fieldInfos[index])->tag;
  return info.tags[index];
}

unsigned choiceAlternativeTag(const ChoiceInfo& info, unsigned index) {
  return info.tags ? info.tags[index] : contextTag(index);
}

int getIntegerDataLength(int v) {
  std::uint32_t u = static_cast<std::uint32_t>(v);
  int n = 4;
  // An octet goes while it and the sign bit below it are one run of zeros
  // or ones: the next octet then carries the sign alone.
  while (n > 1) {
    unsigned top = (u >> (8 * n - 9)) & 0x1FF;
    if (top != 0 && top != 0x1FF) break;
    --n;
  }
  return n;
}

bool DataLengthCounter::do_visit(const BOOLEAN&) {
  length += 1;
  return true;
}

bool DataLengthCounter::do_visit(const INTEGER& value) {
  length += integerContentLength(value);
  return true;
}

bool DataLengthCounter::do_visit(const ENUMERATED& value) {
  length += static_cast<unsigned>(getIntegerDataLength(value.asInt()));
  return true;
}

bool DataLengthCounter::do_visit(const OBJECT_IDENTIFIER& value) {
  std::vector<char> content;
  value.encodeCommon(content);
  length += static_cast<unsigned>(content.size());
  return true;
}

bool DataLengthCounter::do_visit(const BIT_STRING& value) {
  length += (value.size() + 7) / 8 + 1;
  return true;
}

bool DataLengthCounter::do_visit(const OCTET_STRING& value) {
  length += static_cast<unsigned>(value.size());
  return true;
}

bool DataLengthCounter::do_visit(const AbstractString& value) {
  length += static_cast<unsigned>(value.size());
  return true;
}

bool DataLengthCounter::do_visit(const BMPString& value) {
  length += 2 * static_cast<unsigned>(value.size());
  return true;
}

bool DataLengthCounter::do_visit(const CHOICE& value) {
  int id = value.currentSelection();
  if (value.isSelected() && static_cast<unsigned>(id) < value.getTotalChoices())
    length += getObjectLength(*value.getSelection(), choiceAlternativeTag(*value.info(), id));
  return true;
}

// The content of an open type is the whole encoding of the value it holds,
// so that a receiver can decode it without knowing its type beforehand.
bool DataLengthCounter::do_visit(const OpenData& value) {
  if (value.has_data())
    length += getObjectLength(value.get_data(), BEREncoder::NoOverride);
  else if (value.has_buf())
    length += static_cast<unsigned>(value.get_buf().size());
  return true;
}

bool DataLengthCounter::do_visit(const GeneralizedTime& value) {
  length += static_cast<unsigned>(value.get().size());
  return true;
}

bool DataLengthCounter::do_visit(const SEQUENCE_OF_Base& value) {
  for (const AbstractData* element : value.elements())
    length += getObjectLength(*element, element->getTag());
  return true;
}

bool DataLengthCounter::visitExtensionRoot(const SEQUENCE& seq, int index) {
  if (const AbstractData* field = seq.getField(static_cast<unsigned>(index)))
    length += getObjectLength(*field, sequenceFieldTag(*seq.info(), static_cast<unsigned>(index)));
  return true;
}

unsigned getDataLength(const AbstractData& value) {
  DataLengthCounter counter;
  value.accept(counter);
  return counter.getLength();
}

unsigned getObjectLength(const AbstractData& value, unsigned tag) {
  unsigned content = getDataLength(value);
  if (tag == BEREncoder::NoOverride) tag = value.getTag();
  if (tag == 0) return content;
  unsigned number = tagNumber(tag);
  unsigned identifier = number < 31 ? 1 : 1 + base128Groups(number);
  return identifier + lengthOctets(content) + content;
}

// ---------------------------------------------------------------------------
// Encoder

unsigned BEREncoder::takeTag(const AbstractData& value) {
  unsigned tag = tag_ == NoOverride ? value.getTag() : tag_;
  tag_ = NoOverride;
  return tag;
}

void BEREncoder::writeHeader(unsigned tag, bool constructed, unsigned length) {
  unsigned char identifier = static_cast<unsigned char>((tag >> 16) & 0xC0);
  if (constructed) identifier |= ConstructedBit;
  unsigned number = tagNumber(tag);
  if (number < 31) {
    out_->push_back(static_cast<char>(identifier | number));
  } else {
    out_->push_back(static_cast<char>(identifier | 0x1F));
    for (unsigned g = base128Groups(number); g-- > 0;)
      out_->push_back(static_cast<char>(((number >> (7 * g)) & 0x7F) | (g ? 0x80 : 0)));
  }
  if (length < 128) {
    out_->push_back(static_cast<char>(length));
    return;
  }
  unsigned n = lengthOctets(length) - 1;
  out_->push_back(static_cast<char>(0x80 | n));
  while (n-- > 0) out_->push_back(static_cast<char>(length >> (8 * n)));
}

void BEREncoder::encodeHeader(const AbstractData& value) {
  unsigned tag = takeTag(value);
  if (tag) writeHeader(tag, !isPrimitive(value), getDataLength(value));
}

void BEREncoder::writeInteger(int value) {
  std::uint32_t u = static_cast<std::uint32_t>(value);
  for (int n = getIntegerDataLength(value); n-- > 0;)
    out_->push_back(static_cast<char>(u >> (8 * n)));
}

bool BEREncoder::do_visit(const Null& value) {
  encodeHeader(value);
  return true;
}

bool BEREncoder::do_visit(const BOOLEAN& value) {
  encodeHeader(value);
  out_->push_back(value.getValue() ? 1 : 0);
  return true;
}

bool BEREncoder::do_visit(const INTEGER& value) {
  encodeHeader(value);
  if (needsSignOctet(value)) {
    std::uint32_t u = static_cast<std::uint32_t>(value.getValue());
    out_->insert(out_->end(), {0, static_cast<char>(u >> 24), static_cast<char>(u >> 16),
                               static_cast<char>(u >> 8), static_cast<char>(u)});
    return true;
  }
  writeInteger(value.getValue());
  return true;
}

bool BEREncoder::do_visit(const ENUMERATED& value) {
  encodeHeader(value);
  writeInteger(value.asInt());
  return true;
}

bool BEREncoder::do_visit(const OBJECT_IDENTIFIER& value) {
  encodeHeader(value);
  std::vector<char> content;
  value.encodeCommon(content);
  out_->insert(out_->end(), content.begin(), content.end());
  return true;
}

bool BEREncoder::do_visit(const BIT_STRING& value) {
  encodeHeader(value);
  unsigned bits = value.size();
  out_->push_back(static_cast<char>((8 - bits % 8) % 8));
  const std::vector<char>& data = value.getData();
  std::size_t octets = (std::size_t(bits) + 7) / 8;
  std::size_t stored = std::min(octets, data.size());
  out_->insert(out_->end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(stored));
  out_->insert(out_->end(), octets - stored, 0);
  return true;
}

bool BEREncoder::do_visit(const OCTET_STRING& value) {
  encodeHeader(value);
  out_->insert(out_->end(), value.begin(), value.end());
  return true;
}

bool BEREncoder::do_visit(const AbstractString& value) {
  encodeHeader(value);
  out_->insert(out_->end(), value.begin(), value.end());
  return true;
}

bool BEREncoder::do_visit(const BMPString& value) {
  encodeHeader(value);
  for (wchar_t c : value) {
    out_->push_back(static_cast<char>((static_cast<unsigned>(c) >> 8) & 0xFF));
    out_->push_back(static_cast<char>(static_cast<unsigned>(c) & 0xFF));
  }
  return true;
}

bool BEREncoder::do_visit(const GeneralizedTime& value) {
  encodeHeader(value);
  std::string text = value.get();
  out_->insert(out_->end(), text.begin(), text.end());
  return true;
}

// A tagged CHOICE is an explicit wrapper: its content is the alternative's
// own encoding, so the wrapper is constructed whatever the alternative is.
bool BEREncoder::do_visit(const CHOICE& value) {
  int id = value.currentSelection();
  if (!value.isSelected() || static_cast<unsigned>(id) >= value.getTotalChoices()) return false;
  unsigned tag = takeTag(value);
  if (tag) writeHeader(tag, true, getDataLength(value));
  tag_ = choiceAlternativeTag(*value.info(), static_cast<unsigned>(id));
  return value.getSelection()->accept(*this);
}

bool BEREncoder::do_visit(const OpenData& value) {
  unsigned tag = takeTag(value);
  if (!value.has_data() && !value.has_buf()) return false;
  if (tag) writeHeader(tag, true, getDataLength(value));
  if (value.has_data()) return value.get_data().accept(*this);
  const std::vector<char>& raw = value.get_buf();
  out_->insert(out_->end(), raw.begin(), raw.end());
  return true;
}

bool BEREncoder::do_visit(const SEQUENCE_OF_Base& value) {
  encodeHeader(value);
  for (const AbstractData* element : value.elements()) {
    tag_ = NoOverride;
    if (!element->accept(*this)) return false;
  }
  return true;
}

bool BEREncoder::preVisitExtensionRoots(const SEQUENCE& seq) {
  encodeHeader(seq);
  return true;
}

bool BEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index) {
  const AbstractData* field = seq.getField(static_cast<unsigned>(index));
  if (!field) return false;
  tag_ = sequenceFieldTag(*seq.info(), static_cast<unsigned>(index));
  return field->accept(*this);
}

bool BEREncoder::visitKnownExtension(const SEQUENCE& seq, int index) {
  return visitExtensionRoot(seq, index);
}

// ---------------------------------------------------------------------------
// Decoder

bool BERDecoder::decodeHeader(unsigned& tag, bool& primitive, unsigned& length) {
  const char* p = pos_;
  const char* const lim = limit();
  if (p >= lim) return false;
  unsigned char b = static_cast<unsigned char>(*p++);
  unsigned number = b & 0x1F;
  if (number == 0x1F) {
    number = 0;
    unsigned char c;
    do {
      if (p >= lim || number > (TagNumberMask >> 7)) return false;
      c = static_cast<unsigned char>(*p++);
      number = number << 7 | (c & 0x7F);
    } while (c & 0x80);
  }
  if (p >= lim) return false;
  unsigned char first = static_cast<unsigned char>(*p++);
  unsigned len = first;
  if (first & 0x80) {
    // 0x80 announces the indefinite form, which this coder does not have;
    // more than four octets cannot be a length that fits in the input.
    unsigned n = first & 0x7F;
    if (n == 0 || n > 4) return false;
    len = 0;
    while (n-- > 0) {
      if (p >= lim) return false;
      len = len << 8 | static_cast<unsigned char>(*p++);
    }
  }
  // Checked before anything is sized from it: a length may not claim more
  // than what is left of the enclosing content.
  if (len > static_cast<std::size_t>(lim - p)) return false;
  tag = makeTag(b >> 6, number);
  primitive = !(b & ConstructedBit);
  length = len;
  pos_ = p;
  return true;
}

bool BERDecoder::peekHeader(unsigned& tag, const char*& end) {
  const char* start = pos_;
  bool primitive;
  unsigned length;
  if (!decodeHeader(tag, primitive, length)) return false;
  end = pos_ + length;
  pos_ = start;
  return true;
}

bool BERDecoder::decodeHeader(AbstractData& value, unsigned& length) {
  const char* start = pos_;
  bool implicit = implicitTag_ != 0;
  implicitTag_ = 0;
  unsigned tag;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  // A constructed header on a primitive kind holds nested encodings, which
  // would be taken for the octets of the value.
  if ((implicit || tag == value.getTag()) && (primitive || !isPrimitive(value))) return true;
  pos_ = start;
  return false;
}

bool BERDecoder::decodeContent(AbstractData& value, const char*& content, unsigned& length) {
  if (!decodeHeader(value, length)) return false;
  content = pos_;
  pos_ += length;
  return true;
}

unsigned BERDecoder::decodeBlock(char* dst, unsigned n) {
  std::size_t left = static_cast<std::size_t>(end_ - pos_);
  unsigned count = static_cast<unsigned>(std::min<std::size_t>(n, left));
  std::copy(pos_, pos_ + count, dst);
  pos_ += count;
  return count;
}

bool BERDecoder::do_visit(Null& value) {
  const char* content;
  unsigned length;
  return decodeContent(value, content, length);
}

bool BERDecoder::do_visit(BOOLEAN& value) {
  const char* content;
  unsigned length;
  if (!decodeContent(value, content, length)) return false;
  if (length) value.setValue(content[length - 1] != 0);
  return true;
}

bool BERDecoder::decodeInteger(AbstractData& value, int& number) {
  const char* content;
  unsigned length;
  if (!decodeContent(value, content, length) || length == 0) return false;
  number = readInteger(content, length);
  return true;
}

bool BERDecoder::do_visit(INTEGER& value) {
  int number;
  if (!decodeInteger(value, number)) return false;
  value.setValue(number);
  return true;
}

// An ENUMERATED is coded as an INTEGER, sign included: enumerations such as
// not-use(-1) must come back negative, not as 255.
bool BERDecoder::do_visit(ENUMERATED& value) {
  int number;
  if (!decodeInteger(value, number)) return false;
  value.setFromInt(number);
  return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& value) {
  const char* content;
  unsigned length;
  return decodeContent(value, content, length) && value.decodeCommon(content, length);
}

template <class Octets>
bool BERDecoder::decodeOctets(Octets& value) {
  const char* content;
  unsigned length;
  if (!decodeContent(value, content, length)) return false;
  value.assign(content, content + length);
  return true;
}

bool BERDecoder::do_visit(OCTET_STRING& value) {
  return decodeOctets(value);
}

bool BERDecoder::do_visit(BIT_STRING& value) {
  const char* content;
  unsigned length;
  if (!decodeContent(value, content, length) || length == 0) return false;
  unsigned unused = static_cast<unsigned char>(*content);
  // More than seven unused bits, or unused bits without an octet to hold
  // them, would make the bit count wrap.
  if (unused > 7 || (length == 1 && unused != 0)) return false;
  value.resize((length - 1) * 8 - unused);
  std::copy(content + 1, content + length, value.getData().begin());
  return true;
}

bool BERDecoder::do_visit(AbstractString& value) {
  return decodeOctets(value);
}

// An odd octet would be half a character: the string is damaged, and
// dropping the octet would hide that.
bool BERDecoder::do_visit(BMPString& value) {
  const char* content;
  unsigned length;
  if (!decodeContent(value, content, length) || length % 2) return false;
  value.resize(length / 2);
  for (unsigned i = 0; i < length / 2; ++i)
    value[i] = static_cast<wchar_t>(static_cast<unsigned char>(content[2 * i]) << 8 |
                                    static_cast<unsigned char>(content[2 * i + 1]));
  return true;
}

bool BERDecoder::do_visit(GeneralizedTime& value) {
  const char* content;
  unsigned length;
  if (!decodeContent(value, content, length)) return false;
  value.set(content, length);
  return true;
}

// The alternative is made afresh, as a decoder starts every value.
bool CHOICE::setID(unsigned number, unsigned classBits) {
  const ChoiceInfo* ci = info();
  unsigned tag = classBits << 16 | number;
  auto create = [this](std::ptrdiff_t id) {
    choiceID = static_cast<int>(id);
    return createSelection();
  };
  if (!ci->tags) {
    // Automatic tags are context-specific: any other class names no
    // alternative of this type.
    if (tag >> 22 == ContextSpecificTagClass && number < ci->totalChoices) return create(number);
  } else {
    const unsigned* first = ci->tags;
    const unsigned* last = ci->tags + ci->totalChoices;
    const unsigned* found = std::lower_bound(first, last, tag);
    if (found != last && *found == tag) return create(found - first);
    // An untagged first alternative is itself a CHOICE whose alternatives
    // share this tag table's level.
    if (ci->totalChoices && ci->tags[0] == 0 && create(0)) {
      if (CHOICE* inner = dynamic_cast<CHOICE*>(getSelection()))
        if (inner->setID(number, classBits)) return true;
    }
  }
  setSelection(unknownSelection_, nullptr);
  return false;
}

bool BERDecoder::decodeChoicePreamle(CHOICE& value, const char*& end) {
  bool wrapped;
  const char* wrapperEnd;
  if (!decodeWrapper(value, wrapped, wrapperEnd)) return false;
  // The wrapper's content is the alternative's own encoding; the caller
  // drops this bound when the CHOICE is done.
  if (wrapped) contentEnds_.push_back(wrapperEnd);
  unsigned tag;
  if (!peekHeader(tag, end)) return false;
  if (value.setID(tagNumber(tag), tag >> 16)) {
    unsigned altTag =
        choiceAlternativeTag(*value.info(), static_cast<unsigned>(value.currentSelection()));
    implicitTag_ = altTag != 0;
  }
  return true;
}

bool BERDecoder::do_visit(CHOICE& value) {
  std::size_t depth = contentEnds_.size();
  const char* altEnd = nullptr;
  bool ok = decodeChoicePreamle(value, altEnd);
  const char* end = contentEnds_.size() > depth ? contentEnds_.back() : altEnd;
  if (ok) {
    if (value.currentSelection() < 0)
      // An alternative added by a later version of an extensible type is
      // skipped; any other unknown tag is an error.
      ok = value.extendable();
    else
      ok = value.getSelection()->accept(*this) && pos_ <= altEnd;
  }
  implicitTag_ = 0;
  contentEnds_.resize(depth);
  if (ok) pos_ = end;
  return ok;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& value) {
  unsigned length;
  if (!decodeHeader(value, length)) return false;
  const char* end = pos_ + length;
  value.clear();
  contentEnds_.push_back(end);
  bool ok = true;
  while (ok && pos_ < end) {
    std::unique_ptr<AbstractData> element(AbstractData::create(value.elementInfo()));
    implicitTag_ = 0;
    ok = element && element->accept(*this);
    if (ok) value.elements().push_back(element.release());
  }
  contentEnds_.pop_back();
  if (ok) pos_ = end;
  return ok;
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& seq) {
  unsigned length;
  if (!decodeHeader(seq, length)) return FAIL;
  contentEnds_.push_back(pos_ + length);
  return CONTINUE;
}

int BERDecoder::visitField(SEQUENCE& seq, int index, int optionalId, bool optional) {
  const SequenceInfo& si = *seq.info();
  unsigned expected = sequenceFieldTag(si, static_cast<unsigned>(index));
  auto absent = [&]() {
    if (!optional) return FAIL;
    seq.removeOptionalField(static_cast<unsigned>(optionalId));
    return CONTINUE;
  };
  // The content end bounds the search: what follows it belongs to the
  // enclosing value, never to a trailing OPTIONAL component.
  if (pos_ >= contentEnds_.back()) return absent();
  const char* start = pos_;
  unsigned tag;
  const char* fieldEnd;
  if (!peekHeader(tag, fieldEnd)) return FAIL;
  if (expected != 0 && tag != expected) return absent();

  if (optional)
    seq.includeOptionalField(static_cast<unsigned>(optionalId), static_cast<unsigned>(index));
  AbstractData* field = seq.createField(static_cast<unsigned>(index));
  if (!field) return FAIL;
  std::size_t depth = contentEnds_.size();
  implicitTag_ = si.tags != &SEQUENCE::defaultTag;
  if (field->accept(*this)) return pos_ > contentEnds_.back() ? FAIL : CONTINUE;
  if (!optional) return FAIL;
  seq.removeOptionalField(static_cast<unsigned>(optionalId));
  if (expected != 0) return FAIL;
  // An untagged optional CHOICE that did not match: try the next component.
  pos_ = start;
  contentEnds_.resize(depth);
  implicitTag_ = 0;
  return CONTINUE;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) {
  return visitField(seq, index, optionalId, optionalId != -1);
}

// Extension additions may be absent from what an older peer sends.
int BERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int optionalId) {
  return visitField(seq, index, optionalId, true);
}

bool BERDecoder::visitUnknownExtensions(SEQUENCE&) {
  const char* end = contentEnds_.back();
  contentEnds_.pop_back();
  if (pos_ > end) return false;
  pos_ = end;
  return true;
}

bool BERDecoder::decodeWrapper(AbstractData& value, bool& wrapped, const char*& end) {
  bool implicit = implicitTag_ != 0;
  implicitTag_ = 0;
  const char* start = pos_;
  unsigned tag;
  bool primitive;
  unsigned length;
  if (!decodeHeader(tag, primitive, length)) return false;
  end = pos_ + length;
  wrapped = implicit || value.getTag() != 0;
  if (wrapped && (implicit || tag == value.getTag())) return true;
  // No wrapper: the header read is the contained value's own.
  pos_ = start;
  return !wrapped;
}

bool BERDecoder::do_visit(OpenData& value) {
  const char* end;
  bool wrapped;
  if (!decodeWrapper(value, wrapped, end)) return false;
  value.get_buf().assign(pos_, end);
  pos_ = end;
  return true;
}

bool BERDecoder::do_revisit(OpenData& value) {
  if (!value.has_buf() || !value.has_data()) return false;
  const std::vector<char>& raw = value.get_buf();
  BERDecoder nested(raw.data(), raw.data() + raw.size(), env_);
  return value.get_data().accept(nested);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& value) {
  const char* end;
  bool wrapped;
  if (!decodeWrapper(value, wrapped, end) || !value.has_data()) return false;
  contentEnds_.push_back(end);
  bool ok = value.get_data().accept(*this);
  contentEnds_.pop_back();
  if (ok) pos_ = end;
  return ok;
}

}  // namespace ASN1
