// The encoding rules by number and the two calls through which the rest of
// the daemon codes ASN.1 values.  Only PER aligned (rule 2) goes on the wire.
#ifndef VELMARD_ASN1_CODER_ENV_H
#define VELMARD_ASN1_CODER_ENV_H

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include <loki/AssocVector.h>

#include "asn1/asn1.h"

namespace ASN1 {

// A module known to an environment by name.
class Module {
 public:
  virtual ~Module() {}
};

class CoderEnv {
 public:
  enum EncodingRules { avn = 0, ber = 1, per_Aligned = 2, per_Unaligned = 3 };

  struct StringListeralCmp {
    typedef const char* first_argument_type;
    typedef const char* second_argument_type;
    typedef bool result_type;
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
  };
  typedef Loki::AssocVector<const char*, Module*, StringListeralCmp> ModuleMap;

  explicit CoderEnv(int rule = per_Aligned) : encodingRule(rule) {}

  int get_encodingRule() const { return encodingRule; }
  void set_encodingRule(int rule) { encodingRule = rule; }

  template <class OutputIterator>
  bool encode(const AbstractData& value, OutputIterator out);
  // The form every caller uses: the octets are coded straight onto the end
  // of the caller's vector, which is cut back to where it stood when the
  // value fails, so it still receives nothing but a whole encoding.
  bool encode(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out);
  bool decode(const char* begin, const char* end, AbstractData& value, bool detached);

  void insert(const char* name, Module* module) { modules[name] = module; }
  Module* find(const char* name) const;
  const ModuleMap& getModules() const { return modules; }

  int encodingRule;

 private:
  bool encodeInto(const AbstractData& value, std::vector<char>& out) const;
  bool encodePER(const AbstractData& value, std::vector<char>& out) const;
  bool encodeBER(const AbstractData& value, std::vector<char>& out) const;
  bool encodeAVN(const AbstractData& value, std::vector<char>& out) const;
  bool decodePER(const char* begin, const char* end, AbstractData& value, bool detached);
  bool decodeBER(const char* begin, const char* end, AbstractData& value, bool detached);
  bool decodeAVN(const char* begin, const char* end, AbstractData& value);

  ModuleMap modules;
};

template <class OutputIterator>
bool CoderEnv::encode(const AbstractData& value, OutputIterator out) {
  // Nothing reaches out unless the whole value coded.
  std::vector<char> octets;
  octets.reserve(256);
  if (!encodeInto(value, octets)) return false;
  std::copy(octets.begin(), octets.end(), out);
  return true;
}

bool encode(const AbstractData& value, CoderEnv* env,
            std::back_insert_iterator<std::vector<char>> out);
bool decode(const char* begin, const char* end, CoderEnv* env, AbstractData& value, bool detached);

}  // namespace ASN1

#endif  // VELMARD_ASN1_CODER_ENV_H
