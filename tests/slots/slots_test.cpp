// The slot table through the control server, with a slot kind of the tests
// whose release can complete later, on the simulated switch.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"
#include "core/main.h"
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

// Transmits on 40 + n, receives on 8192 + n; `slow` ones release later.
struct TestSlot : Slot {
  TestSlot(unsigned n, SlotFactory* f, bool slow) : Slot(n, f), slow(slow) { ++alive; }
  ~TestSlot() override { --alive; }
  bool IBeforeDestroy() override { return !slow; }
  CmdAnswer CmdIoctl(LGCP::IoctlParams const&) override { return {}; }
  int IGetTransmitChannel() const override { return 40 + int(GetNumber()); }
  int IGetReceiveChannel() const override { return 8192 + int(GetNumber()); }
  void OnTrunkStatus(int t, ACP::TrunkState::NamedNumber s) override { trunk = t * 10 + s; }
  bool slow;
  int trunk = -1;
  static inline int alive = 0;
};

struct TestFactory : SlotFactory {  // makes `ext` slots
  Slot* INewSlot(unsigned n, LGCP::CreateParams const& p) override {
    return p.currentSelection() == p.e_ext ? new TestSlot(n, this, slow) : nullptr;
  }
  void PutHeader(std::ostream& out) const override { out << "test factory: "; }
  bool slow = false;
};

// A neighbour service: sends trunk status and sees every signal, one line.
struct Neighbour : CtrlSrv::Service {
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }
  void OnSignal(LGCP::Signal const& s) override {
    std::stringstream text;
    text << s;
    if (!seen.empty()) seen += ';';
    for (std::string w, sep; text >> w; sep = " ") seen += sep + w;
  }
  std::string seen;
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
      {C::e_destroy, -1, 5, Ok(19, 5)},
      {C::e_userData, -1, 5, Ok(20, 5, E::slotNotExists)},
      {C::e_query, -1, 5, Ok(21, 5, E::unexpectedMsgType)},
      {C::e_destroy, -1, std::nullopt, "seq=22 slot=none pdu=1 error 4; "},
      {C::e_query, -1, std::nullopt,
       "seq=none slot=none pdu=2 signal 0; seq=23 slot=none pdu=1 success; "},
  };
  int seq = 12;
  for (Row const& r : rows) {
    Send(r.command, r.slot, seq++, r.arg);
    EXPECT_EQ(r.expect, Answers()) << r.command;
  }
  // Numbers the server already refuses are never looked up, nor released.
  Slots::instance()->on_release(new TestSlot(5000, &factory, false));
  EXPECT_EQ("", Answers());
}

TEST_F(SlotsTest, DelayedDestroyIsAnsweredWhenTheReleaseCompletes) {
  factory.slow = true;
  Send(C::e_create, 7, 1);
  Send(C::e_destroy, 7, 30);
  EXPECT_EQ(Ok(1, 7), Answers());
  Send(C::e_ioctl, 7, 32);
  EXPECT_EQ(Ok(32, 7, E::destroyInProgress), Answers());
  LGCP::Signal s;  // a trunk status reaches the slots of every factory
  s.select_trunkStatus().set_trunk(3);
  s.get_trunkStatus().set_state(ACP::TrunkState::ais);
  neighbour.SendSignal(s);
  EXPECT_EQ(33, At(7)->trunk);
  Answers();
  At(7)->ReleaseDone();
  EXPECT_EQ(Ok(30, 7), Answers());
}

TEST_F(SlotsTest, DisconnectDestroysEverySlotAndWaitsOnlyForTheSlowOnes) {
  Send(C::e_create, 1);
  factory.slow = true;
  for (unsigned n : {2, 3, 4}) Send(C::e_create, n);
  Send(C::e_destroy, 3, 40);  // its answer is still owed
  Answers();
  TestSlot* two = At(2);
  Slots::instance()->OnDisconnect();  // returns at once
  for (unsigned n = 1; n <= 4; ++n) EXPECT_EQ(nullptr, At(n)) << n;
  two->ReleaseDone();  // completes during the wait: it goes, nobody is answered
  factory.slow = false;
  Send(C::e_create, 3, 41);  // the number is free again at once
  EXPECT_EQ(Ok(41, 3), Answers());
  SetClock(kT0 + 999);
  EXPECT_EQ(3, TestSlot::alive);
  SetClock(kT0 + 1000);
  EXPECT_EQ(1, TestSlot::alive);
  EXPECT_EQ("", Answers());
}

TEST_F(SlotsTest, ConnectAndDisconnectOnTheSwitch) {
  sim::Board& board = sim::Board::instance();
  ASSERT_TRUE(HwMux::instance().IsOpened());
  for (unsigned n : {1, 2, 3}) Send(C::e_create, n);
  Answers();
  board.ClearJournal("/dev/hal");
  std::ostringstream log;
  std::streambuf* old = std::clog.rdbuf(log.rdbuf());
  Send(C::e_connect, 1, 50, 2);
  Send(C::e_connect, 3, 51, 2);  // replaces 1 as the source of 2
  board.Control("/dev/hal", "fail connect EIO 1");
  Send(C::e_connect, 1, 52, 3);
  Send(C::e_disconnect, 2, 53);
  Send(C::e_connect, 1, 54, 3);
  Send(C::e_destroy, 1, 55);  // 3 loses its source
  std::clog.rdbuf(old);
  EXPECT_EQ(Ok(50, 1) + Ok(51, 3) + Ok(52, 1, E::connectFail) + Ok(53, 2) + Ok(54, 1) + Ok(55, 1),
            Answers());
  std::string journal;
  for (auto& e : board.Journal("/dev/hal")) journal += e.text + "; ";
  EXPECT_EQ(
      "connect 8194 41; connect 8194 43; connect 8195 41 failed 5; write 8194 0xD5; "
      "connect 8195 41; write 8195 0xD5; ",
      journal);
  EXPECT_EQ("mux: slot 1 [41] -> slot 2 [8194]", log.str().substr(0, 33));
  EXPECT_NE(std::string::npos, log.str().find("\nmux: disconnect slot 3 [8195]\n"));
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
  struct Row {
    void (*feed)(Slot&, unsigned, unsigned);
    unsigned a, b;
    char const* signal;
  } rows[] = {
      {Vad, 1, 0, "vad : { vad-rx TRUE, vad-tx FALSE }"},
      {Vad, unsigned(-1), 5, "vad : { vad-tx TRUE }"},
      {Sd, 2, 0, "sd : { sd-rx TRUE }"},
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
      {Tone, 11, 500, "tonec : { timestamp 500, event dtmf : 11 }"},
      {Tone, 130, 2, "tonec : { timestamp 2, event r1 : silence }"},
      {Tone, 133, 5, "tonec : { timestamp 5, event iva : code : 1 }"},
      {Tone, 154, 7, "tonec : { timestamp 7, event iva : ringoff : NULL }"},
      {Tone, 155, 8, "tonec : { timestamp 8, event dtmfDone : NULL }"},
      {Tone, 156, 9, ""},
  };
  for (Row const& r : rows) {
    neighbour.seen.clear();
    r.feed(*At(9), r.a, r.b);
    EXPECT_EQ(r.signal, neighbour.seen) << r.a << " " << r.b;
  }
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
  SlotFactory* f = SlotFactory::first();
  for (int i = 13; i >= 0; --i, f = f ? f->next() : nullptr) EXPECT_EQ(made[i], f) << i;
  EXPECT_EQ(nullptr, f);
}

}  // namespace
