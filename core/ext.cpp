#include "core/ext.h"

#include <iomanip>

namespace ext {

void OutBufInHex::Put(std::ostream& out) const {
  if (begin == end) return;
  std::ios_base::fmtflags flags = out.flags();
  out << std::hex << std::uppercase << std::setfill('0');
  for (const unsigned char* p = begin; p != end; ++p) out << std::setw(2) << unsigned(*p) << ' ';
  out.flags(flags);
  out.fill(' ');
}

void OutUnsignedInHex::Put(std::ostream& out) const {
  std::ios_base::fmtflags flags = out.flags();
  out << "0x" << std::hex << std::uppercase << std::setfill('0') << std::setw(width > 0 ? width : 0)
      << value;
  out.flags(flags);
  out.fill(' ');
}

void Table::row(std::ostream& out, const std::string& text) {
  if (column >= widths.size()) return;
  rowOpen = true;
  int width = widths[column];
  std::string cell = text.substr(0, width > 0 ? size_t(width) : 0);
  int rest = width - int(cell.size());
  out << '|' << std::string(rest / 2, ' ') << cell << std::string((rest + 1) / 2, ' ');
  if (++column == widths.size()) {
    out << '|' << std::endl;
    rowOpen = false;
  }
}

void Table::finalize(std::ostream& out) {
  while (rowOpen && column < widths.size()) row(out, " ");
}

void Table::delimeter(std::ostream& out) {
  finalize(out);
  if (widths.empty()) return;
  for (int w : widths) out << '+' << std::string(w > 0 ? w : 0, '-');
  out << '+' << std::endl;
}

void Table::gap(std::ostream& out) {
  finalize(out);
  for (int w : widths) out << '|' << std::string(w > 0 ? w : 0, ' ');
  out << '|' << std::endl;
}

const Table::Sentry& Table::Sentry::row() const {
  table->row(out, cell.str());
  cell.str(std::string());
  return *this;
}

const Table::Sentry& beginrow(const Table::Sentry& s) {
  s.table->resetrow();
  return s;
}

const Table::Sentry& nextrow(const Table::Sentry& s) {
  return s.row();
}

const Table::Sentry& delimeter(const Table::Sentry& s) {
  s.table->delimeter(s.out);
  return s;
}

}  // namespace ext
