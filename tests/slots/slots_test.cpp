// The slot table through the control server, with slot kinds of the tests
// whose release can complete later, on the simulated switch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"
#include "control/test_support.h"
#include "daemon/main.h"
#include "hardware/hwmux.h"
#include "radio/factories.h"
#include "signalling/factories.h"
#include "sim/board.h"
#include "slots/factories.h"
#include "slots/slots.h"

namespace {

using C = LGCP::Command;
using E = LGCP::ErrorCause;
constexpr int kMarker = 4242;  // `abort` code of the end-of-output marker
constexpr uint64_t kT0 = uint64_t(1700000000) * 1000;

void SetClock(uint64_t ms) {
  Mux::timevalset(Mux::g_tv_time, ms);
  multiplexer.timers_schedule();
}

struct TestEndpoint : Control::ServiceNet {
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
};

// When a destroyed slot's release completes: at once, later, or inside the
// destroy hook itself.
enum class Release { now, later, inHook };

// Transmits on 40 + n, receives on 8192 + n; notes which end of a link
// took the hardware step ("2 input 1": slot 2 switched its input from 1).
struct TestSlot : Slot {
  TestSlot(unsigned n, SlotFactory* f, Release r) : Slot(n, f), release(r) { ++alive; }
  ~TestSlot() override { --alive; }
  bool IBeforeDestroy() override {
    if (release == Release::inHook) ReleaseDone();
    return release == Release::now && Slot::IBeforeDestroy();
  }
  CmdAnswer CmdIoctl(LGCP::IoctlParams const&) override { return {}; }
  int IGetTransmitChannel() const override { return 40 + int(GetNumber()); }
  int IGetReceiveChannel() const override { return 8192 + int(GetNumber()); }
  bool IConnectOutput(Slot& d) override { return Step("output", d) && Slot::IConnectOutput(d); }
  bool IConnectInput(Slot& s) override { return Step("input", s) && Slot::IConnectInput(s); }
  bool IDisconnectOutput(Slot& d) override {
    return Step("-output", d) && Slot::IDisconnectOutput(d);
  }
  bool IDisconnectInput(Slot& s) override { return Step("-input", s) && Slot::IDisconnectInput(s); }
  void OnTrunkStatus(int t, ACP::TrunkState::NamedNumber s) override { trunk = t * 10 + s; }
  bool Step(char const* what, Slot& other) {
    steps +=
        std::to_string(GetNumber()) + " " + what + " " + std::to_string(other.GetNumber()) + "; ";
    return true;
  }
  Release release;
  int trunk = -1;
  static inline int alive = 0;
  static inline std::string steps;
};

// A slot with a tone and a DSP receiver on its transmit channel, switched
// off when the slot goes; it outranks a TestSlot on a link.
struct ReceiverSlot : TestSlot, Hardware::TonecReceiver, Hardware::DSProcReceiver {
  using TestSlot::TestSlot;
  ~ReceiverSlot() override {
    TonecReceiver::CleanBeforeDestroy();
    DSProcReceiver::CleanBeforeDestroy();
  }
  int IGetConnectPriority() const override { return 1; }
  void tonec_event(Params const& p) override { processTonecEvent(p); }
  unsigned tonec_timeslot() const override { return unsigned(GetTransmitChannel()); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
  void dsproc_bss_event(::dsproc_bss_event const* e) override { processBSSEvent(e); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
  void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
  void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }
  uint32_t dsproc_timeslot() const override { return uint32_t(GetTransmitChannel()); }
};

struct TestFactory : SlotFactory {  // makes `ext` slots
  Slot* INewSlot(unsigned n, LGCP::CreateParams const& p) override {
    if (p.currentSelection() != p.e_ext) return nullptr;
    return receivers ? new ReceiverSlot(n, this, release) : new TestSlot(n, this, release);
  }
  void PutHeader(std::ostream& out) const override { out << "test factory: "; }
  Release release = Release::now;
  bool receivers = false;
};

// What one stretch of the test wrote to each standard stream.
struct Streams {
  std::string Take() {
    std::string t = "out{" + out.text() + "} err{" + err.text() + "} log{" + log.text() + "}";
    out.clear();
    err.clear();
    log.clear();
    return t;
  }
  Capture out{std::cout}, err{std::cerr}, log{std::clog};
};

// A neighbour service: sends trunk status, sees every signal (one line) and
// counts the commands the slot table left to it.
struct Neighbour : CtrlSrv::Service {
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override {
    ++offered;
    return false;
  }
  void OnSignal(LGCP::Signal const& s) override {
    std::stringstream text;
    text << s;
    if (!seen.empty()) seen += ';';
    for (std::string w, sep; text >> w; sep = " ") seen += sep + w;
  }
  std::string seen;
  int offered = 0;
};

class SlotsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClock(kT0);
    server.Bind(Slots::instance());
    server.Bind(&neighbour);
    auto* endpoint = new TestEndpoint;
    server.Activate(endpoint);
    endpoint->Connected(pair.daemon, pair.peerAddr);
    pair.daemon.close();
  }
  void TearDown() override {
    server.Deactivate();  // every slot goes, the slow ones after their wait
    SetClock(kT0 + 10000);
    Mux::g_tv_time = Mux::timeval();
    EXPECT_EQ(0, TestSlot::alive);
  }

