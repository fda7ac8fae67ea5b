#include "hardware/tonec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <functional>

#include "receiver_testkit.h"

namespace {

using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;
using receiver_testkit::Ask;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

const char kDev[] = "/dev/dtmf";

struct Receiver : TonecReceiver {
  explicit Receiver(unsigned ts) : ts(ts) {}
  void tonec_event(const Params& p) override { codes.push_back(p.code); }
  unsigned tonec_timeslot() const override { return ts; }
  void tone_gen_complete() override { ++completes; }
  unsigned ts;
  std::vector<unsigned> codes;
  int completes = 0;
};

Lines Take() {
  return receiver_testkit::Take(kDev);
}

void Push(const std::string& words) {
  ASSERT_THAT(Ask(kDev, words), HasSubstr("sent 1"));
}

// One pass of the service's handler, its standard error and log lines.
std::string Dispatch() {
  TonecReceiverService& s = TonecReceiverService::instance();
  ::testing::internal::CaptureStderr();
  s.OnEvent(s.fd.get(), POLLIN);
  return ::testing::internal::GetCapturedStderr();
}

LGCP::TranslateDtmfParams String(std::vector<std::pair<int, int>> digits, int tone = 0,
                                 int pause = 0, int amp1 = 0) {
  LGCP::TranslateDtmfParams p;
  for (auto& d : digits) {
    LGCP::DualTone t;
    t.set_freq1(d.first);
    t.set_freq2(d.second);
    p.get_digits().push_back(t);
  }
  using P = LGCP::TranslateDtmfParams;
  const struct {
    int value;
    unsigned optional, field;
  } options[] = {{tone, P::o_toneDuration, P::f_toneDuration},
                 {pause, P::o_pauseDuration, P::f_pauseDuration},
                 {amp1, P::o_amp1, P::f_amp1}};
  for (auto& o : options) {
    if (!o.value) continue;
    p.includeOptionalField(o.optional, o.field);
    static_cast<ASN1::INTEGER&>(*p.getField(o.field)) = o.value;
  }
  return p;
}

class Tonec : public receiver_testkit::FrozenClock {
 protected:
  void SetUp() override {
    FrozenClock::SetUp();
    ASSERT_TRUE(TonecReceiverService::instance().isOpen());
    Take();
  }
};

TEST_F(Tonec, EachRequestReachesTheDriverAsItsRecord) {
  LGCP::DTMFParams dtmf;
  dtmf.get_threshold().set_twist(1);
  dtmf.get_threshold().set_ratio(2);
  dtmf.get_threshold().set_noise(3);
  dtmf.get_level().set_silence(4);
  LGCP::IVAParams iva;
  iva.set_det_lvl_dB(-30);
  TERM::SelcalCommand selcal, shortSelcal;
  selcal.set_signs("ABCDE");
  shortSelcal.set_signs("AB");
  const struct {
    std::function<bool(Receiver&)> op;
    Lines journal;
  } rows[] = {
      {[&](Receiver& r) { return r.configureDTMF(dtmf); },
       {"DTMF_CONFIGURE_DETECTOR,ts=7,twist=1,ratio=2,silence=4,noise=3"}},
      {[](Receiver& r) { return r.echoCancel(true); }, {"CHANNEL_LMS_ON,ts=7"}},
      {[](Receiver& r) { return r.echoCancel(false); }, {"CHANNEL_LMS_OFF,ts=7"}},
      {[](Receiver& r) { return r.enableDTMFReject(true); }, {"DTMF_REJECTION_ENABLE,ts=7"}},
      {[](Receiver& r) { return r.enableDTMFReject(false); }, {"DTMF_REJECTION_DISABLE,ts=7"}},
      {[](Receiver& r) { return r.enableIVA(true); }, {"IVA_DETECTOR_ENABLE,ts=7"}},
      {[](Receiver& r) { return r.enableIVA(false); }, {"IVA_DETECTOR_DISABLE,ts=7"}},
      {[&](Receiver& r) { return r.configureIVA(iva); },
       {"IVA_CONFIGURE_DETECTOR,ts=7,det_lvl_dB=-30"}},
      {[](Receiver& r) { return r.enableToneGenerator(697, 1209, 100, 200); },
       {"DTMF_DIAL,ts=7,freq1=697,freq2=1209,level1=100,level2=200"}},
      {[](Receiver& r) { return r.enableSilence(); },
       {"DTMF_DIAL,ts=7,freq1=1000,freq2=1000,level1=0,level2=0"}},
      {[](Receiver& r) { return !r.disableToneGenerator(false); }, {}},
      {[&](Receiver& r) { return r.translateSelcal(selcal) == 0; },
       {"SELCAL_DIAL,ts=7,amp=12000,signs=ABCD"}},
      {[&](Receiver& r) { return r.translateSelcal(shortSelcal) == -1; }, {}},
      {[](Receiver& r) { return r.enableDTMF(true); }, {"DTMF_ENABLE_DETECTOR,ts=7,id=N"}},
      {[](Receiver& r) { return r.enableDTMF(true) && r.detectorOn(); }, {}},
      {[](Receiver& r) { return r.disableDTMF(); }, {"DTMF_DISABLE_DETECTOR,ts=7"}},
  };
  Receiver r(7);
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_TRUE(rows[i].op(r)) << "row " << i;
    EXPECT_EQ(rows[i].journal, Take()) << "row " << i;
  }
  EXPECT_EQ(
      "state ts=7 detector=off id=N generator=1000/1000/0/0 lms=off rejection=off iva=off "
      "iva_level=-30 configure=1/2/4/3 selcal=12000/ABCD",
      receiver_testkit::MaskIds(Ask(kDev, "state 7")));
}

