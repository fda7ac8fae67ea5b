#include "asn1/coder_env.h"

#include <sstream>

#include "asn1/avn.h"
#include "asn1/avn_decoder.h"
#include "asn1/ber.h"
#include "asn1/per.h"

namespace ASN1 {

Module* CoderEnv::find(const char* name) const {
  ModuleMap::const_iterator it = modules.find(name);
  return it == modules.end() ? nullptr : it->second;
}

namespace {

// The vector behind a back-inserter.
struct BackInserter : std::back_insert_iterator<std::vector<char>> {
  explicit BackInserter(std::back_insert_iterator<std::vector<char>> it)
      : std::back_insert_iterator<std::vector<char>>(it) {}
  std::vector<char>& target() const { return *container; }
};

}  // namespace

bool CoderEnv::encodeInto(const AbstractData& value, std::vector<char>& out) const {
  switch (encodingRule) {
    case per_Aligned:
    case per_Unaligned:
      return encodePER(value, out);
    case ber:
      return encodeBER(value, out);
    case avn:
      return encodeAVN(value, out);
    default:
      return false;
  }
}

bool CoderEnv::encode(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out) {
  std::vector<char>& octets = BackInserter(out).target();
  std::size_t mark = octets.size();
  // Room for a whole control message, unless the caller made some.
  if (octets.capacity() - mark < 64) octets.reserve(mark + 256);
  if (encodeInto(value, octets)) return true;
  octets.resize(mark);
  return false;
}

bool CoderEnv::encodePER(const AbstractData& value, std::vector<char>& out) const {
  PEREncoder encoder(out, encodingRule == per_Aligned);
  return value.accept(encoder);
}

bool CoderEnv::encodeAVN(const AbstractData& value, std::vector<char>& out) const {
  std::ostringstream text;
  AVNEncoder encoder(text, 0);
  if (!value.accept(encoder)) return false;
  std::string s = text.str();
  out.insert(out.end(), s.begin(), s.end());
  return true;
}

bool CoderEnv::decodePER(const char* begin, const char* end, AbstractData& value, bool detached) {
  PERDecoder decoder(begin, end, detached ? nullptr : this, encodingRule == per_Aligned);
  return value.accept(decoder);
}

bool CoderEnv::encodeBER(const AbstractData& value, std::vector<char>& out) const {
  BEREncoder encoder(out);
  return value.accept(encoder);
}

bool CoderEnv::decodeBER(const char* begin, const char* end, AbstractData& value, bool detached) {
  BERDecoder decoder(begin, end, detached ? nullptr : this);
  return value.accept(decoder);
}

bool CoderEnv::decodeAVN(const char* begin, const char* end, AbstractData& value) {
  std::istringstream text(std::string(begin, end));
  AVNDecoder decoder(text);
  return value.accept(decoder);
}

bool CoderEnv::decode(const char* begin, const char* end, AbstractData& value, bool detached) {
  switch (encodingRule) {
    case per_Aligned:
    case per_Unaligned:
      return decodePER(begin, end, value, detached);
    case ber:
      return decodeBER(begin, end, value, detached);
    case avn:
      return decodeAVN(begin, end, value);
    default:
      return false;
  }
}

bool encode(const AbstractData& value, CoderEnv* env,
            std::back_insert_iterator<std::vector<char>> out) {
  return env->encode(value, out);
}

bool decode(const char* begin, const char* end, CoderEnv* env, AbstractData& value, bool detached) {
  return env->decode(begin, end, value, detached);
}

}  // namespace ASN1