  // `arg`: the destination of `connect`, the kind of `create`.
  void Send(int command, std::optional<unsigned> slot, int seq = 1, int arg = -1) {
    LGCP::Message m = lgcptest::Command(command, seq, slot);
    if (command == C::e_create)
      m.get_pdu().get_command().get_create().select(arg < 0 ? LGCP::CreateParams::e_ext : arg);
    if (command == C::e_connect && arg >= 0) m.get_pdu().get_command().get_connect().setValue(arg);
    server.OnMessage(m);
  }
  // What the controller received since the last look.
  std::string Answers() {
    server.SendSignal(1023, lgcptest::AbortSignal(kMarker));
    std::string t;
    for (std::vector<unsigned char> b; ctrltest::ReadFrame(pair.peer.get(), b);) {
      lgcptest::Seen s = lgcptest::Parse(b);
      if (s.abortCode == kMarker) break;
      t += Describe(s) + "; ";
    }
    return t;
  }
  TestSlot* At(unsigned n) { return static_cast<TestSlot*>(Slots::instance()->Find(n)); }

  CtrlSrv::Server server;
  ctrltest::TcpPair pair;
  Neighbour neighbour;
  TestFactory factory;
};

// One answer as Describe() gives it: success, or the error cause.
std::string Ok(int seq, unsigned slot, int cause = -1) {
  return "seq=" + std::to_string(seq) + " slot=" + std::to_string(slot) + " pdu=1 " +
         (cause < 0 ? "success; " : "error " + std::to_string(cause) + "; ");
}

