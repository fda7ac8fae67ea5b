// Value notation of sample values of every alternative of the message
// CHOICEs reads back equal, and prints again the same text.
#include <gtest/gtest.h>

#include "asn1/avn_decoder.h"
#include "asn1/ber_sample.h"
#include "testmod/TESTMOD.h"
#if __has_include("asn1/modules/LGCP.h")
#include "asn1/modules/LGCP.h"
#endif
#if __has_include("asn1/modules/VORNGW.h")
#include "asn1/modules/VORNGW.h"
#endif

using namespace codertest;

namespace {

void roundTrip(const std::vector<SampleCase>& cases) {
  ASSERT_FALSE(cases.empty());
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

TEST(ValueNotationRoundTrip, TestModuleEveryAlternative) {
  roundTrip(alternativesOf(&TESTMOD::Message::theInfo, {"pdu"}, 4));
}

#if __has_include("asn1/modules/LGCP.h")
TEST(ValueNotationRoundTrip, LgcpEveryCommandAndSignal) {
  roundTrip(alternativesOf(&LGCP::Message::theInfo, {"pdu", "command"}, 3));
  roundTrip(alternativesOf(&LGCP::Message::theInfo, {"pdu", "signal"}, 3));
  roundTrip(alternativesOf(&LGCP::Message::theInfo, {"pdu", "response"}, 2));
}
#endif

#if __has_include("asn1/modules/VORNGW.h")
TEST(ValueNotationRoundTrip, VornPacketEveryPayload) {
  roundTrip(alternativesOf(&VORNGW::ProtoVornPackets::theInfo, {"packets", "#", "payload"}, 2));
}
#endif

}  // namespace
