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
using receiver_testkit::Logged;
using receiver_testkit::Streams;
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

// The switch states of the receiver.
std::string States(const Receiver& r) {
  std::string out = "vad " + std::to_string(r.vad().state);
  const std::pair<const char*, const DSProcReceiver::Function*> all[] = {
      {"bss", &r.bss()}, {"ng", &r.ng()}, {"selcalSh", &r.selcalSh()}, {"sd", &r.sd()}};
  for (auto& f : all) out += std::string(" ") + f.first + " " + std::to_string(f.second->state);
  return out + " mute " + std::to_string(r.muteRx()) + "/" + std::to_string(r.muteTx());
}

// The ids the receiver keeps, as they are.
std::string Ids(const Receiver& r) {
  return std::to_string(r.vad().id) + " " + std::to_string(r.bss().id) + " " +
         std::to_string(r.ng().id) + " " + std::to_string(r.selcalSh().id) + " " +
         std::to_string(r.sd().id) + " " + std::to_string(r.muteId());
}

void Push(const std::string& words) {
  ASSERT_THAT(Ask(kDev, words), HasSubstr("sent 1"));
}

// One pass of the service's handler and its lines, ids as they are.
Streams Dispatch() {
  DSProcReceiverService& s = DSProcReceiverService::instance();
  return Logged([&] { s.OnEvent(s.fd.get(), POLLIN); }, false);
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

// Each request as the driver sees it and its lines on each stream. A row
// with a failure line is run first against a driver that refuses each of
// its requests (EBUSY): that line, and the receiver's states as they were.
// A driver's positive result is a success.
TEST_F(Dsproc, EachRequestReachesTheDriverAsItsRecord) {
  LGCP::VADParams v1;
  v1.select_v1();
  auto version2 = [] { Ask(kDev, "version 2"); };
  const struct {
    std::function<bool(Receiver&)> op;
    Lines journal;
    std::string log, err, failed;
  } rows[] = {
      {[&](Receiver& r) { return r.configureVAD(V2(200, 300, -40)); },
       {"DSPROC_VERSION", "DSPROC_CONFIGURE,ts=9,VAD,3,127,0"},
       "DSPROC_CONFIGURE VAD ts=9\n",
       "",
       "DSPROC_CONFIGURE VAD fail: timeslot=9"},
      {[&](Receiver& r) { return version2(), r.configureVAD(V2(200, 300, -40)); },
       {"DSPROC_VERSION",
        "DSPROC_CONFIGURE,ts=9,VAD,voice_th_msec=200,silence_th_msec=300,e_th_dB=-40"},
       "DSPROC_CONFIGURE VAD ts=9\n",
       "",
       ""},
      {[&](Receiver& r) { return version2(), !r.configureVAD(v1); },
       {"DSPROC_VERSION"},
       "",
       "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=9\n",
       ""},
      {[](Receiver& r) { return r.configureSD(); },
       {"DSPROC_CONFIGURE,ts=9,SD"},
       "DSPROC_CONFIGURE SD ts=9\n",
       "",
       "DSPROC_CONFIGURE SD fail: timeslot=9"},
      {[](Receiver& r) { return Ask(kDev, "result 1 1"), r.configureSD(); },
       {"DSPROC_CONFIGURE,ts=9,SD,result=1"},
       "DSPROC_CONFIGURE SD ts=9\n",
       "",
       ""},
      {[](Receiver& r) { return r.configureDelays(1, 2, 3) && r.delaysSet(); },
       {"DSPROC_CONFIGURE,ts=9,DELAYS,rx=1,tx=2,selcal=3"},
       "DSPROC_CONFIGURE DELAYS ts=9 rx=1 tx=2 selcal=3\n",
       "",
       "DSPROC_CONFIGURE DELAYS fail: timeslot=9"},
      {[](Receiver& r) {
         return Ask(kDev, "result 3 1"), r.configureDelays(0, 0, 0) && !r.delaysSet();
       },
       {"DSPROC_CONFIGURE,ts=9,DELAYS,rx=0,tx=0,selcal=0,result=3"},
       "DSPROC_CONFIGURE DELAYS ts=9 rx=0 tx=0 selcal=0\n",
       "",
       ""},
      {[](Receiver& r) { return r.configureRxGain(-6) && r.rxGainSet(); },
       {"DSPROC_CONFIGURE,ts=9,RX_GAIN,gain_dB=-6"},
       "DSPROC_CONFIGURE RX GAIN ts=9 gain_dB=-6\n",
       "",
       "DSPROC_CONFIGURE Rx Gain fail: timeslot=9"},
      {[](Receiver& r) { return r.configureToneFilter(2100, 1, 50, -30); },
       {"DSPROC_CONFIGURE,ts=9,TONE_FILTER,freq=2100,enable=1,dur_th_msec=50,det_lvl_dB=-30"},
       "DSPROC_CONFIGURE TONE FILTER ts=9 freq=2100, en=1, dur_th_msec=50, det_lvl_dB=-30\n",
       "",
       "DSPROC_CONFIGURE Tone Filter fail: timeslot=9"},
      {[](Receiver& r) { return r.enableVAD(true); },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x1"},
       "",
       "DSPROC_ENABLE VAD done: timeslot=9 id=N\n",
       "DSPROC_ENABLE VAD fail: timeslot=9 id=N"},
      {[](Receiver& r) { return r.enableVAD(true); }, {}, "", "", ""},
      {[](Receiver& r) { return r.disableVAD(); },
       {"DSPROC_DISABLE,ts=9,id=0,mask=0x1"},
       "",
       "DSPROC_DISABLE VAD done: timeslot=9\n",
       "DSPROC_DISABLE VAD fail: timeslot=9"},
      {[](Receiver& r) { return r.enableBSS(true); },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x10"},
       "",
       "DSPROC_ENABLE BSS done: timeslot=9 id=N\n",
       "DSPROC_ENABLE BSS fail: timeslot=9 id=N"},
      {[](Receiver& r) { return Ask(kDev, "result 2 1"), r.disableBSS(); },
       {"DSPROC_DISABLE,ts=9,id=0,mask=0x10,result=2"},
       "",
       "DSPROC_DISABLE BSS done: timeslot=9\n",
       ""},
      {[](Receiver& r) { return Ask(kDev, "result 4 1"), r.enableBSS(true); },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x10,result=4"},
       "",
       "DSPROC_ENABLE BSS done: timeslot=9 id=N\n",
       ""},
      {[](Receiver& r) { return r.enableNG(true); },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x80"},
       "",
       "DSPROC_ENABLE NG done: timeslot=9 id=N\n",
       "DSPROC_ENABLE NG fail: timeslot=9 id=N"},
      {[](Receiver& r) { return r.enableSelcalSh(true); },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x400"},
       "",
       "DSPROC_ENABLE SELCAL_SH done: timeslot=9 id=N\n",
       "DSPROC_ENABLE SELCAL_SH fail: timeslot=9 id=N"},
      {[](Receiver& r) { return r.disableSD(); },
       {"DSPROC_DISABLE,ts=9,id=0,mask=0x2"},
       "",
       "DSPROC_DISABLE SD done: timeslot=9\n",
       "DSPROC_DISABLE SD fail: timeslot=9"},
      {[](Receiver& r) { return r.enableSD(true); },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x2"},
       "",
       "DSPROC_ENABLE SD done: timeslot=9 id=N\n",
       "DSPROC_ENABLE SD fail: timeslot=9 id=N"},
      {[](Receiver& r) { return r.enableMute(false, true) && r.muteId() == r.sd().id + 2; },
       {"DSPROC_ENABLE,ts=9,id=N,mask=0x8"},
       "",
       "DSPROC_ENABLE MUTE done: timeslot=9 id=N\n",
       "DSPROC_ENABLE MUTE fail: timeslot=9 id=N"},
      {[](Receiver& r) { return r.enableMute(false, true); }, {}, "", "", ""},
      {[](Receiver& r) { return r.disableMute(); },
       {"DSPROC_DISABLE,ts=9,id=0,mask=0xc"},
       "",
       "DSPROC_DISABLE MUTE done: timeslot=9\n",
       "DSPROC_DISABLE MUTE fail: timeslot=9"},
      {[](Receiver& r) { return r.disableToneAll(); },
       {"DSPROC_DISABLE,ts=9,id=0,mask=0x100"},
       "DISABLE ALL TONE done:  ts=9\n",
       "",
       "Disable All Tone fail: timeslot=9"},
  };
  Receiver r(9);
  EXPECT_EQ("vad -1 bss 0 ng 0 selcalSh 0 sd -1 mute -1/-1 ids 0 0 0 0 0 0",
            States(r) + " ids " + Ids(r));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& row = rows[i];
    Ask(kDev, "version 1");
    if (!row.failed.empty()) {
      const std::string before = States(r) + " ids " + Ids(r);
      Ask(kDev, "fail 16 " + std::to_string(row.journal.size()));
      bool ok = true;
      EXPECT_EQ((Streams{"", row.failed + " errno=\"Device or resource busy\"\n", ""}),
                Logged([&] { ok = row.op(r); }))
          << "row " << i;
      EXPECT_FALSE(ok) << "row " << i;
      Lines failed = row.journal;
      for (auto& line : failed) line += ",errno=16";
      EXPECT_EQ(failed, Take()) << "row " << i;
      EXPECT_EQ(before, States(r) + " ids " + Ids(r)) << "row " << i;
    }
    bool ok = false;
    EXPECT_EQ((Streams{"", row.err, row.log}), Logged([&] { ok = row.op(r); })) << "row " << i;
    EXPECT_TRUE(ok) << "row " << i;
    EXPECT_EQ(row.journal, Take()) << "row " << i;
  }
  EXPECT_EQ("state ts=9 mask=0x492", Ask(kDev, "state 9"));
  EXPECT_EQ("vad 0 bss 1 ng 1 selcalSh 1 sd 1 mute 0/0", States(r));
  // Ids count up from 1 and skip 0 on wrap-around.
  EXPECT_EQ(1u, DSProcReceiverService::NextId(0));
  EXPECT_EQ(42u, DSProcReceiverService::NextId(41));
  EXPECT_EQ(1u, DSProcReceiverService::NextId(UINT32_MAX));
}