TEST_F(SlotsTest, AnswersOfTheTable) {
  struct Row {
    int command, arg;
    std::optional<unsigned> slot;
    std::string expect;
  } rows[] = {
      {C::e_create, -1, 5, Ok(12, 5)},
      {C::e_create, -1, 5, Ok(13, 5, E::slotIdBusy)},
      {C::e_ioctl, -1, 5, Ok(14, 5)},
      {C::e_deactivate, -1, 5, Ok(15, 5, E::unsupported)},
      {C::e_connect, 0, 5, Ok(16, 5, E::slotNotExists)},
      {C::e_connect, 5, 5, Ok(17, 5, E::invalidParams)},
      {C::e_disconnect, -1, 5, Ok(18, 5)},
      {C::e_activate, -1, 5, Ok(19, 5, E::unsupported)},
      {C::e_userData, -1, 5, Ok(20, 5, E::unsupported)},
      {C::e_destroy, -1, 5, Ok(21, 5)},
      {C::e_userData, -1, 5, Ok(22, 5, E::slotNotExists)},
      {C::e_query, -1, 5, Ok(23, 5, E::unexpectedMsgType)},
      {C::e_destroy, -1, std::nullopt, "seq=24 slot=none pdu=1 error 4; "},
      {C::e_query, -1, std::nullopt,
       "seq=none slot=none pdu=2 signal 0; seq=25 slot=none pdu=1 success; "},
  };
  int seq = 12;
  for (Row const& r : rows) {
    Send(r.command, r.slot, seq++, r.arg);
    EXPECT_EQ(r.expect, Answers()) << r.command;
  }
  EXPECT_EQ(2, neighbour.offered);  // `query` with a number, `destroy` without
  // Numbers past the table are never looked up, nor released.
  EXPECT_EQ(nullptr, Slots::instance()->Find(Slots::maxSlots));
  Slots::instance()->on_release(new TestSlot(5000, &factory, Release::now));
  EXPECT_EQ("", Answers());
}

TEST_F(SlotsTest, DelayedDestroyIsAnsweredWhenTheReleaseCompletes) {
  factory.release = Release::later;
  Send(C::e_create, 7, 1);
  Send(C::e_destroy, 7, 30);
  EXPECT_EQ(Ok(1, 7), Answers());
  Send(C::e_ioctl, 7, 32);
  EXPECT_EQ(Ok(32, 7, E::destroyInProgress), Answers());
  neighbour.SendSignal(lgcptest::AbortSignal(1));  // not for the slots
  EXPECT_EQ(-1, At(7)->trunk);
  LGCP::Signal s;  // a trunk status reaches the slots of every factory
  s.select_trunkStatus().set_trunk(3);
  s.get_trunkStatus().set_state(ACP::TrunkState::ais);
  neighbour.SendSignal(s);
  EXPECT_EQ(33, At(7)->trunk);
  Answers();
  At(7)->ReleaseDone();
  EXPECT_EQ(Ok(30, 7), Answers());
  // A release done inside the destroy hook is a destroy done at once; a
  // slot that releases unasked goes without a word.
  factory.release = Release::inHook;
  Send(C::e_create, 8, 34);
  Send(C::e_destroy, 8, 35);
  Send(C::e_create, 9, 36);
  EXPECT_EQ(Ok(34, 8) + Ok(35, 8) + Ok(36, 9), Answers());
  At(9)->ReleaseDone();
  EXPECT_EQ(nullptr, At(9));
  EXPECT_EQ(0, TestSlot::alive);
  EXPECT_TRUE(factory.slots().empty());
  EXPECT_EQ("", Answers());
  EXPECT_EQ(0, neighbour.offered);
}

TEST_F(SlotsTest, DisconnectDestroysEverySlotAndWaitsOnlyForTheSlowOnes) {
  Send(C::e_create, 1);
  factory.release = Release::later;
  for (unsigned n : {2, 3, 4}) Send(C::e_create, n);
  Send(C::e_destroy, 3, 40);  // its answer is still owed
  Answers();
  TestSlot* two = At(2);
  Slots::instance()->OnDisconnect();  // returns at once
  for (unsigned n = 1; n <= 4; ++n) EXPECT_EQ(nullptr, At(n)) << n;
  EXPECT_EQ(3, TestSlot::alive);
  factory.release = Release::now;
  Send(C::e_create, 2, 41);  // the numbers are free again at once
  Send(C::e_create, 3, 42);
  TestSlot* newTwo = At(2);
  two->ReleaseDone();  // completes during the wait: it goes, nobody is answered
  EXPECT_EQ(newTwo, At(2));
  EXPECT_EQ(Ok(41, 2) + Ok(42, 3), Answers());
  Streams streams;
  SetClock(kT0 + 999);
  EXPECT_EQ(4, TestSlot::alive);
  SetClock(kT0 + 1000);
  EXPECT_EQ(2, TestSlot::alive);
  EXPECT_EQ(
      "out{} err{} log{slot 3: release did not complete, destroyed\n"
      "slot 4: release did not complete, destroyed\n}",
      streams.Take());
  EXPECT_EQ((std::list<Slot*>{newTwo, At(3)}), factory.slots());
  EXPECT_EQ("", Answers());
  // A single slow slot gets the same grace.
  factory.release = Release::later;
  Send(C::e_create, 6, 43);
  EXPECT_EQ(Ok(43, 6), Answers());
  Slots::instance()->OnDisconnect();
  EXPECT_EQ(1u, Slots::instance()->SetAside().size());
  SetClock(kT0 + 1999);
  EXPECT_EQ(1, TestSlot::alive);
  SetClock(kT0 + 2000);
  EXPECT_EQ(0, TestSlot::alive);
  EXPECT_EQ("out{} err{} log{slot 6: release did not complete, destroyed\n}", streams.Take());
}

