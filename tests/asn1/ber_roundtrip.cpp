// Round trips of sample values of every alternative of the message CHOICEs:
// in BER, decode(encode(v)) equals v and encodes to the same octets, and no
// proper prefix of the octets decodes; in value notation, the text reads
// back equal and prints again the same.
#include <gtest/gtest.h>

#include "asn1/avn_decoder.h"
#include "asn1/ber.h"
#include "asn1/ber_sample.h"
#include "asn1/ber_types.h"

using namespace codertest;

namespace {

void roundTrip(const std::vector<SampleCase>& cases, bool sweep) {
  ASSERT_LT(100u, cases.size());
  for (const SampleCase& c : cases) {
    std::vector<char> octets;
    BEREncoder encoder(octets);
    ASSERT_TRUE(c.value->accept(encoder)) << c.label;
    ASSERT_EQ(octets.size(), getObjectLength(*c.value, BEREncoder::NoOverride)) << c.label;

    std::unique_ptr<AbstractData> decoded(AbstractData::create(c.value->info()));
    BERDecoder decoder(octets.data(), octets.data() + octets.size());
    ASSERT_TRUE(decoded->accept(decoder)) << c.label << "\n" << hex(octets);
    EXPECT_EQ(octets.data() + octets.size(), decoder.getPosition()) << c.label;
    EXPECT_EQ(*c.value, *decoded) << c.label << "\n" << *c.value << "\n" << *decoded;

    std::vector<char> again;
    BEREncoder reencoder(again);
    ASSERT_TRUE(decoded->accept(reencoder)) << c.label;
    EXPECT_EQ(hex(octets), hex(again)) << c.label;

    if (!sweep) continue;
    for (std::size_t n = 0; n < octets.size(); ++n) {
      std::unique_ptr<AbstractData> cut(AbstractData::create(c.value->info()));
      BERDecoder d(octets.data(), octets.data() + n);
      EXPECT_FALSE(cut->accept(d)) << c.label << " cut at " << n;
    }
  }
}

TEST(BerRoundTrip, EveryMessageAlternative) {
  roundTrip(messageCases(3), false);
}

TEST(BerRoundTrip, EveryTruncatedMessageFails) {
  roundTrip(messageCases(1), true);
}

TEST(ValueNotationRoundTrip, EveryMessageAlternative) {
  std::vector<SampleCase> cases = messageCases(3);
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
