#include "hardware/tonec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <climits>
#include <functional>
#include <memory>

#include "receiver_testkit.h"

namespace {

using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;
using receiver_testkit::Ask;
using receiver_testkit::Logged;
using receiver_testkit::Streams;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const char kDev[] = "/dev/dtmf";

using Lines = std::vector<std::string>;

struct Receiver : TonecReceiver {
  explicit Receiver(unsigned ts) : ts(ts) {}
  void tonec_event(const Params& p) override {
    events.push_back(std::to_string(p.code) + "@" + std::to_string(p.timestamp));
  }
  unsigned tonec_timeslot() const override { return ts; }
  void tone_gen_complete() override { ++completes; }
  unsigned ts;
  Lines events;  // "code@timestamp"
  int completes = 0;
};

Lines Take() {
  return receiver_testkit::Take(kDev);
}

// The receiver's flags that are set, in a fixed order.
std::string Flags(const Receiver& r) {
  std::string out;
  const std::pair<bool, const char*> all[] = {{r.dtmfOn(), "dtmf"},
                                              {r.ivaOn(), "iva"},
                                              {r.dtmfRejectOn(), "reject"},
                                              {r.detectorOn(), "detector"},
                                              {r.sending(), "sending"}};
  for (auto& f : all)
    if (f.first) out += (out.empty() ? "" : " ") + std::string(f.second);
  return out;
}

void Push(const std::string& words) {
  ASSERT_THAT(Ask(kDev, words), HasSubstr("sent 1"));
}

// One pass of the service's handler and its lines, ids as they are.
Streams Dispatch() {
  TonecReceiverService& s = TonecReceiverService::instance();
  return Logged([&] { s.OnEvent(s.fd.get(), POLLIN); }, false);
}

// A DTMF string; an option left at kAbsent is not given.
constexpr int kAbsent = INT_MIN;
LGCP::TranslateDtmfParams String(std::vector<std::pair<int, int>> digits, int tone = kAbsent,
                                 int pause = kAbsent, int amp1 = kAbsent) {
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
    if (o.value == kAbsent) continue;
    p.includeOptionalField(o.optional, o.field);
    static_cast<ASN1::INTEGER&>(*p.getField(o.field)) = o.value;
  }
  return p;
}

// The keypad of ITU-T Q.23: a digit's row gives its low frequency, its
// column the high one.
TEST(Dtmf, EveryDigitHasItsKeypadPair) {
  const char* rows[] = {"123A", "456B", "789C", "*0#D"};
  const unsigned short low[] = {697, 770, 852, 941}, high[] = {1209, 1336, 1477, 1633};
  std::map<char, std::pair<unsigned short, unsigned short>> keypad;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) keypad[rows[r][c]] = {low[r], high[c]};
  EXPECT_EQ(keypad, Hardware::Dtmf::tonesValidator);
  EXPECT_STREQ("0123456789*#ABCD", Hardware::Dtmf::strRep);
}

class Tonec : public receiver_testkit::FrozenClock {
 protected:
  void SetUp() override {
    FrozenClock::SetUp();
    ASSERT_TRUE(TonecReceiverService::instance().isOpen());
    Take();
  }
};

