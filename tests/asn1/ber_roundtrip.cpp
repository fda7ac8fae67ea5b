// BER round trips of sample values of every alternative of the message
// CHOICEs: decode(encode(v)) equals v and encodes to the same octets, and
// no proper prefix of the octets decodes.
#include <gtest/gtest.h>

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

TEST(BerRoundTrip, EveryMessageAlternative) { roundTrip(messageCases(3), false); }

TEST(BerRoundTrip, EveryTruncatedMessageFails) { roundTrip(messageCases(1), true); }

}  // namespace
