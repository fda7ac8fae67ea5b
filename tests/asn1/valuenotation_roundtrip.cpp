// Value notation of sample values of every alternative of the message
// CHOICEs reads back equal, and prints again the same text.
#include <gtest/gtest.h>

#include "asn1/avn_decoder.h"
#include "asn1/ber_sample.h"

using namespace codertest;

namespace {

TEST(ValueNotationRoundTrip, EveryMessageAlternative) {
  std::vector<SampleCase> cases = messageCases(3);
  ASSERT_LT(100u, cases.size());
  unsigned read = 0;
  for (const SampleCase& c : cases) {
    std::string text = c.value->asValueNotation();
    std::unique_ptr<AbstractData> back(AbstractData::create(c.value->info()));
    bool ok = back->setFromValueNotation(text);
    // An open type names no type in the text: there is nothing to read it as.
    if (c.openType) {
      EXPECT_FALSE(ok) << c.label;
      continue;
    }
    ASSERT_TRUE(ok) << c.label << "\n" << text;
    EXPECT_EQ(*c.value, *back) << c.label << "\n" << text << "\n" << *back;
    EXPECT_EQ(text, back->asValueNotation()) << c.label;
    ++read;
  }
  EXPECT_LT(0u, read);
}

}  // namespace