// Each request as the driver sees it, its lines on each stream and the
// flags it leaves. A request that issues one is run first against a driver
// that refuses it (EIO): its failure line, and every flag as it was.
TEST_F(Tonec, EachRequestReachesTheDriverAsItsRecord) {
  LGCP::DTMFParams dtmf;
  dtmf.get_threshold().set_twist(1);
  dtmf.get_threshold().set_ratio(2);
  dtmf.get_threshold().set_noise(3);
  dtmf.get_level().set_silence(4);
  LGCP::IVAParams iva;
  iva.set_det_lvl_dB(-30);
  TERM::SelcalCommand selcal, shortSelcal, loud;
  selcal.set_signs("ABCDE");
  shortSelcal.set_signs("AB");
  loud.set_signs("WXYZ");
  loud.includeOptionalField(TERM::SelcalCommand::o_amp, TERM::SelcalCommand::f_amp);
  loud.set_amp(300);
  const struct {
    std::function<bool(Receiver&)> op;
    std::string journal, log, err, flags;
  } rows[] = {
      {[&](Receiver& r) { return r.configureDTMF(dtmf); },
       "DTMF_CONFIGURE_DETECTOR,ts=7,twist=1,ratio=2,silence=4,noise=3",
       "DTMF_CONFIGURE_DETECTOR ts=7 twist=1 ratio=2 noise=3 silence=4\n", "", ""},
      {[](Receiver& r) { return r.echoCancel(true); }, "CHANNEL_LMS_ON,ts=7",
       "CHANNEL_LMS_ON[7] ok\n", "", ""},
      {[](Receiver& r) { return r.echoCancel(false); }, "CHANNEL_LMS_OFF,ts=7",
       "CHANNEL_LMS_OFF[7] ok\n", "", ""},
      {[](Receiver& r) { return r.enableDTMFReject(true); }, "DTMF_REJECTION_ENABLE,ts=7",
       "DTMF_REJECTION_ENABLE[7] ok\n", "", "reject"},
      {[](Receiver& r) { return r.enableDTMFReject(false); }, "DTMF_REJECTION_DISABLE,ts=7",
       "DTMF_REJECTION_DISABLE[7] ok\n", "", ""},
      {[](Receiver& r) { return r.enableIVA(true); }, "IVA_DETECTOR_ENABLE,ts=7",
       "IVA_DETECTOR_ENABLE[7] ok\n", "", "iva detector"},
      {[](Receiver& r) { return r.enableIVA(false); }, "IVA_DETECTOR_DISABLE,ts=7",
       "IVA_DETECTOR_DISABLE[7] ok\n", "", ""},
      {[&](Receiver& r) { return r.configureIVA(iva); },
       "IVA_CONFIGURE_DETECTOR,ts=7,det_lvl_dB=-30", "IVA_CONFIGURE_DETECTOR ts=7 det_lvl_dB=-30\n",
       "", ""},
      {[](Receiver& r) { return r.enableToneGenerator(697, 1209, 100, 200); },
       "DTMF_DIAL,ts=7,freq1=697,freq2=1209,level1=100,level2=200", "", "", ""},
      {[](Receiver& r) { return r.enableSilence(); },
       "DTMF_DIAL,ts=7,freq1=1000,freq2=1000,level1=0,level2=0", "", "", ""},
      {[](Receiver& r) { return !r.disableToneGenerator(false); }, "", "", "", ""},
      {[](Receiver& r) { return r.disableToneGenerator(true); },
       "DTMF_DIAL,ts=7,freq1=0,freq2=0,level1=0,level2=0", "", "", ""},
      {[&](Receiver& r) { return r.translateSelcal(loud) == 0; },
       "SELCAL_DIAL,ts=7,amp=300,signs=WXYZ", "", "", ""},
      {[&](Receiver& r) { return r.translateSelcal(selcal) == 0; },
       "SELCAL_DIAL,ts=7,amp=12000,signs=ABCD", "", "", ""},
      {[&](Receiver& r) { return r.translateSelcal(shortSelcal) == -1; }, "", "",
       "SELCAL_DIAL fail: timeslot=7 incorect signs:AB\n", ""},
      {[](Receiver& r) { return r.enableDTMF(true); }, "DTMF_ENABLE_DETECTOR,ts=7,id=N", "",
       "DTMF_ENABLE_DETECTOR done: timeslot=7 id=N\n", "dtmf detector"},
      {[](Receiver& r) { return r.enableDTMF(true); }, "", "", "", "dtmf detector"},
      {[](Receiver& r) { return r.disableDTMF(); }, "DTMF_DISABLE_DETECTOR,ts=7", "",
       "DTMF_DISABLE_DETECTOR done: timeslot=7\n", ""},
  };
  Receiver r(7);
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& row = rows[i];
    const Lines journal = row.journal.empty() ? Lines() : Lines{row.journal};
    if (!journal.empty()) {
      const std::string flags = Flags(r), name = row.journal.substr(0, row.journal.find(','));
      const std::string failed = name + " fail: timeslot=7" +
                                 (name == "DTMF_ENABLE_DETECTOR" ? " id=N" : "") +
                                 " errno=\"Input/output error\"\n";
      Ask(kDev, "fail 5 1");
      bool ok = true;
      EXPECT_EQ((Streams{"", failed, ""}), Logged([&] { ok = row.op(r); })) << "row " << i;
      EXPECT_FALSE(ok) << "row " << i;
      EXPECT_EQ(Lines{row.journal + ",errno=5"}, Take()) << "row " << i;
      EXPECT_EQ(flags, Flags(r)) << "row " << i;
    }
    bool ok = false;
    EXPECT_EQ((Streams{"", row.err, row.log}), Logged([&] { ok = row.op(r); })) << "row " << i;
    EXPECT_TRUE(ok) << "row " << i;
    EXPECT_EQ(journal, Take()) << "row " << i;
    EXPECT_EQ(row.flags, Flags(r)) << "row " << i;
  }
  EXPECT_EQ(
      "state ts=7 detector=off id=N generator=off lms=off rejection=off iva=off "
      "iva_level=-30 configure=1/2/4/3 selcal=12000/ABCD",
      receiver_testkit::MaskIds(Ask(kDev, "state 7")));
  // Ids count up from 1 and skip 0 on wrap-around.
  EXPECT_EQ(1u, TonecReceiverService::NextId(0));
  EXPECT_EQ(42u, TonecReceiverService::NextId(41));
  EXPECT_EQ(1u, TonecReceiverService::NextId(UINT_MAX));
}

