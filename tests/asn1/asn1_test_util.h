// Helpers of the ASN.1 tests: hex octets, so that failures print both sides
// as octets, and values built in one expression for the case tables.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace asn1test {

inline std::vector<char> unhex(const std::string& text) {
  std::vector<char> out;
  int nibbles = 0, value = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      continue;
    value = value << 4 | d;
    if (++nibbles == 2) {
      out.push_back(static_cast<char>(value));
      nibbles = value = 0;
    }
  }
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

// A fresh T, filled by fill.
template <class T>
Value with(std::function<void(T&)> fill) {
  std::unique_ptr<T> v(new T);
  fill(*v);
  return Value(v.release());
}

}  // namespace asn1test
