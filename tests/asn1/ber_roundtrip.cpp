// BER round trips of sample values of every alternative of the message
// CHOICEs: decode(encode(v)) equals v and encodes to the same octets.
#include <gtest/gtest.h>

#include "asn1/ber.h"
#include "asn1/ber_sample.h"
#include "asn1/ber_types.h"
#include "testmod/TESTMOD.h"
#if __has_include("asn1/modules/LGCP.h")
#include "asn1/modules/LGCP.h"
#endif
#if __has_include("asn1/modules/VORNGW.h")
#include "asn1/modules/VORNGW.h"
#endif

using namespace codertest;

namespace {

void roundTrip(const std::vector<SampleCase>& cases, bool sweep) {
  ASSERT_FALSE(cases.empty());
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

TEST(BerRoundTrip, TestModuleEveryAlternative) {
  roundTrip(alternativesOf(&TESTMOD::Message::theInfo, {"pdu"}, 3), false);
  roundTrip(alternativesOf(&TESTMOD::Message::theInfo, {"pdu"}, 1), true);
}

#if __has_include("asn1/modules/LGCP.h")
TEST(BerRoundTrip, LgcpEveryCommandAndSignal) {
  roundTrip(alternativesOf(&LGCP::Message::theInfo, {"pdu", "command"}, 3), false);
  roundTrip(alternativesOf(&LGCP::Message::theInfo, {"pdu", "signal"}, 3), false);
  roundTrip(alternativesOf(&LGCP::Message::theInfo, {"pdu", "response"}, 1), true);
}
#endif

#if __has_include("asn1/modules/VORNGW.h")
TEST(BerRoundTrip, VornPacketEveryPayload) {
  roundTrip(alternativesOf(&VORNGW::ProtoVornPackets::theInfo, {"packets", "#", "payload"}, 2), false);
}
#endif

}  // namespace