TEST_F(Tonec, EventsGoToTheFirstReceiverOfTheirTimeslotWithTheCurrentId) {
  Receiver a(3), b(3), c(4);
  ASSERT_TRUE(a.enableDTMF(true));
  ASSERT_TRUE(b.enableDTMF(true));
  const std::string id = std::to_string(a.detectorId()), bid = std::to_string(b.detectorId());
  ASSERT_NE(id, bid);
  Push("event 11 3 1000 " + id);
  Push("event 12 3 1001 " + bid);
  Push("event 13 9 1002 1");
  Push("event 14 4 1003 0");
  EXPECT_EQ((Streams{"", "receive tonec event from unknown timeslot 9\n",
                     "dtmf event:  timestamp=1000 timeslot=3 code=11 id=" + id + "\n" +
                         "dtmf event:  timestamp=1001 timeslot=3 code=12 id=" + bid + "\n" +
                         "ignore spurious dtmf event:  timestamp=1001 timeslot=3 code=12 id=" +
                         bid + " rid=" + id + "\n" +
                         "dtmf event:  timestamp=1002 timeslot=9 code=13 id=1\n"
                         "dtmf event:  timestamp=1003 timeslot=4 code=14 id=0\n"
                         "ignore spurious dtmf event (DTMF disabled):  timestamp=1003 "
                         "timeslot=4 code=14 id=0\n"}),
            Dispatch());
  EXPECT_THAT(a.events, ElementsAre("11@1000"));
  EXPECT_THAT(b.events, IsEmpty());
  EXPECT_THAT(c.events, IsEmpty());
  ASSERT_TRUE(a.disableDTMF());
  Push("event 15 3 1004 " + id);
  EXPECT_EQ((Streams{"", "",
                     "dtmf event:  timestamp=1004 timeslot=3 code=15 id=" + id + "\n" +
                         "ignore spurious dtmf event (DTMF disabled):  timestamp=1004 "
                         "timeslot=3 code=15 id=" +
                         id + "\n"}),
            Dispatch());
  EXPECT_THAT(a.events, ElementsAre("11@1000"));
  // Without POLLIN the queued record stays unread.
  Push("event 16 3 1005 " + id);
  TonecReceiverService& s = TonecReceiverService::instance();
  EXPECT_EQ(Streams(), Logged([&] { s.OnEvent(s.fd.get(), POLLOUT | POLLERR); }));
  // An id of an earlier switch-on is stale.
  ASSERT_TRUE(a.enableDTMF(true));
  const std::string id2 = std::to_string(a.detectorId());
  EXPECT_EQ((Streams{"", "",
                     "dtmf event:  timestamp=1005 timeslot=3 code=16 id=" + id + "\n" +
                         "ignore spurious dtmf event:  timestamp=1005 timeslot=3 code=16 id=" + id +
                         " rid=" + id2 + "\n"}),
            Dispatch());
  EXPECT_THAT(a.events, ElementsAre("11@1000"));
  // A receiver destroyed leaves the list: the next one of its timeslot hears
  // the timeslot, and once that one is gone too, nobody does.
  {
    std::unique_ptr<Receiver> gone(new Receiver(5));
    Receiver next(5);
    ASSERT_TRUE(next.enableDTMF(true));
    gone.reset();
    Push("event 17 5 1006 " + std::to_string(next.detectorId()));
    Dispatch();
    EXPECT_THAT(next.events, ElementsAre("17@1006"));
  }
  Push("event 18 5 1007 1");
  EXPECT_EQ("receive tonec event from unknown timeslot 5\n", Dispatch().err);
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

  // A zero duration is no wait; one longer than the loop allows a timer is
  // cut to 7200000 ms.
  ASSERT_TRUE(r.translateDTMF(String({{770, 1477}}, 0, 2000000000)));
  Advance(0);
  EXPECT_EQ(2u, Take().size());
  Advance(7199999);
  EXPECT_THAT(Take(), IsEmpty());
  Advance(1);
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=2,freq1=0,freq2=0,level1=0,level2=0"));

  ASSERT_TRUE(r.translateDTMF(String({})));
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=2,freq1=0,freq2=0,level1=0,level2=0"));
  EXPECT_EQ(4, r.completes);

  // A string given while one plays replaces the digits still to come; the
  // ringback cannot be cancelled under it; an unforced stop ends it,
  // unfinished.
  ASSERT_TRUE(r.translateDTMF(String({{697, 1209}, {697, 1209}})));
  ASSERT_TRUE(r.translateDTMF(String({{852, 1477}})));
  ASSERT_TRUE(r.cancelAudibleCall());
  EXPECT_TRUE(r.sending());
  Advance(70);
  Advance(70);
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=2,freq1=697,freq2=1209,level1=16384,level2=16384",
                                  "DTMF_DIAL,ts=2,freq1=1000,freq2=1000,level1=0,level2=0",
                                  "DTMF_DIAL,ts=2,freq1=852,freq2=1477,level1=16384,level2=16384"));
  ASSERT_TRUE(r.disableToneGenerator(false));
  EXPECT_FALSE(r.sending());
  Advance(1000);
  EXPECT_THAT(Take(), ElementsAre("DTMF_DIAL,ts=2,freq1=0,freq2=0,level1=0,level2=0"));
  EXPECT_EQ(4, r.completes);
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

