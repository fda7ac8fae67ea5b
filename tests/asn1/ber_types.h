// Hand-built type records for the BER and value-notation tests: every kind
// of the runtime, automatic tags throughout, as the generator lays them out.
#ifndef VELMARD_TESTS_ASN1_BER_TYPES_H
#define VELMARD_TESTS_ASN1_BER_TYPES_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1_test_util.h"

namespace codertest {

using namespace ASN1;

typedef Constrained_INTEGER<FixedConstraint, 0, 1023> SlotNumber;
typedef Constrained_INTEGER<FixedConstraint, 0, 4294967295u> Counter32;

// State ::= ENUMERATED { initial, learn, listen, speak(4), standby(8), active(16) }
inline const char* const stateNames[] = {"initial", "learn",     "listen",
                                         "speak=4", "standby=8", "active=16"};
inline const EnumeratedInfo stateInfo = {{&ENUMERATED::create, 10}, false, 16, stateNames, 6};

// Mode ::= ENUMERATED { not-use(-1), active(0), standby(1) }
inline const char* const modeNames[] = {"not-use=-1", "active", "standby"};
inline const EnumeratedInfo modeInfo = {{&ENUMERATED::create, 10}, false, 1, modeNames, 3};

// Level ::= INTEGER { low(1), high(9) }
inline const NamedNumber levelNumbers[] = {{1, "low"}, {9, "high"}};
inline const IntegerWithNamedNumberInfo levelInfo = {
    {{&IntegerWithNamedNumber::create, 2}, Unconstrained, 0, 0xFFFFFFFFu}, levelNumbers, 2};

// Inner ::= SEQUENCE { flag BOOLEAN, data OCTET STRING OPTIONAL }
inline const void* const innerFields[] = {&BOOLEAN::theInfo, &OCTET_STRING::theInfo};
inline const int innerIds[] = {-1, 0};
inline const char* const innerNames[] = {"flag", "data"};
inline const SequenceInfo innerInfo = {
    {&SEQUENCE::create, 16}, false, innerFields, innerIds, 2, 0, 1, nullptr, nullptr, innerNames};

// IntList ::= SEQUENCE OF INTEGER; StateList ::= SEQUENCE OF State
inline const SequenceOfInfo intListInfo = {
    {{&SEQUENCE_OF_Base::create, 16}, Unconstrained, 0, 0xFFFFFFFFu}, &INTEGER::theInfo};
inline const SequenceOfInfo stateListInfo = {
    {{&SEQUENCE_OF_Base::create, 16}, Unconstrained, 0, 0xFFFFFFFFu}, &stateInfo};

// Leaf ::= CHOICE { off NULL, on INTEGER }
inline const void* const leafAlternatives[] = {&Null::theInfo, &INTEGER::theInfo};
inline const char* const leafNames[] = {"off", "on"};
inline const ChoiceInfo leafInfo = {
    {&CHOICE::create, 0}, false, leafAlternatives, 2, 2, nullptr, leafNames};

// Pick ::= CHOICE { none NULL, number INTEGER, inner Inner, list IntList, state State,
//                   leaf Leaf, ..., late IA5String }
inline const void* const pickAlternatives[] = {&Null::theInfo,     &INTEGER::theInfo, &innerInfo,
                                               &intListInfo,       &stateInfo,        &leafInfo,
                                               &IA5String::theInfo};
inline const char* const pickNames[] = {"none", "number", "inner", "list", "state", "leaf", "late"};
inline const ChoiceInfo pickInfo = {
    {&CHOICE::create, 0}, true, pickAlternatives, 6, 7, nullptr, pickNames};

// Top ::= SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pick Pick,
//                    bits BIT STRING OPTIONAL, name IA5String OPTIONAL,
//                    states StateList OPTIONAL, ..., extra INTEGER }
inline const void* const topFields[] = {&INTEGER::theInfo,    &SlotNumber::theInfo, &pickInfo,
                                        &BIT_STRING::theInfo, &IA5String::theInfo,  &stateListInfo,
                                        &INTEGER::theInfo};
inline const int topIds[] = {0, 1, -1, 2, 3, 4, 0};
inline const char* const topNames[] = {"seq", "slot", "pick", "bits", "name", "states", "extra"};
inline const SequenceInfo topInfo = {
    {&SEQUENCE::create, 16}, true, topFields, topIds, 6, 1, 5, nullptr, nullptr, topNames};

// Kinds ::= SEQUENCE { id OBJECT IDENTIFIER, wide BMPString, when GeneralizedTime,
//                      level Level, big Counter32, digits NumericString, nothing NULL,
//                      choice Leaf OPTIONAL }
inline const void* const kindsFields[] = {&OBJECT_IDENTIFIER::theInfo,
                                          &BMPString::theInfo,
                                          &GeneralizedTime::theInfo,
                                          &levelInfo,
                                          &Counter32::theInfo,
                                          &NumericString::theInfo,
                                          &Null::theInfo,
                                          &leafInfo};
inline const int kindsIds[] = {-1, -1, -1, -1, -1, -1, -1, 0};
inline const char* const kindsNames[] = {"id",  "wide",   "when",    "level",
                                         "big", "digits", "nothing", "choice"};
inline const SequenceInfo kindsInfo = {
    {&SEQUENCE::create, 16}, false, kindsFields, kindsIds, 8, 0, 1, nullptr, nullptr, kindsNames};

// Empty ::= SEQUENCE {}
inline const SequenceInfo emptyInfo = {
    {&SEQUENCE::create, 16}, false, nullptr, nullptr, 0, 0, 0, nullptr, nullptr, nullptr};

// Tail ::= SEQUENCE { x INTEGER, y INTEGER OPTIONAL }
// Outer ::= SEQUENCE { a Tail, b INTEGER }: y and b share the tag [1].
inline const void* const tailFields[] = {&INTEGER::theInfo, &INTEGER::theInfo};
inline const int tailIds[] = {-1, 0};
inline const char* const tailNames[] = {"x", "y"};
inline const SequenceInfo tailInfo = {
    {&SEQUENCE::create, 16}, false, tailFields, tailIds, 2, 0, 1, nullptr, nullptr, tailNames};
inline const void* const outerFields[] = {&tailInfo, &INTEGER::theInfo};
inline const int outerIds[] = {-1, -1};
inline const char* const outerNames[] = {"a", "b"};
inline const SequenceInfo outerInfo = {
    {&SEQUENCE::create, 16}, false, outerFields, outerIds, 2, 0, 0, nullptr, nullptr, outerNames};

// Records with tag tables, which the generator never writes but the coder
// honours. Either ::= CHOICE { number INTEGER, text IA5String } with the
// universal tags of its alternatives.
inline const void* const eitherAlternatives[] = {&INTEGER::theInfo, &IA5String::theInfo};
inline const unsigned eitherTags[] = {2, 22};
inline const char* const eitherNames[] = {"number", "text"};
inline const ChoiceInfo eitherInfo = {{&CHOICE::create, 0}, false,      eitherAlternatives, 2, 2,
                                      eitherTags,           eitherNames};

// Own ::= SEQUENCE { either Either OPTIONAL, blob OCTET STRING } with each
// component under its own tag.
inline const void* const ownFields[] = {&eitherInfo, &OCTET_STRING::theInfo};
inline const int ownIds[] = {0, -1};
inline const char* const ownNames[] = {"either", "blob"};
inline const SequenceInfo ownInfo = {
    {&SEQUENCE::create, 16}, false,   ownFields, ownIds, 2, 0, 1, nullptr,
    &SEQUENCE::defaultTag,   ownNames};

// Field access by position, for building values in tests.
template <class T>
T& field(AbstractData& seq, unsigned index) {
  SEQUENCE& s = static_cast<SEQUENCE&>(seq);
  const SequenceInfo* si = s.info();
  int id = index < si->numFields ? si->ids[index]
                                 : static_cast<int>(si->numOptional + index - si->numFields);
  if (id >= 0) s.includeOptionalField(static_cast<unsigned>(id), index);
  return dynamic_cast<T&>(*s.createField(index));
}

template <class T>
T& select(AbstractData& choice, int index) {
  CHOICE& c = static_cast<CHOICE&>(choice);
  c.select(index);
  return dynamic_cast<T&>(*c.getSelection());
}

typedef std::unique_ptr<AbstractData> Value;
typedef std::function<void(AbstractData&)> Fill;

// A fresh value of the record, filled by `fill` when there is one.
inline Value make(const void* info, const Fill& fill) {
  Value v(AbstractData::create(info));
  if (fill) fill(*v);
  return v;
}

// A fill that assigns x to the value as a T.
template <class T, class X>
Fill set(X x) {
  return [x](AbstractData& v) { static_cast<T&>(v) = x; };
}

inline Fill setEnum(int n) {
  return [n](AbstractData& v) { static_cast<ENUMERATED&>(v).setFromInt(n); };
}

inline std::vector<char> bytes(std::initializer_list<int> list) {
  std::vector<char> v;
  for (int b : list) v.push_back(static_cast<char>(b));
  return v;
}

using asn1test::hex;

}  // namespace codertest

#endif  // VELMARD_TESTS_ASN1_BER_TYPES_H
