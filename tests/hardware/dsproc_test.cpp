#include "hardware/dsproc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <functional>

#include "core/traces.h"
#include "receiver_testkit.h"

namespace {

using Hardware::DSProcReceiver;
using Hardware::DSProcReceiverService;
using receiver_testkit::Ask;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

const char kDev[] = "/dev/dsp";

struct Receiver : DSProcReceiver {
  explicit Receiver(uint32_t ts) : ts(ts) {}
  void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override {
    got.push_back("vad " + std::to_string(e.vad_rx) + " " + std::to_string(e.vad_tx));
  }
  void dsproc_bss_event(const ::dsproc_bss_event* e) override {
    got.push_back("bss " + std::to_string(e->score));
  }
  void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override {
    got.push_back("sd " + std::to_string(e.sd_rx));
  }
  void dsproc_tone_flt_event(const ::dsproc_tone_event* e) override {
    got.push_back("tone " + std::to_string(e->freq) + " " + std::to_string(e->presence));
  }
  void dsproc_flags_event(const ::dsproc_flags_event* e) override {
    got.push_back("flags " + std::to_string(e->flags) + " " + std::to_string(e->mask));
  }
  uint32_t dsproc_timeslot() const override { return ts; }
  uint32_t ts;
  Lines got;
};

Lines Take() {
  return receiver_testkit::Take(kDev);
}

void Push(const std::string& words) {
  ASSERT_THAT(Ask(kDev, words), HasSubstr("sent 1"));
}

std::string Dispatch() {
  DSProcReceiverService& s = DSProcReceiverService::instance();
  ::testing::internal::CaptureStderr();
  s.OnEvent(s.fd.get(), POLLIN);
  return ::testing::internal::GetCapturedStderr();
}

LGCP::VADParams V2(int voice, int silence, int level) {
  LGCP::VADParams p;
  TERM::VADParamsV2& v2 = p.select_v2();
  v2.set_voice_th_msec(voice);
  v2.set_silence_th_msec(silence);
  v2.set_e_th_dB(level);
  return p;
}

class Dsproc : public receiver_testkit::FrozenClock {
 protected:
  void SetUp() override {
    FrozenClock::SetUp();
    ASSERT_TRUE(DSProcReceiverService::instance().isOpen());
    Take();
  }
  void TearDown() override {
    traces.signalling_events = false;
    FrozenClock::TearDown();
  }
};

TEST_F(Dsproc, EachRequestReachesTheDriverAsItsRecord) {
  LGCP::VADParams v1;
  v1.select_v1();
  const struct {
    int version;
    std::function<bool(Receiver&)> op;
    Lines journal;
  } rows[] = {
      {1,
       [&](Receiver& r) { return r.configureVAD(V2(200, 300, -40)); },
       {"DSPROC_VERSION", "DSPROC_CONFIGURE,ts=9,VAD,3,127,0"}},
      {2,
       [](Receiver& r) { return r.configureVAD(V2(200, 300, -40)); },
       {"DSPROC_VERSION",
        "DSPROC_CONFIGURE,ts=9,VAD,voice_th_msec=200,silence_th_msec=300,e_th_dB=-40"}},
      {2, [&](Receiver& r) { return !r.configureVAD(v1); }, {"DSPROC_VERSION"}},
      {1, [](Receiver& r) { return r.configureSD(); }, {"DSPROC_CONFIGURE,ts=9,SD"}},
      {1,
       [](Receiver& r) { return r.configureDelays(1, 2, 3) && r.delaysSet(); },
       {"DSPROC_CONFIGURE,ts=9,DELAYS,rx=1,tx=2,selcal=3"}},
      {1,
       [](Receiver& r) { return r.configureRxGain(-6) && r.rxGainSet(); },
       {"DSPROC_CONFIGURE,ts=9,RX_GAIN,gain_dB=-6"}},
      {1,
       [](Receiver& r) { return r.configureToneFilter(2100, 1, 50, -30); },
       {"DSPROC_CONFIGURE,ts=9,TONE_FILTER,freq=2100,enable=1,dur_th_msec=50,det_lvl_dB=-30"}},
      {1, [](Receiver& r) { return r.enableVAD(true); }, {"DSPROC_ENABLE,ts=9,id=N,mask=0x1"}},
      {1, [](Receiver& r) { return r.enableVAD(true); }, {}},
      {1, [](Receiver& r) { return r.disableVAD(); }, {"DSPROC_DISABLE,ts=9,id=0,mask=0x1"}},
      {1, [](Receiver& r) { return r.enableBSS(true); }, {"DSPROC_ENABLE,ts=9,id=N,mask=0x10"}},
      {1, [](Receiver& r) { return r.enableNG(true); }, {"DSPROC_ENABLE,ts=9,id=N,mask=0x80"}},
      {1,
       [](Receiver& r) { return r.enableSelcalSh(true); },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x400"}},
      {1, [](Receiver& r) { return r.disableSD(); }, {"DSPROC_DISABLE,ts=9,id=0,mask=0x2"}},
      {1, [](Receiver& r) { return r.enableSD(true); }, {"DSPROC_ENABLE,ts=9,id=N,mask=0x2"}},
      {1,
       [](Receiver& r) { return r.enableMute(false, true); },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x8"}},
      {1, [](Receiver& r) { return r.enableMute(false, true); }, {}},
      {1, [](Receiver& r) { return r.disableMute(); }, {"DSPROC_DISABLE,ts=9,id=0,mask=0xc"}},
      {1, [](Receiver& r) { return r.disableToneAll(); }, {"DSPROC_DISABLE,ts=9,id=0,mask=0x100"}},
  };
  Receiver r(9);
  for (size_t i = 0; i < std::size(rows); ++i) {
    Ask(kDev, "version " + std::to_string(rows[i].version));
    EXPECT_TRUE(rows[i].op(r)) << "row " << i;
    EXPECT_EQ(rows[i].journal, Take()) << "row " << i;
  }
  EXPECT_EQ("state ts=9 mask=0x492", Ask(kDev, "state 9"));
  ::testing::internal::CaptureStderr();
  r.configureRxGain(-6);
  EXPECT_EQ("DSPROC_CONFIGURE RX GAIN ts=9 gain_dB=-6\n", ::testing::internal::GetCapturedStderr());
}

TEST_F(Dsproc, EventsGoToTheFirstReceiverOfTheirTimeslotByFunctionState) {
  traces.signalling_events = true;
  Receiver a(5), b(5), c(6);
  ASSERT_TRUE(a.enableVAD(true));
  ASSERT_TRUE(b.enableVAD(true));
  ASSERT_TRUE(c.enableSD(true));
  const std::string vad = std::to_string(a.vad().id), sd = std::to_string(c.sd().id);
  Push("event 5 " + vad + " 1 2 7 1");
  Push("event 5 " + std::to_string(b.vad().id) + " 1 3 4 5");
  Push("event 5 0 0x10 0.5 0 0");
  Push("event 6 " + sd + " 2 -1 0 0");
  Push("event 6 1 2 4 0 0");
  Push("event 6 0 0x100 2100 1 0");
  Push("event 6 0 0x200 0x60000000 0xE0000000 0");
  Push("event 6 0 0x400 1 2 3");
  Push("event 7 1 1 3 1 1");
  std::string log = Dispatch();
  EXPECT_THAT(a.got, ElementsAre("vad -1 1"));
  EXPECT_THAT(b.got, IsEmpty());
  EXPECT_THAT(c.got, ElementsAre("sd -1", "tone 2100 1", "flags 1610612736 3758096384"));
  EXPECT_THAT(log, HasSubstr("dsproc vad event:  dir_mask=2 vad_rx=7 vad_tx=1\n"));
  EXPECT_THAT(log, HasSubstr("ignore spurious dsproc vad event:  timeslot=5 id=" +
                             std::to_string(b.vad().id) + " type=1 rid=" + vad + "\n"));
  EXPECT_THAT(log, HasSubstr("ignore spurious dsproc bss event (dsproc disabled):  timeslot=5"));
  EXPECT_THAT(log, HasSubstr("dsproc flags event:  flags=60000000, mask=e0000000\n"));
  EXPECT_THAT(log, HasSubstr("receive dsproc event from unknown timeslot 7\n"));

  ASSERT_TRUE(a.enableBSS(true));
  ASSERT_TRUE(a.disableVAD());
  Push("event 5 99 0x10 0.25 0 0");
  Push("event 5 " + vad + " 1 3 4 5");
  EXPECT_THAT(Dispatch(), HasSubstr("ignore spurious dsproc vad event (dsproc disabled): "));
  EXPECT_THAT(a.got, ElementsAre("vad -1 1", "bss 0.250000"));
}

TEST_F(Dsproc, CleanUpSwitchesOffWhatWasOnInOrder) {
  {
    Receiver r(4);
    ASSERT_TRUE(r.enableSD(true));
    ASSERT_TRUE(r.enableNG(true));
    ASSERT_TRUE(r.enableVAD(true));
    ASSERT_TRUE(r.enableBSS(true));
    ASSERT_TRUE(r.configureDelays(0, 5, 0));
    ASSERT_TRUE(r.configureRxGain(3));
    Take();
    r.CleanBeforeDestroy();
  }
  EXPECT_THAT(Take(),
              ElementsAre("DSPROC_DISABLE,ts=4,id=0,mask=0x1", "DSPROC_DISABLE,ts=4,id=0,mask=0x10",
                          "DSPROC_DISABLE,ts=4,id=0,mask=0x80",
                          "DSPROC_CONFIGURE,ts=4,DELAYS,rx=0,tx=0,selcal=0",
                          "DSPROC_CONFIGURE,ts=4,RX_GAIN,gain_dB=0",
                          "DSPROC_DISABLE,ts=4,id=0,mask=0x100"));
}

TEST_F(Dsproc, FailedRequestsChangeNothingAndBrokenReadsEndThePass) {
  Receiver r(3);
  Ask(kDev, "fail 16 1");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(r.enableVAD(true));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              ::testing::ContainsRegex("^DSPROC_ENABLE VAD fail: timeslot=3 id=[0-9]+ "
                                       "errno=\"Device or resource busy\"\n"));
  EXPECT_EQ(-1, r.vad().state);
  ASSERT_TRUE(r.enableVAD(true));
  const std::string id = std::to_string(r.vad().id);
  Push("short 23");
  Push("event 3 " + id + " 1 1 1 0");
  Push("empty");
  Push("event 3 " + id + " 1 1 0 0");
  EXPECT_THAT(Dispatch(), HasSubstr("short read from dsproc: 23 bytes"));
  EXPECT_THAT(r.got, IsEmpty());
  Dispatch();
  Dispatch();
  EXPECT_THAT(r.got, ElementsAre("vad 1 -1", "vad 0 -1"));
}

TEST(DsprocOpen, AFailedOpenIsRetriedByTheConfigureRequests) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        sim::Board::instance().Command("fail-open /dev/dsp EACCES");
        Receiver r(1);
        bool ok = !r.enableVAD(true) && !r.disableToneAll();
        sim::Board::instance().Command("fail-open /dev/dsp 0");
        ok = ok && !r.enableVAD(true) && r.configureSD() && r.enableVAD(true);
        std::cerr << (ok ? "retried" : "not retried") << std::endl;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0),
      "open dsproc fail, VAD proceeding disabled: Permission denied(.|\n)*"
      "DSPROC_ENABLE VAD fail: timeslot=1 id=1 errno=\"Bad file descriptor\"(.|\n)*"
      "Disable All Tone fail: \\(interface not opened\\) timeslot=1(.|\n)*retried");
}

}  // namespace