// A slot cleaned up while its generator plays: the tone stops with it,
// nothing sounds later, and the string is not reported complete.
TEST_F(Tonec, CleanUpSilencesARingbackOrAStringStillPlaying) {
  const std::string ringback = "DTMF_DIAL,ts=4,freq1=425,freq2=0,level1=2048,level2=2048";
  const std::string digit = "DTMF_DIAL,ts=4,freq1=697,freq2=1209,level1=16384,level2=16384";
  const std::string silence = "DTMF_DIAL,ts=4,freq1=1000,freq2=1000,level1=0,level2=0";
  const std::function<bool(Receiver&)> ring = [](Receiver& r) { return r.activateAudibleCall(); };
  const std::function<bool(Receiver&)> dial = [](Receiver& r) {
    return r.translateDTMF(String({{697, 1209}, {697, 1209}}));
  };
  const struct {
    std::function<bool(Receiver&)> start;
    unsigned ms;
    Lines played;
    std::string generator;
  } rows[] = {
      {ring, 999, {ringback}, "425/0/2048/2048"},
      {ring, 1000, {ringback, silence}, "1000/1000/0/0"},
      {dial, 69, {digit}, "697/1209/16384/16384"},
      {dial, 70, {digit, silence}, "1000/1000/0/0"},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    Receiver r(4);
    ASSERT_TRUE(rows[i].start(r));
    Advance(rows[i].ms);
    EXPECT_EQ(rows[i].played, Take()) << "row " << i;
    EXPECT_THAT(Ask(kDev, "state 4"), HasSubstr(" generator=" + rows[i].generator + " "));
    EXPECT_EQ(Streams(), Logged([&] { r.CleanBeforeDestroy(); })) << "row " << i;
    EXPECT_EQ(Lines{"DTMF_DIAL,ts=4,freq1=0,freq2=0,level1=0,level2=0"}, Take()) << "row " << i;
    EXPECT_THAT(Ask(kDev, "state 4"), HasSubstr(" generator=off ")) << "row " << i;
    EXPECT_EQ("", Flags(r)) << "row " << i;
    Advance(10000);
    EXPECT_THAT(Take(), IsEmpty()) << "row " << i;
    EXPECT_EQ(0, r.completes) << "row " << i;
  }
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
  EXPECT_EQ(
      (Streams{"", "DTMF_ENABLE_DETECTOR fail: timeslot=5 id=N errno=\"Input/output error\"\n",
               ""}),
      Logged([&] { EXPECT_FALSE(r.enableDTMF(true)); }));
  EXPECT_FALSE(r.detectorOn());
  EXPECT_FALSE(r.dtmfOn());
  ASSERT_TRUE(r.enableDTMF(true));
  const std::string id = std::to_string(r.detectorId());
  const std::string event = "dtmf event:  timestamp=0 timeslot=5 code=";
  Push("short 10");
  Push("event 1 5 0 " + id);
  Push("empty");
  Push("event 2 5 0 " + id);
  EXPECT_EQ((Streams{"", "short read from tonec: 10 bytes\n", ""}), Dispatch());
  EXPECT_THAT(r.events, IsEmpty());
  EXPECT_EQ((Streams{"", "short read from tonec: 0 bytes\n", event + "1 id=" + id + "\n"}),
            Dispatch());
  EXPECT_THAT(r.events, ElementsAre("1@0"));
  ASSERT_EQ("ok\n", sim::Board::instance().Command("fail-read /dev/dtmf EIO 1"));
  EXPECT_EQ((Streams{"", "fail to read from tonec: Input/output error\n", ""}), Dispatch());
  EXPECT_EQ((Streams{"", "", event + "2 id=" + id + "\n"}), Dispatch());
  EXPECT_THAT(r.events, ElementsAre("1@0", "2@0"));
}