// The end of a link with the higher priority takes the hardware step, the
// destination on a tie; a slot that goes releases its links at once, also
// when its own release takes longer.
TEST_F(SlotsTest, ConnectAndDisconnectOnTheSwitch) {
  sim::Board& board = sim::Board::instance();
  ASSERT_TRUE(HwMux::instance().IsOpened());
  for (unsigned n : {1, 2, 3}) Send(C::e_create, n);
  factory.receivers = true;
  Send(C::e_create, 4);
  factory.receivers = false;
  factory.release = Release::later;
  Send(C::e_create, 5);
  Answers();
  board.ClearJournal("/dev/hal");
  TestSlot::steps.clear();
  Streams streams;
  Send(C::e_connect, 1, 50, 2);
  Send(C::e_connect, 3, 51, 2);  // replaces 1 as the source of 2
  board.Control("/dev/hal", "fail connect EIO 1");
  Send(C::e_connect, 1, 52, 3);
  Send(C::e_disconnect, 2, 53);
  Send(C::e_disconnect, 2, 54);  // no source left: nothing to do
  Send(C::e_connect, 1, 55, 3);
  Send(C::e_connect, 4, 56, 1);
  Send(C::e_connect, 1, 57, 4);
  Send(C::e_destroy, 1, 58);  // 3 and 4 lose their source, 4 a receiver
  Send(C::e_disconnect, 3, 59);
  Send(C::e_connect, 4, 60, 2);
  board.Control("/dev/hal", "fail write EIO 1");
  Send(C::e_disconnect, 2, 61);
  Send(C::e_connect, 4, 62, 2);
  Send(C::e_disconnect, 2, 63);
  Send(C::e_connect, 3, 64, 5);
  Send(C::e_connect, 5, 65, 2);
  Send(C::e_destroy, 5, 66);  // answered later, links gone now
  Send(C::e_connect, 3, 67, 5);
  Send(C::e_destroy, 3, 68);
  EXPECT_EQ(nullptr, At(5)->GetSource());
  EXPECT_EQ(Ok(50, 1) + Ok(51, 3) + Ok(52, 1, E::connectFail) + Ok(53, 2) + Ok(54, 2) + Ok(55, 1) +
                Ok(56, 4) + Ok(57, 1) + Ok(58, 1) + Ok(59, 3) + Ok(60, 4) +
                Ok(61, 2, E::disconnectFail) + Ok(62, 4) + Ok(63, 2) + Ok(64, 3) + Ok(65, 5) +
                Ok(67, 3, E::destroyInProgress) + Ok(68, 3),
            Answers());
  EXPECT_EQ(
      "2 input 1; 2 input 3; 3 input 1; 2 -input 3; 3 input 1; 4 output 1; 4 input 1; "
      "3 -input 1; 4 -input 1; 4 output 2; 4 -output 2; 4 output 2; 4 -output 2; 5 input 3; "
      "2 input 5; 2 -input 5; ",
      TestSlot::steps);
  std::string journal;
  for (auto& e : board.Journal("/dev/hal")) journal += e.text + "; ";
  EXPECT_EQ(
      "connect 8194 41; connect 8194 43; connect 8195 41 failed 5; write 8194 0xD5; "
      "connect 8195 41; connect 8193 44; connect 8196 41; write 8195 0xD5; write 8196 0xD5; "
      "connect 8194 44; write 8194 0xD5 failed 5; connect 8194 44; write 8194 0xD5; "
      "connect 8197 43; connect 8194 45; write 8194 0xD5; ",
      journal);
  EXPECT_EQ(
      "out{} err{} log{"
      "mux: slot 1 [41] -> slot 2 [8194]\n"
      "mux: slot 3 [43] -> slot 2 [8194]\n"
      "hwMux: connect 41 -> 8195 failed: Input/output error\n"
      "mux: disconnect slot 2 [8194]\n"
      "mux: slot 1 [41] -> slot 3 [8195]\n"
      "mux: slot 4 [44] -> slot 1 [8193]\n"
      "mux: slot 1 [41] -> slot 4 [8196]\n"
      "mux: disconnect slot 3 [8195]\n"
      "mux: disconnect slot 4 [8196]\n"
      "mux: slot 4 [44] -> slot 2 [8194]\n"
      "hwMux: disconnect failed 8194 : Input/output error\n"
      "mux: slot 4 [44] -> slot 2 [8194]\n"
      "mux: disconnect slot 2 [8194]\n"
      "mux: slot 3 [43] -> slot 5 [8197]\n"
      "mux: slot 5 [45] -> slot 2 [8194]\n"
      "mux: disconnect slot 2 [8194]\n}",
      streams.Take());
  At(5)->ReleaseDone();
  EXPECT_EQ(Ok(66, 5), Answers());
  EXPECT_EQ(0, neighbour.offered);
}