TEST_F(Dsproc, EventsGoToTheFirstReceiverOfTheirTimeslotByFunctionState) {
  traces.signalling_events = true;
  Receiver a(5), b(5), c(6);
  ASSERT_TRUE(a.enableVAD(true));
  ASSERT_TRUE(b.enableVAD(true));
  ASSERT_TRUE(c.enableSD(true));
  const std::string vad = std::to_string(a.vad().id), bvad = std::to_string(b.vad().id),
                    sd = std::to_string(c.sd().id);
  ASSERT_NE("1", sd);
  Push("event 5 " + vad + " 1 2 7 1");
  Push("event 5 " + bvad + " 1 3 4 5");
  Push("event 5 0 0x10 0.5 0 0");
  Push("event 6 " + sd + " 2 -1 0 0");
  Push("event 6 1 2 4 0 0");
  Push("event 6 0 0x100 2100 1 0");
  Push("event 6 0 0x200 0x60000000 0xE0000000 0");
  Push("event 6 0 0x400 1 2 3");
  Push("event 7 1 1 3 1 1");
  EXPECT_EQ((Streams{"", "receive dsproc event from unknown timeslot 7\n",
                     "dsproc event:  timeslot=5 id=" + vad + " type=1\n" +
                         "dsproc vad event:  dir_mask=2 vad_rx=7 vad_tx=1\n"
                         "dsproc event:  timeslot=5 id=" +
                         bvad + " type=1\n" +
                         "dsproc vad event:  dir_mask=3 vad_rx=4 vad_tx=5\n"
                         "ignore spurious dsproc vad event:  timeslot=5 id=" +
                         bvad + " type=1 rid=" + vad + "\n" +
                         "dsproc event:  timeslot=5 id=0 type=16\n"
                         "dsproc bss event:  score=0.5\n"
                         "ignore spurious dsproc bss event (dsproc disabled):  timeslot=5 id=0 "
                         "type=16\n"
                         "dsproc event:  timeslot=6 id=" +
                         sd + " type=2\n" +
                         "dsproc sd event:  sd_rx=-1\n"
                         "dsproc event:  timeslot=6 id=1 type=2\n"
                         "dsproc sd event:  sd_rx=4\n"
                         "dsproc event:  timeslot=6 id=0 type=256\n"
                         "dsproc event:  timeslot=6 id=0 type=512\n"
                         "dsproc flags event:  flags=60000000, mask=e0000000\n"
                         "dsproc event:  timeslot=6 id=0 type=1024\n"
                         "dsproc event:  timeslot=7 id=1 type=1\n"
                         "dsproc vad event:  dir_mask=3 vad_rx=1 vad_tx=1\n"}),
            Dispatch());
  EXPECT_THAT(a.got, ElementsAre("vad -1 1"));
  EXPECT_THAT(b.got, IsEmpty());
  EXPECT_THAT(c.got, ElementsAre("sd -1", "tone 2100 1", "flags 1610612736 3758096384"));

  ASSERT_TRUE(a.enableBSS(true));
  ASSERT_TRUE(a.disableVAD());
  Push("event 5 99 0x10 0.25 0 0");
  Push("event 5 " + vad + " 1 3 4 5");
  EXPECT_EQ((Streams{"", "",
                     "dsproc event:  timeslot=5 id=99 type=16\n"
                     "dsproc bss event:  score=0.25\n"
                     "dsproc event:  timeslot=5 id=" +
                         vad + " type=1\n" +
                         "dsproc vad event:  dir_mask=3 vad_rx=4 vad_tx=5\n"
                         "ignore spurious dsproc vad event (dsproc disabled):  timeslot=5 id=" +
                         vad + " type=1\n"}),
            Dispatch());
  EXPECT_THAT(a.got, ElementsAre("vad -1 1", "bss 0.250000"));

  // Without the trace switch nothing is written, dropped or not; SD
  // switched off drops its records; without POLLIN nothing is read.
  traces.signalling_events = false;
  ASSERT_TRUE(c.disableSD());
  Push("event 6 " + sd + " 2 9 0 0");
  Push("event 7 1 1 3 1 1");
  Push("event 5 " + vad + " 1 3 4 5");
  DSProcReceiverService& s = DSProcReceiverService::instance();
  EXPECT_EQ(Streams(), Logged([&] { s.OnEvent(s.fd.get(), POLLOUT | POLLERR); }));
  Push("event 5 1 0x10 0.75 0 0");
  EXPECT_EQ(Streams(), Dispatch());
  EXPECT_THAT(a.got, ElementsAre("vad -1 1", "bss 0.250000", "bss 0.750000"));
  EXPECT_THAT(c.got, ElementsAre("sd -1", "tone 2100 1", "flags 1610612736 3758096384"));
}