// The service opens its device once; a fresh process shows the failed open,
// the retry by the configure requests only, how the device is opened and
// polled, and that no descriptor is left behind.
TEST(TonecOpen, AFailedOpenIsRetriedOnlyByTheConfigureRequests) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        sim::Board& board = sim::Board::instance();
        hwtest::Capture log(std::clog);
        board.Command("fail-open /dev/dtmf ENOENT");
        TonecReceiverService& service = TonecReceiverService::instance();
        Receiver r(1);
        LGCP::IVAParams iva;
        bool ok = !r.enableDTMF(true) && !r.configureDTMF(LGCP::DTMFParams()) &&
                  !r.configureIVA(iva) && !service.isOpen() && board.OpenCount(kDev) == 0;
        board.Command("fail-open /dev/dtmf 0");
        ok = ok && !r.echoCancel(true) && !service.isOpen();
        ok = ok && r.configureIVA(iva) && r.configureDTMF(LGCP::DTMFParams()) && r.enableDTMF(true);
        std::cerr << (ok ? "retried" : "not retried") << "; opens";
        for (auto& how : board.Opens(kDev)) std::cerr << " " << how;
        std::cerr << "; open " << board.OpenCount(kDev) << "; "
                  << receiver_testkit::PollRow("TonecReceiverService::OnEvent") << "; log "
                  << log.Take() << std::flush;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0),
      "^open tonec fail, DTMF proceeding disabled: No such file or directory\n"
      "DTMF_ENABLE_DETECTOR fail: timeslot=1 id=1 errno=\"Bad file descriptor\"\n"
      "open tonec fail, DTMF proceeding disabled: No such file or directory\n"
      "configure DTMF fail: \\(interface not opened\\) timeslot=1\n"
      "open tonec fail, DTMF proceeding disabled: No such file or directory\n"
      "configure IVA fail: \\(interface not opened\\) timeslot=1\n"
      "CHANNEL_LMS_ON fail: timeslot=1 errno=\"Bad file descriptor\"\n"
      "DTMF_ENABLE_DETECTOR done: timeslot=1 id=2\n"
      "retried; opens O_RDONLY\\|O_NONBLOCK\\|O_CLOEXEC; open 1; "
      "TonecReceiverService::OnEvent POLLIN attached; log "
      "IVA_CONFIGURE_DETECTOR ts=1 det_lvl_dB=0\n"
      "DTMF_CONFIGURE_DETECTOR ts=1 twist=0 ratio=0 noise=0 silence=0\n$");
}

}  // namespace