// An exit that leaves slots behind (no controller stop first), in the table
// and set aside: they are destroyed with the table, and what they switch off
// on the way (the switch path, the tone and DSP functions) is still there to
// take it. The child builds the table first, as the start-up does.
TEST_F(SlotsTest, ExitWithSlotsLeftReleasesThemThroughLiveServices) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        factory.receivers = true;
        factory.release = Release::later;
        Send(C::e_create, 6);
        auto* r = dynamic_cast<ReceiverSlot*>(Slots::instance()->Find(6));
        bool ok = r && r->enableDTMF(true) && r->configureRxGain(3);
        Slots::instance()->OnDisconnect();  // 6 set aside
        factory.receivers = false;
        Send(C::e_create, 7);
        Send(C::e_create, 8);
        Send(C::e_connect, 7, 2, 8);
        std::cerr << (ok ? "switched on" : "not switched on") << std::endl;
        std::exit(0);
      },
      ::testing::ExitedWithCode(0),
      "switched on\n"
      "mux: disconnect slot 8 \\[8200\\]\n"
      "DTMF_DISABLE_DETECTOR done: timeslot=46\n"
      "DSPROC_CONFIGURE RX GAIN ts=46 gain_dB=0\n"
      "DISABLE ALL TONE done:  ts=46\n");
}

using SlotEvents = SlotsTest;

