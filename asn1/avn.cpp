#include "asn1/avn.h"

#include <cstdlib>
#include <sstream>

#include <boost/scoped_array.hpp>

namespace ASN1 {

void AVNEncoder::pad(int n) {
  for (int i = 0; i < n; ++i) strm->put(' ');
}

void AVNEncoder::printOctets(const char* data, std::size_t n) {
  static const char hex[] = "0123456789abcdef";
  std::ios_base::fmtflags flags = strm->flags();
  strm->put('\'');
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (i) strm->put(' ');
    strm->put(hex[c >> 4]);
    strm->put(hex[c & 15]);
  }
  *strm << "'H";
  strm->setf(flags);
  strm->fill(' ');
}

bool AVNEncoder::do_visit(const Null&) {
  *strm << "NULL";
  return good();
}

bool AVNEncoder::do_visit(const BOOLEAN& value) {
  *strm << (value.getValue() ? "TRUE" : "FALSE");
  return good();
}

bool AVNEncoder::do_visit(const INTEGER& value) {
  if (value.getConstraintType() != Unconstrained && value.getLowerLimit() >= 0)
    *strm << static_cast<unsigned>(value.getValue());
  else
    *strm << value.getValue();
  return good();
}

bool AVNEncoder::do_visit(const IntegerWithNamedNumber& value) {
  std::string name;
  if (value.getName(name)) {
    *strm << name;
    return good();
  }
  return do_visit(static_cast<const INTEGER&>(value));
}

bool AVNEncoder::do_visit(const ENUMERATED& value) {
  // A value that no enumerator carries prints as its number.
  if (const char* name = value.getName())
    *strm << name;
  else
    *strm << value.asInt();
  return good();
}

bool AVNEncoder::do_visit(const OBJECT_IDENTIFIER& value) {
  *strm << "{ ";
  for (std::uint32_t arc : value.arcs()) *strm << arc << ' ';
  *strm << '}';
  return good();
}

bool AVNEncoder::do_visit(const BIT_STRING& value) {
  strm->put('\'');
  for (unsigned i = 0; i < value.size(); ++i) strm->put(value[i] ? '1' : '0');
  *strm << "'B";
  return good();
}

bool AVNEncoder::do_visit(const OCTET_STRING& value) {
  printOctets(value.data(), value.size());
  return good();
}

bool AVNEncoder::do_visit(const AbstractString& value) {
  strm->put('"');
  strm->write(value.data(), static_cast<std::streamsize>(value.size()));
  strm->put('"');
  return good();
}

bool AVNEncoder::do_visit(const BMPString& value) {
  std::size_t n = value.size();
  boost::scoped_array<char> text(new char[n + 1]);
  std::size_t converted = std::wcstombs(text.get(), value.c_str(), n);
  if (converted != static_cast<std::size_t>(-1)) {
    strm->put('"');
    strm->write(text.get(), static_cast<std::streamsize>(converted));
    strm->put('"');
    return good();
  }
  *strm << '{';
  for (std::size_t i = 0; i < n; ++i) {
    unsigned code = static_cast<unsigned>(value[i]);
    if (i) *strm << ", ";
    *strm << "{ 0, 0, " << (code >> 8) << ", " << (code & 0xFF) << '}';
  }
  *strm << '}';
  return good();
}

bool AVNEncoder::do_visit(const CHOICE& value) {
  const char* name = value.getSelectionName();
  if (!value.isSelected() || !name) return false;
  *strm << name << " : ";
  return value.getSelection()->accept(*this) && good();
}

bool AVNEncoder::do_visit(const OpenData& value) {
  if (value.has_data()) return value.get_data().accept(*this);
  if (value.has_buf()) {
    printOctets(value.get_buf().data(), value.get_buf().size());
    return good();
  }
  return false;
}

bool AVNEncoder::do_visit(const GeneralizedTime& value) {
  *strm << '"' << value.get() << '"';
  return good();
}

