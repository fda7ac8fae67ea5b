#include "asn1/avn_decoder.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

namespace ASN1 {

namespace {

bool isNameChar(int c) {
  return c != EOF && (std::isalnum(c) || c == '-' || c == '_');
}

// Unsigned decimal of the whole of text, within 32 bits.
bool parseArc(const std::string& text, std::uint32_t& arc) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  arc = static_cast<std::uint32_t>(v);
  return true;
}

// "(n)" of a named arc, the name already taken off.
bool parseNamedArc(const std::string& text, std::uint32_t& arc) {
  if (text.size() < 3 || text.front() != '(' || text.back() != ')') return false;
  return parseArc(text.substr(1, text.size() - 2), arc);
}

}  // namespace

// ---------------------------------------------------------------------------
// Lexical helpers

bool get_name(std::istream& is, std::string& name) {
  name.clear();
  if (!(is >> std::ws)) return false;
  int c = is.peek();
  if (c == EOF) return false;
  if (!std::isalpha(c)) {
    name = static_cast<char>(is.get());
    return true;
  }
  while (isNameChar(c)) {
    name += static_cast<char>(is.get());
    c = is.peek();
  }
  return true;
}

bool get_string(std::istream& is, std::string& str) {
  char c;
  if (!(is >> c) || c != '"') return false;
  str.clear();
  for (;;) {
    int ch = is.get();
    if (ch == EOF) return false;
    if (ch == '"') return true;
    str += static_cast<char>(ch);
  }
}