template <class T>
T const* P(T const& record) {  // lives to the end of the call it is passed to
  return &record;
}
TEST_F(SlotEvents, DeviceEventsAsSignals) {
  Send(C::e_create, 9);
  using U = unsigned;
  auto Vad = +[](Slot& s, U a, U b) { s.processVADEvent({int(a), int(b)}); };
  auto Sd = +[](Slot& s, U a, U) { s.processSDEvent({int(a)}); };
  auto Bss = +[](Slot& s, U a, U) { s.processBSSEvent(P(dsproc_bss_event{a / 100.f})); };
  auto Flags = +[](Slot& s, U a, U b) { s.processFlagsEvent(P(dsproc_flags_event{a, b})); };
  auto Filter = +[](Slot& s, U a, U b) { s.processToneFltEvent(P(dsproc_tone_event{a, b, 7})); };
  auto Tone = +[](Slot& s, U a, U b) { s.processTonecEvent({a, b}); };
  auto In = +[](Slot& s, U a, U) { s.OnChangeInputStream(a); };
  auto Out = +[](Slot& s, U a, U) { s.OnChangeOutputStream(a); };
  struct Row {
    void (*feed)(Slot&, unsigned, unsigned);
    unsigned a, b;
    char const* signal;
  } rows[] = {
      {Vad, 1, 0, "vad : { vad-rx TRUE, vad-tx FALSE }"},
      {Vad, unsigned(-1), 5, "vad : { vad-tx TRUE }"},
      {Vad, 0, 1, "vad : { vad-rx FALSE, vad-tx TRUE }"},
      {Sd, 1, 0, "sd : { sd-rx TRUE }"},
      {Sd, 0, 0, "sd : { sd-rx FALSE }"},
      {Sd, unsigned(-1), 0, ""},
      {Bss, 75, 0, "bss : { score \"0.75\" }"},
      {Flags, 0xA0000000u, 0xE0000000u,
       "vad : { vad-rx TRUE, vad-tx FALSE };selcal : { in-progress TRUE }"},
      {Flags, 0x40000000u, 0x40000000u, "vad : { vad-tx TRUE }"},
      {Flags, 0, 0x80000000u, "selcal : { in-progress FALSE }"},
      {Flags, 0xFFFFFFFFu, 0x1FFFFFFFu, ""},
      {Filter, 2100, 1,
       "tonec : { timestamp 0, event tone-presence : { freq 2100, presence TRUE } }"},
      {Tone, 0, 1, "tonec : { timestamp 1, event dtmf : 0 }"},
      {Tone, 11, 500, "tonec : { timestamp 500, event dtmf : 11 }"},
      {Tone, 128, 2, "tonec : { timestamp 2, event r1 : none }"},
      {Tone, 130, 2, "tonec : { timestamp 2, event r1 : silence }"},
      {Tone, 131, 3, "tonec : { timestamp 3, event ced : NULL }"},
      {Tone, 132, 4, "tonec : { timestamp 4, event cng : NULL }"},
      {Tone, 133, 5, "tonec : { timestamp 5, event iva : code : 1 }"},
      {Tone, 153, 6, "tonec : { timestamp 6, event iva : code : 21 }"},
      {Tone, 154, 7, "tonec : { timestamp 7, event iva : ringoff : NULL }"},
      {Tone, 155, 8, "tonec : { timestamp 8, event dtmfDone : NULL }"},
      {Tone, 156, 9, ""},
      {In, 1, 0, "receiver : active : 0"},
      {In, 0, 0, "receiver : inactive : NULL"},
      {Out, 1, 0, "transmitter : active : 0"},
      {Out, 0, 0, "transmitter : inactive : NULL"},
      {+[](Slot& s, U, U) { s.OnActivated(); }, 0, 0, "activated : NULL"},
      {+[](Slot& s, U, U) { s.OnDeactivated(); }, 0, 0, "deactivated : otherError"},
      {+[](Slot& s, U a, U) { s.OnAbort(int(a)); }, 3, 0, "abort : 3"},
      {+[](Slot& s, U, U) {
         s.OnUserData({'a', 'b'});
       },
       0, 0, "userData : '61 62'H"},
      {+[](Slot& s, U, U) { s.OnNumber("123"); }, 0, 0, "number : \"123\""},
      {+[](Slot& s, U, U) { s.OnModem(TERM::ModemInformation()); }, 0, 0,
       "modemInformation : { rxSpeed 0, txSpeed 0, carrier unknown }"},
      {+[](Slot& s, U, U) {
         TERM::ModemProceeding p;
         p.select_auth().set_username("u");
         s.OnModem(p);
       },
       0, 0, "modemProceeding : auth : { username \"u\", password \"\" }"},
      {+[](Slot& s, U, U) {
         LGCP::IoctlResponse r;
         r.select_ss7BSN().setValue(5);
         s.OnIoctlResponse(r);
       },
       0, 0, "ioctl : ss7BSN : 5"},
      {+[](Slot& s, U, U) {
         TERM::RtpRadioRequest r;
         r.get_status().select_ed_137();
         s.OnRtpRadioEvent(r);
       },
       0, 0,
       "rtpExt : { status ed-137 : { header { ptt ptt-off, squ squ-off, ptt-id 0, ptt-mute FALSE, "
       "ptt-summation FALSE, sct FALSE } } }"},
      {+[](Slot& s, U, U) { s.OnProtoVornEvent(VORNGW::ProtoVornPackets()); }, 0, 0,
       "protoVorn : { packets { } }"},
      {+[](Slot& s, U, U) {
         LGCP::RtpEvent e;
         e.select_pd().set_value(4);
         s.OnRtpEvent(e);
       },
       0, 0, "rtp : pd : { value 4, timeout 0 }"},
  };
  Answers();
  Streams streams;
  for (Row const& r : rows) {
    neighbour.seen.clear();
    r.feed(*At(9), r.a, r.b);
    EXPECT_EQ(r.signal, neighbour.seen) << r.a << " " << r.b;
  }
  EXPECT_EQ("out{} err{slot 9: unknown tone code 156\n} log{}", streams.Take());
  // They went to the controller too, as the slot's own signals.
  EXPECT_NE(std::string::npos, Answers().find("slot=9 pdu=2 signal 16"));
}