bool AVNEncoder::do_visit(const SEQUENCE_OF_Base& value) {
  *strm << "{\n";
  indent += 2;
  const SEQUENCE_OF_Base::Container& elements = value.elements();
  for (std::size_t i = 0; i < elements.size(); ++i) {
    pad(indent);
    if (!elements[i]->accept(*this) || !good()) return false;
    if (i + 1 < elements.size()) *strm << ",\n";
  }
  indent -= 2;
  if (!elements.empty()) *strm << '\n';
  pad(indent);
  *strm << '}';
  return good();
}

bool AVNEncoder::preVisitExtensionRoots(const SEQUENCE&) {
  fieldPrinted.push_back(false);
  *strm << "{\n";
  return good();
}

bool AVNEncoder::visitExtensionRoot(const SEQUENCE& seq, int index) {
  const AbstractData* field = seq.getField(static_cast<unsigned>(index));
  if (!field) return false;
  if (fieldPrinted.back()) *strm << ",\n";
  pad(indent + 2);
  *strm << seq.getFieldName(static_cast<unsigned>(index)) << ' ';
  indent += 2;
  bool ok = field->accept(*this);
  indent -= 2;
  fieldPrinted.back() = true;
  return ok && good();
}

bool AVNEncoder::visitKnownExtension(const SEQUENCE& seq, int index) {
  return visitExtensionRoot(seq, index);
}

bool AVNEncoder::afterVisitSequence(const SEQUENCE&) {
  if (fieldPrinted.back()) *strm << '\n';
  fieldPrinted.pop_back();
  pad(indent);
  *strm << '}';
  return good();
}

// ---------------------------------------------------------------------------

void IOWrapper::do_it(std::ios& strm) {
  std::ios_base::iostate state = std::ios_base::goodbit;
  try {
    state = do_real_io();
  } catch (...) {
    std::ios_base::iostate mask = strm.exceptions();
    strm.exceptions(std::ios_base::goodbit);
    strm.setstate(std::ios_base::badbit);
    if (!(mask & std::ios_base::badbit)) {
      strm.exceptions(mask);
      return;
    }
    try {
      strm.exceptions(mask);  // throws at once: the state holds badbit
    } catch (...) {
    }
    throw;
  }
  if (state) strm.setstate(state);
}

std::ios_base::iostate InserterWrapper<char, std::char_traits<char>, AbstractData>::do_real_io() {
  std::ostream::sentry sentry(os);
  if (!sentry) return std::ios_base::goodbit;
  value.print_on(os);
  // A value that cannot be printed (a CHOICE without selection) leaves what
  // it printed so far; the log stream itself stays usable.
  return os.rdstate() & (std::ios_base::badbit | std::ios_base::failbit);
}

std::ostream& g_inserter(std::ostream& os, const AbstractData& value) {
  if (!os.good()) return os;
  InserterWrapper<char, std::char_traits<char>, AbstractData> wrapper(os, value);
  wrapper.do_it(os);
  return os;
}

std::ostream& operator<<(std::ostream& os, const AbstractData& value) {
  return g_inserter(os, value);
}

std::ios_base::iostate ExtractorWrapper<char, std::char_traits<char>, AbstractData>::do_real_io() {
  std::istream::sentry sentry(is);
  if (!sentry) return std::ios_base::failbit;
  return value.get_from(is);
}

std::istream& g_extractor(std::istream& is, AbstractData& value) {
  if (!is.good()) return is;
  ExtractorWrapper<char, std::char_traits<char>, AbstractData> wrapper(is, value);
  wrapper.do_it(is);
  return is;
}

std::istream& operator>>(std::istream& is, AbstractData& value) {
  return g_extractor(is, value);
}

std::ios_base::iostate AbstractData::print_on(std::ostream& os) const {
  AVNEncoder encoder(os, 0);
  return accept(encoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const {
  std::ostringstream os;
  print_on(os);
  return os.str();
}

}  // namespace ASN1