TEST_F(Dsproc, CleanUpSwitchesOffWhatWasOnInOrder) {
  const struct {
    std::function<void(Receiver&)> setUp;
    Lines journal;
    std::string log, err;
  } rows[] = {
      {[](Receiver& r) {
         ASSERT_TRUE(r.enableSD(true));
         ASSERT_TRUE(r.enableNG(true));
         ASSERT_TRUE(r.enableSelcalSh(true));
         ASSERT_TRUE(r.enableVAD(true));
         ASSERT_TRUE(r.enableBSS(true));
         ASSERT_TRUE(r.enableMute(true, false));
         ASSERT_TRUE(r.configureDelays(0, 5, 0));
         ASSERT_TRUE(r.configureRxGain(3));
       },
       {"DSPROC_DISABLE,ts=4,id=0,mask=0x1", "DSPROC_DISABLE,ts=4,id=0,mask=0x10",
        "DSPROC_DISABLE,ts=4,id=0,mask=0x80", "DSPROC_DISABLE,ts=4,id=0,mask=0x400",
        "DSPROC_CONFIGURE,ts=4,DELAYS,rx=0,tx=0,selcal=0",
        "DSPROC_CONFIGURE,ts=4,RX_GAIN,gain_dB=0", "DSPROC_DISABLE,ts=4,id=0,mask=0x100"},
       "DSPROC_CONFIGURE DELAYS ts=4 rx=0 tx=0 selcal=0\n"
       "DSPROC_CONFIGURE RX GAIN ts=4 gain_dB=0\n"
       "DISABLE ALL TONE done:  ts=4\n",
       "DSPROC_DISABLE VAD done: timeslot=4\n"
       "DSPROC_DISABLE BSS done: timeslot=4\n"
       "DSPROC_DISABLE NG done: timeslot=4\n"
       "DSPROC_DISABLE SELCAL_SH done: timeslot=4\n"},
      // Nothing on, or switched off again, or cleared again: only the tone filters.
      {[](Receiver&) {},
       {"DSPROC_DISABLE,ts=4,id=0,mask=0x100"},
       "DISABLE ALL TONE done:  ts=4\n",
       ""},
      {[](Receiver& r) {
         ASSERT_TRUE(r.enableVAD(true));
         ASSERT_TRUE(r.disableVAD());
         ASSERT_TRUE(r.configureDelays(1, 1, 1));
         ASSERT_TRUE(r.configureDelays(0, 0, 0));
         ASSERT_TRUE(r.configureRxGain(0));
       },
       {"DSPROC_DISABLE,ts=4,id=0,mask=0x100"},
       "DISABLE ALL TONE done:  ts=4\n",
       ""},

      // Delays and gain refused by the driver are cleared all the same.
      {[](Receiver& r) {
         Ask(kDev, "fail 16 2");
         EXPECT_FALSE(r.configureDelays(0, 0, 1));
         EXPECT_FALSE(r.configureRxGain(-1));
       },
       {"DSPROC_CONFIGURE,ts=4,DELAYS,rx=0,tx=0,selcal=0",
        "DSPROC_CONFIGURE,ts=4,RX_GAIN,gain_dB=0", "DSPROC_DISABLE,ts=4,id=0,mask=0x100"},
       "DSPROC_CONFIGURE DELAYS ts=4 rx=0 tx=0 selcal=0\n"
       "DSPROC_CONFIGURE RX GAIN ts=4 gain_dB=0\n"
       "DISABLE ALL TONE done:  ts=4\n",
       ""},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    Receiver r(4);
    rows[i].setUp(r);
    Take();
    EXPECT_EQ((Streams{"", rows[i].err, rows[i].log}), Logged([&] { r.CleanBeforeDestroy(); }))
        << "row " << i;
    EXPECT_EQ(rows[i].journal, Take()) << "row " << i;
  }
}

