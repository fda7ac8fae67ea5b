#include "core/version.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(Version, CurrentPrintsTheBuildTag) {
  std::ostringstream out;
  out << Version::current;
  EXPECT_EQ("T250327-1818", out.str());
}

TEST(Version, TypeNamesAndLetters) {
  struct {
    int type;
    const char* name;
    const char* letter;
  } rows[] = {{0, "snapshot", "S"},  {1, "test", "T"},    {2, "release", "R"},
              {3, "unit-test", "T"}, {4, "unknown", "U"}, {-1, "unknown", "U"}};
  for (auto& r : rows) {
    Version::Type t = static_cast<Version::Type>(r.type);
    EXPECT_STREQ(r.name, version_string(t)) << r.type;
    EXPECT_STREQ(r.letter, version_suffix(t)) << r.type;
    std::ostringstream out;
    out << t;
    EXPECT_EQ(r.name, out.str());
  }
}
