// libFuzzer target: BER-decode arbitrary octets, or read them as value
// notation, into the message types; whatever decodes must code back to an
// equal value.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "asn1/coder_env.h"
#include "tests/asn1/ber_types.h"
#include "testmod/TESTMOD.h"
#include "asn1/modules/LGCP.h"
#include "asn1/modules/MON.h"
#include "asn1/modules/VORNGW.h"

namespace {

const void* const roots[] = {
    &codertest::topInfo,        &codertest::kindsInfo,
    &codertest::outerInfo,      &codertest::ownInfo,
    &TESTMOD::Message::theInfo, &TESTMOD::Extended::theInfo,
    &TESTMOD::Nest::theInfo,    &LGCP::Message::theInfo,
    &MON::Message::theInfo,     &VORNGW::ProtoVornPackets::theInfo,
};

typedef std::unique_ptr<ASN1::AbstractData> Value;

// Codes value and decodes the result into a fresh value; null when the
// value cannot be coded (an unknown alternative of an extensible CHOICE, or
// a CHOICE left unselected by text such as "{}").
Value recode(const void* info, ASN1::CoderEnv& env, const ASN1::AbstractData& value) {
  std::vector<char> out;
  if (!ASN1::encode(value, &env, std::back_inserter(out))) return nullptr;
  Value again(ASN1::AbstractData::create(info));
  if (!ASN1::decode(out.data(), out.data() + out.size(), &env, *again, true)) __builtin_trap();
  return again;
}

void exercise(const void* info, const char* data, std::size_t size, int rule) {
  Value value(ASN1::AbstractData::create(info));
  // An exact-size copy so that any read past the input is caught.
  std::unique_ptr<char[]> copy(new char[size ? size : 1]);
  std::copy(data, data + size, copy.get());
  ASN1::CoderEnv env(rule);
  if (!ASN1::decode(copy.get(), copy.get() + size, &env, *value, true)) return;
  Value again = recode(info, env, *value);
  if (!again) return;
  // Text read from "{ a 1 }" leaves later components as the fresh value was
  // built, where a known extension may be present; its text then carries
  // that component and reads back equal.
  if (rule == ASN1::CoderEnv::avn) {
    value = std::move(again);
    again = recode(info, env, *value);
  }
  if (!again || *again != *value) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first octet picks the type and the rules.
  unsigned pick = data[0];
  const void* info = roots[pick % (sizeof roots / sizeof roots[0])];
  int rule = (pick & 0x80) ? ASN1::CoderEnv::avn : ASN1::CoderEnv::ber;
  exercise(info, reinterpret_cast<const char*>(data) + 1, size - 1, rule);
  return 0;
}