TEST_F(Dsproc, FailedRequestsChangeNothingAndBrokenReadsEndThePass) {
  Receiver r(3);
  Ask(kDev, "fail 16 1");
  EXPECT_EQ(
      (Streams{"", "DSPROC_ENABLE VAD fail: timeslot=3 id=N errno=\"Device or resource busy\"\n",
               ""}),
      Logged([&] { EXPECT_FALSE(r.enableVAD(true)); }));
  EXPECT_EQ(-1, r.vad().state);
  ASSERT_TRUE(r.enableVAD(true));
  const std::string id = std::to_string(r.vad().id);
  Push("short 23");
  Push("event 3 " + id + " 1 1 1 0");
  Push("empty");
  Push("event 3 " + id + " 1 1 0 0");
  EXPECT_EQ((Streams{"", "short read from dsproc: 23 bytes\n", ""}), Dispatch());
  EXPECT_THAT(r.got, IsEmpty());
  EXPECT_EQ((Streams{"", "short read from dsproc: 0 bytes\n", ""}), Dispatch());
  EXPECT_THAT(r.got, ElementsAre("vad 1 -1"));
  ASSERT_EQ("ok\n", sim::Board::instance().Command("fail-read /dev/dsp EIO 1"));
  EXPECT_EQ((Streams{"", "fail to read from dsproc: Input/output error\n", ""}), Dispatch());
  EXPECT_EQ(Streams(), Dispatch());
  EXPECT_THAT(r.got, ElementsAre("vad 1 -1", "vad 0 -1"));
}

