// Helpers of the ASN.1 tests: hex octets, so that failures print both sides
// as octets, PER calls, and values built in one expression for the tables.
#ifndef VELMARD_TESTS_ASN1_ASN1_TEST_UTIL_H
#define VELMARD_TESTS_ASN1_ASN1_TEST_UTIL_H

#include <cstdio>
#include <algorithm>
#include <cctype>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/coder_env.h"

namespace asn1test {

// Reads the hex digits of text in pairs; anything else separates them.
inline std::vector<char> unhex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  std::vector<char> out;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string hex(const std::vector<char>& octets) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < octets.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", static_cast<unsigned char>(octets[i]));
    out += buf;
  }
  return out;
}

typedef std::unique_ptr<ASN1::AbstractData> Value;

inline bool perEncode(const ASN1::AbstractData& value, std::vector<char>& out,
                      int rule = ASN1::CoderEnv::per_Aligned) {
  ASN1::CoderEnv env(rule);
  return ASN1::encode(value, &env, std::back_inserter(out));
}

// Decodes from an exact-size copy, so that the sanitizer sees a read past it.
inline bool perDecode(const std::vector<char>& in, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  std::unique_ptr<char[]> copy(new char[in.size() + 1]);
  std::copy(in.begin(), in.end(), copy.get());
  return ASN1::decode(copy.get(), copy.get() + in.size(), &env, value, true);
}

// The octets of a value in PER, or "encode failed".
inline std::string perHex(const ASN1::AbstractData& value) {
  std::vector<char> out;
  return perEncode(value, out) ? hex(out) : "encode failed";
}

// A fresh T, filled by fill.
template <class T>
Value with(std::function<void(T&)> fill) {
  std::unique_ptr<T> v(new T);
  fill(*v);
  return Value(v.release());
}

}  // namespace asn1test

#endif  // VELMARD_TESTS_ASN1_ASN1_TEST_UTIL_H