bool get_from_string(std::string& digits, std::vector<char>& octets, unsigned& count, int base) {
  std::string clean;
  for (char c : digits)
    if (!std::isspace(static_cast<unsigned char>(c))) clean += c;
  digits.swap(clean);
  unsigned perOctet = base == 2 ? 8 : 2;
  count = static_cast<unsigned>(digits.size()) * (base == 2 ? 1 : 4);
  if (digits.size() % perOctet) digits.append(perOctet - digits.size() % perOctet, '0');
  octets.clear();
  octets.reserve(digits.size() / perOctet);
  for (std::size_t i = 0; i < digits.size(); i += perOctet) {
    unsigned octet = 0;
    for (std::size_t k = i; k < i + perOctet; ++k) {
      int c = static_cast<unsigned char>(digits[k]);
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return false;
      if (d >= base) return false;
      octet = octet * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    octets.push_back(static_cast<char>(octet));
  }
  return true;
}

bool get_value_from(std::istream& is, std::vector<char>& octets, unsigned& count) {
  char c;
  if (!(is >> c) || c != '\'') return false;
  std::string digits;
  for (;;) {
    int ch = is.get();
    if (ch == EOF) return false;
    if (ch == '\'') break;
    digits += static_cast<char>(ch);
  }
  if (!(is >> c)) return false;
  if (c == 'B') return get_from_string(digits, octets, count, 2);
  if (c == 'H') return get_from_string(digits, octets, count, 16);
  return false;
}

bool get_id(const char* const* names, unsigned count, const std::string& name, int& index) {
  for (unsigned i = 0; i < count; ++i) {
    if (names[i] && name == names[i]) {
      index = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

bool enumeratorValue(const EnumeratedInfo& info, const std::string& name, int& value) {
  int v = -1;
  for (unsigned i = 0; i < info.nameCount; ++i) {
    const char* entry = info.names[i];
    const char* mark = std::strchr(entry, '=');
    v = mark ? std::atoi(mark + 1) : v + 1;
    std::size_t len = mark ? static_cast<std::size_t>(mark - entry) : std::strlen(entry);
    if (name.size() == len && name.compare(0, len, entry, len) == 0) {
      value = v;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Decoder

bool AVNDecoder::readKeyword(std::string& word) {
  word.clear();
  if (!(*strm >> std::ws)) return false;
  int c = strm->peek();
  while (c != EOF && std::isalpha(c)) {
    word += static_cast<char>(strm->get());
    c = strm->peek();
  }
  return !word.empty();
}

bool AVNDecoder::expect(char expected) {
  char c;
  return (*strm >> c) && c == expected;
}

bool AVNDecoder::do_visit(Null&) {
  std::string word;
  return readKeyword(word) && word == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& value) {
  std::string word;
  if (!readKeyword(word)) return false;
  if (word == "TRUE")
    value.setValue(true);
  else if (word == "FALSE")
    value.setValue(false);
  else
    return false;
  return true;
}

bool AVNDecoder::do_visit(INTEGER& value) {
  const ConstrainedInfo* ci = value.info();
  if (ci->constraintType != Unconstrained && ci->lowerLimit >= 0) {
    // A sign would be taken by the stream as a wrap-around of the number.
    if (!(*strm >> std::ws) || strm->peek() == '-') return false;
    unsigned v;
    if (!(*strm >> v)) return false;
    value.setValue(static_cast<int>(v));
  } else {
    int v;
    if (!(*strm >> v)) return false;
    value.setValue(v);
  }
  return true;
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& value) {
  if (!(*strm >> std::ws)) return false;
  int c = strm->peek();
  if (c == '-' || (c != EOF && std::isdigit(c))) return do_visit(static_cast<INTEGER&>(value));
  std::string name;
  return get_name(*strm, name) && value.setFromName(name);
}

// The printer writes an entry as it stands in the name table, "=value"
// mark included, and a value that has no name as a number; a number is
// taken only where the printer would have written one.
bool AVNDecoder::do_visit(ENUMERATED& value) {
  if (!(*strm >> std::ws)) return false;
  int c = strm->peek();
  if (c == '-' || (c != EOF && std::isdigit(c))) {
    int v;
    if (!(*strm >> v)) return false;
    ENUMERATED probe(value.info());
    probe.setFromInt(v);
    if (probe.getName()) return false;
    value.setFromInt(v);
    return true;
  }
  std::string name;
  int v;
  if (!get_name(*strm, name) || !enumeratorValue(*value.info(), name, v)) return false;
  if (strm->peek() == '=') {
    strm->get();
    int mark;
    if (!(*strm >> mark) || mark != v) return false;
  }
  value.setFromInt(v);
  return true;
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& value) {
  if (!expect('{')) return false;
  std::string text;
  for (;;) {
    int ch = strm->get();
    if (ch == EOF) return false;
    if (ch == '}') break;
    text += static_cast<char>(ch);
  }
  std::istringstream components(text);
  std::string item;
  while (components >> item) {
    std::uint32_t arc;
    if (std::isdigit(static_cast<unsigned char>(item[0]))) {
      if (!parseArc(item, arc)) return false;
    } else {
      // name(n) or name (n): only the number counts.
      std::string::size_type open = item.find('(');
      std::string number;
      if (open != std::string::npos)
        number = item.substr(open);
      else if (!(components >> number))
        return false;
      if (!parseNamedArc(number, arc)) return false;
    }
    value.arcs().push_back(arc);
  }
  return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& value) {
  std::vector<char> octets;
  unsigned count;
  if (!get_value_from(*strm, octets, count)) return false;
  value.assign(octets.begin(), octets.end());
  return true;
}

bool AVNDecoder::do_visit(BIT_STRING& value) {
  std::vector<char> octets;
  unsigned count;
  if (!get_value_from(*strm, octets, count)) return false;
  value.resize(count);
  value.getData() = octets;
  return true;
}

bool AVNDecoder::do_visit(AbstractString& value) {
  std::string text;
  if (!get_string(*strm, text)) return false;
  value.assign(text);
  return true;
}

bool AVNDecoder::do_visit(BMPString& value) {
  std::string text;
  if (!get_string(*strm, text)) return false;
  std::size_t n = std::mbstowcs(nullptr, text.c_str(), 0);
  if (n == static_cast<std::size_t>(-1)) return false;
  std::vector<wchar_t> wide(n + 1);
  std::mbstowcs(wide.data(), text.c_str(), n + 1);
  value.assign(wide.data(), n);
  return true;
}

bool AVNDecoder::do_visit(GeneralizedTime& value) {
  std::string text;
  if (!get_string(*strm, text)) return false;
  value.set(text.data(), text.size());
  return true;
}

bool AVNDecoder::do_visit(CHOICE& value) {
  std::string name;
  int index;
  if (!get_name(*strm, name) || !expect(':')) return false;
  if (!get_id(value.info()->names, value.getTotalChoices(), name, index)) return false;
  if (!value.select(index)) return false;
  return value.getSelection()->accept(*this);
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& value) {
  if (!expect('{')) return false;
  value.clear();
  char c;
  if (!(*strm >> c)) return false;
  if (c == '}') return true;
  strm->unget();
  for (;;) {
    std::unique_ptr<AbstractData> element(AbstractData::create(value.elementInfo()));
    if (!element || !element->accept(*this) || !(*strm >> c)) return false;
    value.elements().push_back(element.release());
    if (c == '}') return true;
    if (c != ',') return false;
  }
}

// An open type carries no name of its type in the text, so there is
// nothing to decode it with.
bool AVNDecoder::do_visit(OpenData&) {
  return false;
}
bool AVNDecoder::do_revisit(OpenData&) {
  return false;
}

bool AVNDecoder::do_visit(TypeConstrainedOpenData& value) {
  return value.has_data() && value.get_data().accept(*this);
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE&) {
  if (!expect('{')) return FAIL;
  char c;
  if (!(*strm >> c)) return FAIL;
  if (c == '}') return STOP;
  strm->unget();
  std::string name;
  if (!get_name(*strm, name)) return FAIL;
  offered.push_back(name);
  return CONTINUE;
}

int AVNDecoder::visitField(SEQUENCE& seq, int index, int optionalId, bool optional) {
  unsigned i = static_cast<unsigned>(index);
  if (offered.back() != seq.getFieldName(i)) {
    if (!optional) return FAIL;
    seq.removeOptionalField(static_cast<unsigned>(optionalId));
    return CONTINUE;
  }
  if (optional) seq.includeOptionalField(static_cast<unsigned>(optionalId), i);
  AbstractData* field = seq.createField(i);
  char c;
  if (!field || !field->accept(*this) || !(*strm >> c)) return FAIL;
  if (c == ',') return get_name(*strm, offered.back()) ? CONTINUE : FAIL;
  if (c != '}') return FAIL;
  offered.pop_back();
  return STOP;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) {
  return visitField(seq, index, optionalId, optionalId != -1);
}

int AVNDecoder::visitKnownExtension(SEQUENCE& seq, int index, int optionalId) {
  return visitField(seq, index, optionalId, true);
}

// Every component has been offered its chance: what is left must be the
// closing brace after a trailing comma, not an unknown or misplaced name.
bool AVNDecoder::visitUnknownExtensions(SEQUENCE&) {
  bool closed = offered.back() == "}";
  offered.pop_back();
  return closed;
}

// ---------------------------------------------------------------------------
// Entry points on the value classes

bool ENUMERATED::setFromName(const std::string& name) {
  int v;
  if (!enumeratorValue(*info(), name, v)) return false;
  value = v;
  return true;
}

bool IntegerWithNamedNumber::setFromName(const std::string& name) {
  const IntegerWithNamedNumberInfo* ni = namedInfo();
  for (unsigned i = 0; i < ni->count; ++i) {
    if (name == ni->names[i].name) {
      value = ni->names[i].value;
      return true;
    }
  }
  return false;
}

std::ios_base::iostate AbstractData::get_from(std::istream& is) {
  AVNDecoder decoder(is);
  return accept(decoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

bool AbstractData::setFromValueNotation(const std::string& text) {
  std::istringstream is(text);
  return get_from(is) == std::ios_base::goodbit;
}

}  // namespace ASN1