// The service opens its device once; a fresh process shows the failed open,
// the retry by the configure requests and disableToneAll only, how the
// device is opened and polled, and that no descriptor is left behind.
TEST(DsprocOpen, AFailedOpenIsRetriedByTheConfigureRequests) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        sim::Board& board = sim::Board::instance();
        hwtest::Capture log(std::clog);
        board.Command("fail-open /dev/dsp EACCES");
        DSProcReceiverService& service = DSProcReceiverService::instance();
        Receiver r(1);
        bool ok = !r.enableVAD(true) && !r.disableToneAll() && !r.configureVAD(V2(1, 2, 3)) &&
                  !r.configureSD() && !r.configureDelays(1, 2, 3) && !r.configureRxGain(4) &&
                  !r.configureToneFilter(5, 1, 6, 7) && !service.isOpen() &&
                  board.OpenCount(kDev) == 0;
        board.Command("fail-open /dev/dsp 0");
        ok = ok && !r.enableVAD(true) && !service.isOpen();
        ok = ok && r.configureSD() && r.enableVAD(true) && r.configureRxGain(0) &&
             r.disableToneAll();
        std::cerr << (ok ? "retried" : "not retried") << "; opens";
        for (auto& how : board.Opens(kDev)) std::cerr << " " << how;
        std::cerr << "; open " << board.OpenCount(kDev) << "; "
                  << receiver_testkit::PollRow("DSProcReceiverService::OnEvent") << "; log "
                  << log.Take() << std::flush;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0),
      "^open dsproc fail, VAD proceeding disabled: Permission denied\n"
      "DSPROC_ENABLE VAD fail: timeslot=1 id=1 errno=\"Bad file descriptor\"\n"
      "open dsproc fail, VAD proceeding disabled: Permission denied\n"
      "Disable All Tone fail: \\(interface not opened\\) timeslot=1\n"
      "open dsproc fail, VAD proceeding disabled: Permission denied\n"
      "configure VAD fail: \\(interface not opened\\) timeslot=1\n"
      "open dsproc fail, VAD proceeding disabled: Permission denied\n"
      "configure SD fail: \\(interface not opened\\) timeslot=1\n"
      "open dsproc fail, VAD proceeding disabled: Permission denied\n"
      "configure Delays fail: \\(interface not opened\\) timeslot=1\n"
      "open dsproc fail, VAD proceeding disabled: Permission denied\n"
      "Configure Rx gain fail: \\(interface not opened\\) timeslot=1\n"
      "open dsproc fail, VAD proceeding disabled: Permission denied\n"
      "Configure Tone Filter fail: \\(interface not opened\\) timeslot=1\n"
      "DSPROC_ENABLE VAD fail: timeslot=1 id=2 errno=\"Bad file descriptor\"\n"
      "DSPROC_ENABLE VAD done: timeslot=1 id=3\n"
      "retried; opens O_RDWR\\|O_NONBLOCK\\|O_CLOEXEC; open 1; "
      "DSProcReceiverService::OnEvent POLLIN attached; log "
      "DSPROC_CONFIGURE SD ts=1\n"
      "DSPROC_CONFIGURE RX GAIN ts=1 gain_dB=0\n"
      "DISABLE ALL TONE done:  ts=1\n$");
}

}  // namespace