TEST(SlotFactoryChain, StartupOrderPutsHdlcFirst) {
  // The chain as main builds it, from nothing; the factories below already
  // exist, so listing them changes no order.
  ASSERT_EQ(nullptr, SlotFactory::first());
  MakeSlotFactories();
  SlotFactory* made[] = {
      MapFactory::instance(),      PstnFactory::instance(),         RtpFactory::instance(),
      ModemFactory::instance(),    Mixer::MixerFactory::instance(), ExtFactory::instance(),
      MccFactory::instance(),      EchoFactory::instance(),         VoiceFactory::instance(),
      T38SoftFactory::instance(),  IsdnFactory::instance(),         RtpVornFactory::instance(),
      RtpED137Factory::instance(), HdlcSlotFactory::instance(),
  };
  std::string const headers[] = {
      "map factory: ",       "pstn factory: ", "rtp factory: ",  "modem factory: ",
      "mixer factory: ",     "ext factory: ",  "mcc factory: ",  "echo factory: ",
      "voice factory: ",     "t38 factory: ",  "isdn factory: ", "rtp vorn factory: ",
      "rtp ed137 factory: ", "hdlc factory: ",
  };
  auto Chain = [&] {
    SlotFactory* f = SlotFactory::first();
    for (int i = 13; i >= 0; --i, f = f ? f->next() : nullptr) {
      EXPECT_EQ(made[i], f) << i;
      std::ostringstream header;
      if (f) f->PutHeader(header);
      EXPECT_EQ(headers[i], header.str()) << i;
    }
    EXPECT_EQ(nullptr, f);
  };
  Chain();
  // A factory that goes before exit (a test's) leaves the chain as it was
  // and its slots without a factory.
  auto* a = new TestFactory;
  auto* b = new TestFactory;
  LGCP::CreateParams ext;
  ext.select(LGCP::CreateParams::e_ext);
  Slot* slot = a->NewSlot(7, ext);
  delete a;
  EXPECT_EQ(b, SlotFactory::first());
  EXPECT_EQ(made[13], b->next());
  EXPECT_EQ(nullptr, slot->GetFactory());
  delete slot;
  delete b;
  Chain();
}

}  // namespace
