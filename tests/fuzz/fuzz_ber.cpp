// libFuzzer target of the BER decoder and the value-notation reader: any
// input is refused or decoded without a fault, and a decoded value codes
// back to an equal one.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asn1/avn_decoder.h"
#include "asn1/ber.h"
#include "asn1/ber_types.h"

namespace {

using namespace codertest;

const void* const records[] = {&topInfo, &kindsInfo, &outerInfo, &stateListInfo, &pickInfo};

void berRoundTrip(const void* info, const char* data, std::size_t size) {
  std::unique_ptr<AbstractData> value(AbstractData::create(info));
  BERDecoder decoder(data, data + size);
  if (!value->accept(decoder)) return;
  std::vector<char> octets;
  BEREncoder encoder(octets);
  // Unknown alternatives of extensible CHOICEs decode but cannot be coded.
  if (!value->accept(encoder)) return;
  std::unique_ptr<AbstractData> again(AbstractData::create(info));
  BERDecoder redecoder(octets.data(), octets.data() + octets.size());
  if (!again->accept(redecoder) || *again != *value) __builtin_trap();
}

void textRoundTrip(const void* info, const char* data, std::size_t size) {
  std::unique_ptr<AbstractData> value(AbstractData::create(info));
  if (!value->setFromValueNotation(std::string(data, size))) return;
  std::string text = value->asValueNotation();
  std::unique_ptr<AbstractData> again(AbstractData::create(info));
  // A read value may still miss a selection ("{}" keeps components as built).
  if (!again->setFromValueNotation(text)) return;
  if (*again != *value) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* p = reinterpret_cast<const char*>(data);
  for (const void* info : records) {
    berRoundTrip(info, p, size);
    textRoundTrip(info, p, size);
  }
  return 0;
}
