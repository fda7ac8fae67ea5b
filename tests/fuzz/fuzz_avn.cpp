// libFuzzer target: the value-notation reader on arbitrary text.  Whatever
// it reads, whole or only in part, must stay a usable value: it prints, goes
// through the checkers, and when strictly valid codes in PER back to an
// equal value.  A value read whole prints to text that reads back.
// The stream form reads two values from one stream, and the lexical
// helpers read the same text on their own.
//
// Input: one octet (bits 0-5 pick the type, bit 6 the stream form), then
// the text.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/avn_decoder.h"
#include "asn1/coder_env.h"
#include "tests/asn1/ber_types.h"
#include "testmod/TESTMOD.h"
#ifdef VELMARD_FUZZ_MESSAGES
#include "asn1/modules/LGCP.h"
#include "asn1/modules/MON.h"
#include "asn1/modules/VORNGW.h"
#endif

namespace {

const void* const roots[] = {
    &codertest::topInfo,        &codertest::kindsInfo,       &codertest::outerInfo,
    &codertest::ownInfo,        &codertest::emptyInfo,       &TESTMOD::Message::theInfo,
    &TESTMOD::Numbers::theInfo, &TESTMOD::Strings::theInfo,  &TESTMOD::Octets::theInfo,
    &TESTMOD::Lists::theInfo,   &TESTMOD::Extended::theInfo, &TESTMOD::Names::theInfo,
    &TESTMOD::Sparse::theInfo,  &TESTMOD::Gain::theInfo,
#ifdef VELMARD_FUZZ_MESSAGES
    &LGCP::Message::theInfo,    &MON::Message::theInfo,      &VORNGW::ProtoVornPackets::theInfo,
#endif
};

typedef std::unique_ptr<ASN1::AbstractData> Value;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// What any value must bear, however far its reading went.
void Use(const void* info, const ASN1::AbstractData& value) {
  std::ostringstream log;
  log << value;
  Value copy(value.clone());
  Check(*copy == value);
  value.isValid();
  if (!value.isStrictlyValid()) return;
  ASN1::CoderEnv per(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  if (!ASN1::encode(value, &per, std::back_inserter(out))) return;
  // The decoder caps list lengths against peers; a value built in memory,
  // as this one, has no cap.
  unsigned cap = ASN1::MaximumArraySize;
  ASN1::MaximumArraySize = ~0u;
  Value again(ASN1::AbstractData::create(info));
  bool back = ASN1::decode(out.data(), out.data() + out.size(), &per, *again, true);
  ASN1::MaximumArraySize = cap;
  Check(back && *again == value);
}

// The printer's text of a value, read into a fresh one; null when the
// notation cannot carry the value (an open type, an unknown alternative).
Value Reprint(const void* info, const ASN1::AbstractData& value) {
  ASN1::CoderEnv avn(ASN1::CoderEnv::avn);
  std::vector<char> text;
  if (!ASN1::encode(value, &avn, std::back_inserter(text))) return nullptr;
  Value again(ASN1::AbstractData::create(info));
  Check(ASN1::decode(text.data(), text.data() + text.size(), &avn, *again, true));
  return again;
}

// What the printer writes reads back.  Text that ends a SEQUENCE early
// leaves the later components as a fresh value has them, where a known
// extension may be present: from the first reprint on, the value holds.
void ReadBack(const void* info, const ASN1::AbstractData& value) {
  Value once = Reprint(info, value);
  if (!once) return;
  Value twice = Reprint(info, *once);
  Check(twice && *twice == *once);
}

void Helpers(const std::string& text) {
  std::string word;
  std::istringstream a(text);
  while (ASN1::get_name(a, word)) Check(!word.empty());
  std::istringstream b(text);
  ASN1::get_string(b, word);
  std::istringstream c(text);
  std::vector<char> octets;
  unsigned count = 0;
  if (ASN1::get_value_from(c, octets, count)) Check(octets.size() == (count + 7) / 8);
  for (int base : {2, 16}) {
    std::string digits = text;
    if (ASN1::get_from_string(digits, octets, count, base)) Check(octets.size() == (count + 7) / 8);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  unsigned pick = data[0];
  const void* info = roots[(pick & 0x3F) % (sizeof roots / sizeof roots[0])];
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  Value value(ASN1::AbstractData::create(info));
  if (pick & 0x40) {
    // Two values back to back in one stream: the second starts where the
    // first ended, and a failed read stops the stream.
    std::istringstream in(text);
    Value second(ASN1::AbstractData::create(info));
    in >> *value >> *second;
    Use(info, *value);
    Use(info, *second);
    if (in) ReadBack(info, *second);
  } else {
    bool whole = value->setFromValueNotation(text);
    Use(info, *value);
    if (whole) ReadBack(info, *value);
  }
  Helpers(text);
  return 0;
}
