#include "asn1/validity.h"

#include <ostream>

namespace ASN1 {

namespace {

bool sizeValid(const ConstrainedInfo& c, unsigned n, bool upperUnlessExtendable) {
  if (sizeBelowLower(c, n)) return false;
  if (upperUnlessExtendable)
    return c.constraintType == ExtendableConstraint || !sizeAboveUpper(c, n);
  return c.constraintType != FixedConstraint || !sizeAboveUpper(c, n);
}

bool sizeStrictlyValid(const ConstrainedInfo& c, unsigned n) {
  return !sizeBelowLower(c, n) && !sizeAboveUpper(c, n);
}

// The coders join the first two arcs into one 32-bit number, 40 * first +
// second, and split it back by that rule: arcs it would not give back are
// written as another identifier.
bool arcsCodable(const OBJECT_IDENTIFIER& value) {
  const std::vector<std::uint32_t>& arcs = value.arcs();
  if (arcs.size() < 2 || arcs[0] > 2) return false;
  return arcs[0] < 2 ? arcs[1] < 40 : arcs[1] <= 0xFFFFFFFFu - 80;
}

unsigned count(std::size_t n) {
  return static_cast<unsigned>(n);
}

// Character and BMP strings: the size rule of the level, and every character
// permitted.
template <class String>
bool charactersValid(const String& s, bool strict) {
  const ConstrainedInfo& c = s.info()->size;
  unsigned n = count(s.size());
  return (strict ? sizeStrictlyValid(c, n) : sizeValid(c, n, true)) &&
         s.first_illegal_at() == s.size();
}

}  // namespace

bool AbstractData::isValid() const {
  ValidChecker checker;
  return accept(checker);
}

bool AbstractData::isStrictlyValid() const {
  StrictlyValidChecker checker;
  return accept(checker);
}

bool AbstractString::isValid() const {
  return charactersValid(*this, false);
}
bool AbstractString::isStrictlyValid() const {
  return charactersValid(*this, true);
}
bool BMPString::isValid() const {
  return charactersValid(*this, false);
}
bool BMPString::isStrictlyValid() const {
  return charactersValid(*this, true);
}

bool CHOICE::isValid() const {
  if (choiceID < 0 || !choice || static_cast<unsigned>(choiceID) >= info()->totalChoices)
    return false;
  if (!extendable() && static_cast<unsigned>(choiceID) >= info()->numChoices) return false;
  return choice->isValid();
}

bool CHOICE::isStrictlyValid() const {
  if (choiceID < 0 || !choice || static_cast<unsigned>(choiceID) >= info()->numChoices)
    return false;
  return choice->isStrictlyValid();
}

bool SEQUENCE_OF_Base::isValid() const {
  if (!sizeValid(info()->size, size(), true)) return false;
  for (const AbstractData* e : container)
    if (!e->isValid()) return false;
  return true;
}

bool SEQUENCE_OF_Base::isStrictlyValid() const {
  if (!sizeStrictlyValid(info()->size, size())) return false;
  for (const AbstractData* e : container)
    if (!e->isStrictlyValid()) return false;
  return true;
}

bool OpenData::isValid() const {
  if (data) return data->isValid();
  return buf != nullptr;
}

bool OpenData::isStrictlyValid() const {
  if (data) return data->isStrictlyValid();
  return buf != nullptr;
}

// ---------------------------------------------------------------------------

bool ValidChecker::do_visit(const INTEGER& value) {
  return value.isStrictValid() || value.getConstraintType() == ExtendableConstraint;
}

bool ValidChecker::do_visit(const ENUMERATED& value) {
  return value.extendable() || value.asInt() <= value.getMaximum();
}

bool ValidChecker::do_visit(const OBJECT_IDENTIFIER& value) {
  return arcsCodable(value);
}

bool ValidChecker::do_visit(const BIT_STRING& value) {
  return sizeValid(*value.info(), value.size(), false);
}

bool ValidChecker::do_visit(const OCTET_STRING& value) {
  return sizeValid(*value.info(), count(value.size()), false);
}

bool ValidChecker::visitExtensionRoot(const SEQUENCE& seq, int index) {
  return acceptField(seq, index);
}

bool ValidChecker::visitKnownExtension(const SEQUENCE& seq, int index) {
  return visitExtensionRoot(seq, index);
}

bool StrictlyValidChecker::do_visit(const OBJECT_IDENTIFIER& value) {
  return arcsCodable(value);
}

bool StrictlyValidChecker::do_visit(const BIT_STRING& value) {
  return sizeStrictlyValid(*value.info(), value.size());
}

bool StrictlyValidChecker::do_visit(const OCTET_STRING& value) {
  return sizeStrictlyValid(*value.info(), count(value.size()));
}

bool StrictlyValidChecker::visitExtensionRoot(const SEQUENCE& seq, int index) {
  return acceptField(seq, index);
}

bool StrictlyValidChecker::visitKnownExtension(const SEQUENCE& seq, int index) {
  return visitExtensionRoot(seq, index);
}

// ---------------------------------------------------------------------------

bool InvalidTracer::sizeCheck(const char* what, const ConstrainedInfo& c, unsigned size,
                              bool upperUnlessExtendable) {
  if (sizeBelowLower(c, size)) {
    strm << " This " << what << " has size " << size << " smaller than its lower bound "
         << c.lowerLimit;
    return false;
  }
  bool checkUpper = upperUnlessExtendable ? c.constraintType != ExtendableConstraint
                                          : c.constraintType == FixedConstraint;
  if (checkUpper && sizeAboveUpper(c, size)) {
    strm << " This " << what << " has size " << size << " greater than its upper bound "
         << c.upperLimit;
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const INTEGER& value) {
  std::int64_t v = value.constraintValue();
  if (v < value.getLowerLimit()) {
    strm << " The INTEGER value " << v << " is smaller than lower bound " << value.getLowerLimit();
    return false;
  }
  if (v > value.constraintUpper() && value.getConstraintType() != ExtendableConstraint) {
    strm << " The INTEGER value " << v << " is greater than upper bound " << value.getUpperLimit();
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const ENUMERATED& value) {
  if (value.asInt() > value.getMaximum()) {
    strm << " This ENUMERATED has invalid value " << value.asInt();
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const OBJECT_IDENTIFIER& value) {
  if (value.levels() == 0) {
    strm << " This OBJECT IDENTIFIER is not assigned";
    return false;
  }
  if (!arcsCodable(value)) {
    strm << " This OBJECT IDENTIFIER has arcs that cannot be coded";
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const BIT_STRING& value) {
  return sizeCheck("BIT STRING", *value.info(), value.size(), false);
}

bool InvalidTracer::do_visit(const OCTET_STRING& value) {
  return sizeCheck("OCTET STRING", *value.info(), count(value.size()), false);
}

bool InvalidTracer::do_visit(const AbstractString& value) {
  if (!sizeCheck("AbstractString", value.info()->size, count(value.size()), false)) return false;
  std::string::size_type i = value.first_illegal_at();
  if (i != value.size()) {
    strm << " The character '" << value[i] << "' is not valid for the string";
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const BMPString& value) {
  if (!sizeCheck("BMPString", value.info()->size, count(value.size()), false)) return false;
  std::wstring::size_type i = value.first_illegal_at();
  if (i != value.size()) {
    strm << " The character '" << static_cast<int>(value[i]) << "' is not valid for the string";
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const GeneralizedTime& value) {
  if (!value.isStrictlyValid()) {
    strm << " This GeneralizedTime is not valid";
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const CHOICE& value) {
  if (value.currentSelection() == CHOICE::unknownSelection_) {
    strm << " This selection is not understood by this decoder";
    return false;
  }
  const char* name = value.getSelectionName();
  if (!value.isSelected() || !name) {
    strm << " This CHOICE is not selected";
    return false;
  }
  strm << '.' << name;
  return value.getSelection()->accept(*this);
}

bool InvalidTracer::do_visit(const OpenData& value) {
  if (value.has_data()) return value.get_data().accept(*this);
  if (value.has_buf()) return true;
  strm << " This Open Type does not contain any valid data";
  return false;
}

bool InvalidTracer::do_visit(const SEQUENCE_OF_Base& value) {
  if (!sizeCheck("SEQUENCE OF", value.info()->size, value.size(), false)) return false;
  for (unsigned i = 0; i < value.size(); ++i) {
    InvalidTracer nested;
    if (!value.elementAt(i).accept(nested)) {
      strm << '[' << i << ']' << nested.text();
      return false;
    }
  }
  return true;
}

bool InvalidTracer::visitExtensionRoot(const SEQUENCE& seq, int index) {
  const AbstractData* field = seq.getField(static_cast<unsigned>(index));
  if (!field) return false;
  InvalidTracer nested;
  if (!field->accept(nested)) {
    strm << '.' << seq.getFieldName(static_cast<unsigned>(index)) << nested.text();
    return false;
  }
  return true;
}

bool InvalidTracer::visitKnownExtension(const SEQUENCE& seq, int index) {
  return visitExtensionRoot(seq, index);
}

bool trace_invalid(std::ostream& os, const char* prefix, const AbstractData& value) {
  InvalidTracer tracer;
  if (value.accept(tracer)) return true;
  os << prefix << tracer.text() << std::endl;
  return false;
}

}  // namespace ASN1