TEST_F(Tonec, EventsGoToTheFirstReceiverOfTheirTimeslotWithTheCurrentId) {
  Receiver a(3), b(3), c(4);
  ASSERT_TRUE(a.enableDTMF(true));
  ASSERT_TRUE(b.enableDTMF(true));
  const std::string id = std::to_string(a.detectorId());
  Push("event 11 3 1000 " + id);
  Push("event 12 3 1001 " + std::to_string(b.detectorId()));
  Push("event 13 9 1002 1");
  Push("event 14 4 1003 0");
  std::string err = Dispatch();
  EXPECT_THAT(a.codes, ElementsAre(11u));
  EXPECT_THAT(b.codes, IsEmpty());
  EXPECT_THAT(c.codes, IsEmpty());
  EXPECT_THAT(err, HasSubstr("dtmf event:  timestamp=1000 timeslot=3 code=11 id=" + id));
  EXPECT_THAT(err, HasSubstr("ignore spurious dtmf event:  timestamp=1001 timeslot=3 code=12 id=" +
                             std::to_string(b.detectorId()) + " rid=" + id));
  EXPECT_THAT(err, HasSubstr("receive tonec event from unknown timeslot 9\n"));
  EXPECT_THAT(err, HasSubstr("ignore spurious dtmf event (DTMF disabled):  timestamp=1003"));
  ASSERT_TRUE(a.disableDTMF());
  Push("event 15 3 1004 " + id);
  EXPECT_THAT(Dispatch(), HasSubstr("(DTMF disabled)"));
  EXPECT_THAT(a.codes, ElementsAre(11u));
}

TEST_F(Tonec, DtmfStringPlaysTonesAndPausesOnTheLoopClock) {
  Receiver r(2);
  ASSERT_TRUE(r.translateDTMF(String({{697, 1209}, {941, 1336}})));
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=2,freq1=697,freq2=1209,level1=16384,level2=16384"));
  const struct {
    unsigned ms;
    Lines journal;
  } steps[] = {
      {69, {}},
      {1, {"DTMF_DIAL,ts=2,freq1=1000,freq2=1000,level1=0,level2=0"}},
      {70, {"DTMF_DIAL,ts=2,freq1=941,freq2=1336,level1=16384,level2=16384"}},
      {70, {"DTMF_DIAL,ts=2,freq1=1000,freq2=1000,level1=0,level2=0"}},
      {69, {}},
      {1, {"DTMF_DIAL,ts=2,freq1=0,freq2=0,level1=0,level2=0"}},
  };
  for (auto& s : steps) {
    EXPECT_EQ(0, r.completes);
    Advance(s.ms);
    EXPECT_EQ(s.journal, Take()) << "after " << s.ms;
  }
  EXPECT_EQ(1, r.completes);
  EXPECT_FALSE(r.sending());

  // Negative durations are the defaults, not delays of years.
  ASSERT_TRUE(r.translateDTMF(String({{770, 1477}}, -5, 30, 100)));
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=2,freq1=770,freq2=1477,level1=100,level2=16384"));
  Advance(70);
  EXPECT_EQ(1u, Take().size());
  Advance(30);
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=2,freq1=0,freq2=0,level1=0,level2=0"));
  EXPECT_EQ(2, r.completes);

  ASSERT_TRUE(r.translateDTMF(String({})));
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=2,freq1=0,freq2=0,level1=0,level2=0"));
  EXPECT_EQ(3, r.completes);
}

