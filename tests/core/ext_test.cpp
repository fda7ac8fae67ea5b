#include "core/ext.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

namespace {
struct Logger {
  void PutHeader(std::ostream& out) const { out << "E1[" << trunk << "]: "; }
  int trunk;
};
}  // namespace

TEST(ExtManipulators, HeaderAndQuoted) {
  Logger l{3};
  std::ostringstream out;
  out << ext::header(&l) << ext::quoted("link") << ' ' << ext::quoted(42) << ' '
      << ext::quoted(std::string());
  EXPECT_EQ("E1[3]: \"link\" \"42\" \"\"", out.str());
}

TEST(ExtHex, BufferBytesAndFlagsRestored) {
  const unsigned char bytes[] = {0x0A, 0xFF, 0x00, 0x5c};
  std::ostringstream out;
  out << std::setfill('*');
  out << ext::OutBufInHex(bytes, bytes + 2);
  EXPECT_EQ("0A FF ", out.str());
  out << 255 << ' ' << std::setw(3) << 7;
  EXPECT_EQ("0A FF 255   7", out.str());

  std::ostringstream all;
  ext::OutBufInHex(bytes, bytes + 4).Put(all);
  EXPECT_EQ("0A FF 00 5C ", all.str());
}

TEST(ExtHex, EmptyRangeWritesNothing) {
  const unsigned char b[1] = {1};
  std::ostringstream out;
  out << std::hex;
  std::ios_base::fmtflags before = out.flags();
  out << ext::OutBufInHex(b, b);
  EXPECT_EQ("", out.str());
  EXPECT_EQ(before, out.flags());
}

TEST(ExtHex, UnsignedWithoutLeadingZeros) {
  std::ostringstream out;
  out << ext::OutUnsignedInHex(0x1ab) << ' ' << ext::OutUnsignedInHex(0) << ' '
      << ext::OutUnsignedInHex(0xFFFFFFFFu) << ' ' << 10;
  EXPECT_EQ("0x1AB 0x0 0xFFFFFFFF 10", out.str());
  std::ostringstream wide;
  wide << ext::OutUnsignedInHex(0xA, 4);
  EXPECT_EQ("0x000A", wide.str());
}

TEST(ExtTable, HeaderAndRowsAreCentredAndCut) {
  ext::Table t(4, 6);
  std::ostringstream out;
  ext::Table::Sentry s(out, t);
  s << ext::delimeter << ext::beginrow << "fd" << ext::nextrow << "name" << ext::nextrow
    << ext::delimeter;
  s << ext::beginrow << "abcdefgh" << ext::nextrow << 7 << ext::nextrow;
  s << ext::beginrow << "" << ext::nextrow << "odd" << ext::nextrow << ext::delimeter;
  EXPECT_EQ(
      "+----+------+\n"
      "| fd | name |\n"
      "+----+------+\n"
      "|abcd|  7   |\n"
      "|    | odd  |\n"
      "+----+------+\n",
      out.str());
}

TEST(ExtTable, ShortRowIsCompletedByTheNextDelimiter) {
  ext::Table t(3, 3, 3);
  std::ostringstream out;
  ext::Table::Sentry s(out, t);
  s << ext::beginrow << "a" << ext::nextrow << ext::delimeter;
  EXPECT_EQ(
      "| a |   |   |\n"
      "+---+---+---+\n",
      out.str());
}

// Cells past the last column write nothing until the next row; cells take
// the stream's formatting.
TEST(ExtTable, ExtraCellsWriteNothingAndCellsUseTheStreamsFormatting) {
  ext::Table t(4);
  std::ostringstream out;
  out << std::hex;
  ext::Table::Sentry s(out, t);
  s << ext::beginrow << 255 << ext::nextrow << "y" << ext::nextrow << "z" << ext::nextrow;
  EXPECT_EQ("| ff |\n", out.str());
}

TEST(ExtTable, WithoutColumnsOnlyTheGapWritesItsClosingBar) {
  ext::Table t;
  std::ostringstream out;
  t.delimeter(out);
  t.row(out, "x");
  EXPECT_EQ("", out.str());
  t.gap(out);
  EXPECT_EQ("|\n", out.str());
}

TEST(ExtTable, GapAndDirectRows) {
  ext::Table t;
  t.add(2);
  t.add(3);
  std::ostringstream out;
  t.row(out, "ab");
  t.gap(out);
  t.init();
  t.row(out, "c");
  t.finalize(out);
  EXPECT_EQ(
      "|ab|   |\n"
      "|  |   |\n"
      "|c |   |\n",
      out.str());
}
