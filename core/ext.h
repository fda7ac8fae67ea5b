// Output helpers for diagnostic text, each a small value streamed with <<:
// the object header that begins a log line, quoted values, hex output and
// fixed-width text tables for status dumps.
#ifndef VELMARD_CORE_EXT_H
#define VELMARD_CORE_EXT_H

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ext {

// Every class that logs through header() provides
//     void PutHeader(std::ostream&) const;
// writing its own header text, e.g. "E1: " or "LAPD[3]: ".
template <class X>
struct OutObjHeader {
  const X* object;
};

template <class X>
OutObjHeader<X> header(const X* object) {
  return OutObjHeader<X>{object};
}

template <class X>
std::ostream& operator<<(std::ostream& out, const OutObjHeader<X>& h) {
  h.object->PutHeader(out);
  return out;
}

template <class T>
struct OutQuoted {
  const T* value;
};

template <class T>
OutQuoted<T> quoted(const T& value) {
  return OutQuoted<T>{&value};
}

template <class T>
std::ostream& operator<<(std::ostream& out, const OutQuoted<T>& q) {
  return out << '"' << *q.value << '"';
}

// Each byte as two uppercase hex digits and one space (after the last one
// too).
class OutBufInHex {
 public:
  OutBufInHex(const void* begin, const void* end)
      : begin(static_cast<const unsigned char*>(begin)),
        end(static_cast<const unsigned char*>(end)) {}
  void Put(std::ostream& out) const;

  const unsigned char* begin;
  const unsigned char* end;
};

// "0x" and the value in uppercase hex without leading zeros. A width above
// 0 zero-fills the digits to that many.
class OutUnsignedInHex {
 public:
  explicit OutUnsignedInHex(uint32_t value, int width = 0) : value(value), width(width) {}
  void Put(std::ostream& out) const;

  uint32_t value;
  int width;
};

inline std::ostream& operator<<(std::ostream& out, const OutBufInHex& h) {
  h.Put(out);
  return out;
}
inline std::ostream& operator<<(std::ostream& out, const OutUnsignedInHex& h) {
  h.Put(out);
  return out;
}

// A table of fixed-width columns; each cell is cut to its width and
// centred (an odd remainder of fill goes to the right).
class Table {
 public:
  class Sentry;

  Table() {}
  explicit Table(int w1) { add(w1); }
  Table(int w1, int w2) : Table(w1) { add(w2); }
  Table(int w1, int w2, int w3) : Table(w1, w2) { add(w3); }
  Table(int w1, int w2, int w3, int w4) : Table(w1, w2, w3) { add(w4); }
  Table(int w1, int w2, int w3, int w4, int w5) : Table(w1, w2, w3, w4) { add(w5); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6) : Table(w1, w2, w3, w4, w5) { add(w6); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6, int w7) : Table(w1, w2, w3, w4, w5, w6) {
    add(w7);
  }

  void add(int width) { widths.push_back(width); }
  void init() { resetrow(); }
  void resetrow() {
    column = 0;
    rowOpen = false;
  }

  // One cell; the last cell of a row ends the line.
  void row(std::ostream& out, const std::string& text);
  // Completes an open row with blank cells.
  void finalize(std::ostream& out);
  // Completes an open row, then a rule line "+----+------+".
  void delimeter(std::ostream& out);
  // Completes an open row, then an empty row line.
  void gap(std::ostream& out);

  std::vector<int> widths;
  unsigned column = 0;
  bool rowOpen = false;
};

// Collects the text of the current cell with the stream's own formatting.
class Table::Sentry {
 public:
  Sentry(std::ostream& out, Table& table) : out(out), table(&table) { cell.copyfmt(out); }
  // Hands the collected text to the table as one cell.
  const Sentry& row() const;

  std::ostream& out;
  Table* table;
  mutable std::ostringstream cell;
};

template <class T>
const Table::Sentry& operator<<(const Table::Sentry& s, const T& value) {
  s.cell << value;
  return s;
}

inline const Table::Sentry& operator<<(const Table::Sentry& s,
                                       const Table::Sentry& (*manip)(const Table::Sentry&)) {
  return manip(s);
}

// Manipulators: start a row, end the current cell, write a rule line.
const Table::Sentry& beginrow(const Table::Sentry& s);
const Table::Sentry& nextrow(const Table::Sentry& s);
const Table::Sentry& delimeter(const Table::Sentry& s);

}  // namespace ext

#endif  // VELMARD_CORE_EXT_H
