// libFuzzer target: PER-decode arbitrary octets into the message types,
// aligned and unaligned; whatever decodes and re-encodes must decode again to
// the same value, and everything decoded must print and pass the checkers.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/per.h"
#include "testmod/TESTMOD.h"
#include "asn1/modules/LGCP.h"
#include "asn1/modules/MON.h"

namespace {

const void* const roots[] = {
    &TESTMOD::Message::theInfo, &TESTMOD::Pdu::theInfo,  &TESTMOD::Extended::theInfo,
    &TESTMOD::Growing::theInfo, &TESTMOD::Nest::theInfo, &LGCP::Message::theInfo,
    &MON::Message::theInfo,
};

void exercise(const void* info, const char* data, std::size_t size, int rule) {
  std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(info));
  // An exact-size copy so that any read past the input is caught.
  std::unique_ptr<char[]> copy(new char[size ? size : 1]);
  std::copy(data, data + size, copy.get());
  ASN1::CoderEnv env(rule);
  if (!ASN1::decode(copy.get(), copy.get() + size, &env, *value, true)) return;
  std::vector<char> out;
  if (ASN1::encode(*value, &env, std::back_inserter(out))) {
    // What this coder writes it reads back to the same value.
    std::unique_ptr<ASN1::AbstractData> again(ASN1::AbstractData::create(info));
    if (!ASN1::decode(out.data(), out.data() + out.size(), &env, *again, true) ||
        again->compare(*value) != 0)
      __builtin_trap();
  }
  std::ostringstream text;
  text << *value;
  value->isValid();
  value->isStrictlyValid();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first octet picks the type and the variant.
  unsigned pick = data[0];
  const void* info = roots[pick % (sizeof roots / sizeof roots[0])];
  int rule = (pick & 0x80) ? ASN1::CoderEnv::per_Unaligned : ASN1::CoderEnv::per_Aligned;
  exercise(info, reinterpret_cast<const char*>(data) + 1, size - 1, rule);
  return 0;
}