TEST_F(Tonec, RingbackCyclesUntilCancelledAndTakesOverAString) {
  const std::string tone = "DTMF_DIAL,ts=6,freq1=425,freq2=0,level1=2048,level2=2048";
  const std::string silence = "DTMF_DIAL,ts=6,freq1=1000,freq2=1000,level1=0,level2=0";
  const std::string off = "DTMF_DIAL,ts=6,freq1=0,freq2=0,level1=0,level2=0";
  Receiver r(6);
  ASSERT_TRUE(r.activateAudibleCall());
  Advance(1000);
  Advance(2999);
  Advance(1);
  Advance(1000);
  EXPECT_THAT(Take(), ElementsAre(tone, silence, tone, silence));
  ASSERT_TRUE(r.cancelAudibleCall());
  Advance(10000);
  EXPECT_THAT(Take(), ElementsAre(off));

  // A ringback started during a string ends the string: it can be
  // cancelled, and the next string plays.
  ASSERT_TRUE(r.translateDTMF(String({{697, 1209}, {697, 1209}})));
  ASSERT_TRUE(r.activateAudibleCall());
  EXPECT_FALSE(r.sending());
  ASSERT_TRUE(r.cancelAudibleCall());
  Take();
  Advance(10000);
  EXPECT_THAT(Take(), IsEmpty());
  ASSERT_TRUE(r.translateDTMF(String({{852, 1633}})));
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=6,freq1=852,freq2=1633,level1=16384,level2=16384"));
  EXPECT_EQ(0, r.completes);
}

TEST_F(Tonec, DtmfAndIvaDetectorsKeepTheirOwnState) {
  {
    Receiver r(8);
    ASSERT_TRUE(r.enableIVA(true));
    ASSERT_TRUE(r.enableDTMF(true));
    ASSERT_TRUE(r.enableIVA(false));
    EXPECT_TRUE(r.detectorOn());
    ASSERT_TRUE(r.enableDTMFReject(true));
    r.CleanBeforeDestroy();
  }
  EXPECT_THAT(Take(), ElementsAre("IVA_DETECTOR_ENABLE,ts=8", "DTMF_ENABLE_DETECTOR,ts=8,id=N",
                                  "IVA_DETECTOR_DISABLE,ts=8", "DTMF_REJECTION_ENABLE,ts=8",
                                  "DTMF_DISABLE_DETECTOR,ts=8", "DTMF_REJECTION_DISABLE,ts=8"));
  EXPECT_THAT(Ask(kDev, "state 8"), HasSubstr("detector=off"));
}

TEST_F(Tonec, FailedRequestsChangeNothingAndBrokenReadsEndThePass) {
  Receiver r(5);
  Ask(kDev, "fail 5 1");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(r.enableDTMF(true));
  EXPECT_THAT(
      ::testing::internal::GetCapturedStderr(),
      ::testing::ContainsRegex(
          "^DTMF_ENABLE_DETECTOR fail: timeslot=5 id=[0-9]+ errno=\"Input/output error\"\n"));
  EXPECT_FALSE(r.detectorOn());
  EXPECT_FALSE(r.dtmfOn());
  ASSERT_TRUE(r.enableDTMF(true));
  const std::string id = std::to_string(r.detectorId());
  Push("short 10");
  Push("event 1 5 0 " + id);
  Push("empty");
  Push("event 2 5 0 " + id);
  EXPECT_THAT(Dispatch(), HasSubstr("short read from tonec: 10 bytes"));
  EXPECT_THAT(r.codes, IsEmpty());
  Dispatch();
  EXPECT_THAT(r.codes, ElementsAre(1u));
  Dispatch();
  EXPECT_THAT(r.codes, ElementsAre(1u, 2u));
}

// The service opens its device once; a fresh process shows the failed open
// and the retry by the configure requests.
TEST(TonecOpen, AFailedOpenIsRetriedOnlyByTheConfigureRequests) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        sim::Board::instance().Command("fail-open /dev/dtmf ENOENT");
        Receiver r(1);
        bool ok = !r.enableDTMF(true) && !TonecReceiverService::instance().isOpen();
        sim::Board::instance().Command("fail-open /dev/dtmf 0");
        ok = ok && !r.echoCancel(true) && !TonecReceiverService::instance().isOpen();
        ok = ok && r.configureDTMF(LGCP::DTMFParams()) && r.enableDTMF(true);
        std::cerr << (ok ? "retried" : "not retried") << std::endl;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0),
      "open tonec fail, DTMF proceeding disabled: No such file or directory(.|\n)*"
      "DTMF_ENABLE_DETECTOR fail: timeslot=1 id=1 errno=\"Bad file descriptor\"(.|\n)*retried");
}

}  // namespace
