// The slot table through the control server, with a slot kind of the
// tests whose release can be made to complete later.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <iostream>
#include <sstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/control.h"
#include "control/ctrl_testkit.h"
#include "control/ctrlsrv.h"
#include "control/lgcp_testkit.h"
#include "hardware/hwmux.h"
#include "radio/factories.h"
#include "signalling/factories.h"
#include "sim/board.h"
#include "sim/hal.h"
#include "slots/factories.h"
#include "slots/slots.h"

namespace {

using lgcptest::Seen;
using E = LGCP::ErrorCause;
constexpr int kMarker = 4242;  // `abort` code of the end-of-output marker
constexpr uint64_t kT0 = uint64_t(1700000000) * 1000;

void SetClock(uint64_t ms) {
  Mux::timevalset(Mux::g_tv_time, ms);
  multiplexer.timers_schedule();
}

class TestEndpoint : public Control::ServiceNet {
 protected:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
};

struct TestSlot : Slot {
  TestSlot(unsigned n, SlotFactory* f, bool slow) : Slot(n, f), slow(slow) { ++alive; }
  ~TestSlot() override { --alive; }
  bool IBeforeDestroy() override { return !slow; }
  CmdAnswer CmdIoctl(LGCP::IoctlParams const&) override { return {}; }
  // On the switch: transmits on 40 + n, receives on 8192 + n.
  int IGetTransmitChannel() const override { return 40 + int(GetNumber()); }
  int IGetReceiveChannel() const override { return 8192 + int(GetNumber()); }
  void OnTrunkStatus(int trunk, ACP::TrunkState::NamedNumber state) override {
    trunks.push_back(trunk * 10 + state);
  }
  bool slow;
  std::vector<int> trunks;
  static int alive;
};
int TestSlot::alive = 0;

// Makes `ext` slots; `slow` ones release later.
struct TestFactory : SlotFactory {
  Slot* INewSlot(unsigned n, LGCP::CreateParams const& p) override {
    if (p.currentSelection() != LGCP::CreateParams::e_ext) return nullptr;
    return new TestSlot(n, this, slow);
  }
  void PutHeader(std::ostream& out) const override { out << "test factory: "; }
  bool slow = false;
};

// A neighbour service that sends a trunk status, as the trunk services do.
struct TrunkService : CtrlSrv::Service {
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }
  void OnSignal(LGCP::Signal const& s) override {
    std::ostringstream text;
    text << s;
    std::string flat;  // one line, single spaces
    for (char c : text.str())
      if (!std::isspace(static_cast<unsigned char>(c)) || (!flat.empty() && flat.back() != ' '))
        flat += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
    seen.push_back(flat);
  }
  std::vector<std::string> seen;
};

class SlotsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClock(kT0);
    server.Bind(Slots::instance());
    server.Bind(&trunks);
    endpoint = new TestEndpoint;
    server.Activate(endpoint);
    pair = std::make_unique<ctrltest::TcpPair>();
    testing::internal::CaptureStderr();
    endpoint->Connected(pair->daemon, pair->peerAddr);
    pair->daemon.close();
    testing::internal::GetCapturedStderr();
  }
  void TearDown() override {
    server.Deactivate();  // every slot goes, the slow ones after their wait
    SetClock(kT0 + 10000);
    Mux::g_tv_time = Mux::timeval();
    EXPECT_EQ(0, TestSlot::alive);
  }

  void Send(int alternative, std::optional<unsigned> slot, int seq = 1,
            std::function<void(LGCP::Command&)> fill = nullptr) {
    LGCP::Message m = lgcptest::Command(alternative, seq, slot);
    if (fill) fill(m.get_pdu().get_command());
    server.OnMessage(m);
  }
  void Create(unsigned slot, int kind = LGCP::CreateParams::e_ext, int seq = 1) {
    Send(LGCP::Command::e_create, slot, seq,
         [&](LGCP::Command& c) { c.get_create().select(kind); });
  }
  // Everything the controller received since the last look.
  std::vector<Seen> Drain() {
    server.SendSignal(1023, lgcptest::AbortSignal(kMarker));
    std::vector<Seen> out;
    for (std::vector<unsigned char> body; ctrltest::ReadFrame(pair->peer.get(), body);) {
      Seen s = lgcptest::Parse(body);
      if (s.abortCode == kMarker) break;
      out.push_back(s);
    }
    return out;
  }
  std::string Answers() {
    std::string t;
    for (Seen const& s : Drain()) t += lgcptest::Describe(s) + "; ";
    return t;
  }
  TestSlot* At(unsigned n) { return static_cast<TestSlot*>(Slots::instance()->Find(n)); }

  CtrlSrv::Server server;
  TestEndpoint* endpoint = nullptr;
  std::unique_ptr<ctrltest::TcpPair> pair;
  TrunkService trunks;
  TestFactory factory;
};

std::string Ok(int seq, unsigned slot) {
  return "seq=" + std::to_string(seq) + " slot=" + std::to_string(slot) + " pdu=1 success; ";
}
std::string Err(int seq, unsigned slot, int cause) {
  return "seq=" + std::to_string(seq) + " slot=" + std::to_string(slot) + " pdu=1 error " +
         std::to_string(cause) + "; ";
}

TEST_F(SlotsTest, AnswersOfTheTable) {
  using C = LGCP::Command;
  struct Row {
    char const* what;
    std::function<void()> act;
    std::string expect;
  } rows[] = {
      {"destroy of nothing", [&] { Send(C::e_destroy, 5, 10); }, Err(10, 5, E::slotNotExists)},
      {"create nobody makes", [&] { Create(5, LGCP::CreateParams::e_voice, 11); },
       Err(11, 5, E::insufficientResources)},
      {"create", [&] { Create(5, LGCP::CreateParams::e_ext, 12); }, Ok(12, 5)},
      {"create again", [&] { Create(5, LGCP::CreateParams::e_ext, 13); },
       Err(13, 5, E::slotIdBusy)},
      {"ioctl the kind takes", [&] { Send(C::e_ioctl, 5, 14); }, Ok(14, 5)},
      {"deactivate it does not", [&] { Send(C::e_deactivate, 5, 15); }, Err(15, 5, E::unsupported)},
      {"connect to nothing", [&] { Send(C::e_connect, 5, 16); }, Err(16, 5, E::slotNotExists)},
      {"connect to itself",
       [&] { Send(C::e_connect, 5, 17, [](C& c) { c.get_connect().setValue(5); }); },
       Err(17, 5, E::invalidParams)},
      {"disconnect without source", [&] { Send(C::e_disconnect, 5, 18); }, Ok(18, 5)},
      {"destroy", [&] { Send(C::e_destroy, 5, 19); }, Ok(19, 5)},
      {"userData after destroy", [&] { Send(C::e_userData, 5, 20); }, Err(20, 5, E::slotNotExists)},
      {"query with a slot is not ours", [&] { Send(C::e_query, 5, 21); },
       Err(21, 5, E::unexpectedMsgType)},
      {"slot command without slot", [&] { Send(C::e_destroy, std::nullopt, 22); },
       "seq=22 slot=none pdu=1 error 4; "},
      {"query", [&] { Send(C::e_query, std::nullopt, 23); },
       "seq=none slot=none pdu=2 signal 0; seq=23 slot=none pdu=1 success; "},
  };
  for (Row const& r : rows) {
    r.act();
    EXPECT_EQ(r.expect, Answers()) << r.what;
  }
}

TEST_F(SlotsTest, DelayedDestroyIsAnsweredWhenTheReleaseCompletes) {
  factory.slow = true;
  Create(7);
  EXPECT_EQ(Ok(1, 7), Answers());
  Send(LGCP::Command::e_destroy, 7, 30);
  EXPECT_EQ("", Answers());
  Create(7, LGCP::CreateParams::e_ext, 31);
  Send(LGCP::Command::e_ioctl, 7, 32);
  EXPECT_EQ(Err(31, 7, E::destroyInProgress) + Err(32, 7, E::destroyInProgress), Answers());
  At(7)->ReleaseDone();
  EXPECT_EQ(Ok(30, 7), Answers());
  EXPECT_EQ(nullptr, At(7));
  EXPECT_EQ(0, TestSlot::alive);
}

TEST_F(SlotsTest, DisconnectDestroysEverySlotAndWaitsOnlyForTheSlowOnes) {
  Create(1);
  factory.slow = true;
  Create(2);
  Create(3);
  Create(4);
  Send(LGCP::Command::e_destroy, 3, 40);  // its answer is still owed
  Drain();
  TestSlot* two = At(2);
  Slots::instance()->OnDisconnect();
  for (unsigned n = 1; n <= 4; ++n) EXPECT_EQ(nullptr, At(n)) << n;
  EXPECT_EQ(3u, Slots::instance()->SetAside().size());
  EXPECT_EQ(3, TestSlot::alive);
  // One completes during the wait: it goes, and nobody is answered.
  two->ReleaseDone();
  EXPECT_EQ(2, TestSlot::alive);
  // The number is free again at once.
  factory.slow = false;
  Create(3, LGCP::CreateParams::e_ext, 41);
  EXPECT_EQ(Ok(41, 3), Answers());
  SetClock(kT0 + 999);
  EXPECT_EQ(3, TestSlot::alive);
  SetClock(kT0 + 1000);
  EXPECT_EQ(1, TestSlot::alive);
  EXPECT_TRUE(Slots::instance()->SetAside().empty());
  EXPECT_EQ(At(3), Slots::instance()->Find(3));
  EXPECT_EQ("", Answers());
}

TEST_F(SlotsTest, TrunkStatusReachesTheSlotsOfEveryFactory) {
  Create(1);
  Create(2);
  LGCP::Signal s;
  s.select_trunkStatus().set_trunk(3);
  s.get_trunkStatus().set_state(ACP::TrunkState::ais);
  trunks.SendSignal(s);
  EXPECT_EQ(std::vector<int>{33}, At(1)->trunks);
  EXPECT_EQ(std::vector<int>{33}, At(2)->trunks);
  // Another signal is nobody's business here.
  trunks.SendSignal(lgcptest::AbortSignal(1));
  EXPECT_EQ(1u, At(1)->trunks.size());
}

std::vector<std::string> SwitchJournal() {
  std::vector<std::string> out;
  for (auto& e : sim::Board::instance().Journal("/dev/hal")) out.push_back(e.text);
  sim::Board::instance().ClearJournal("/dev/hal");
  return out;
}

TEST_F(SlotsTest, ConnectAndDisconnectOnTheSwitch) {
  using C = LGCP::Command;
  ASSERT_TRUE(HwMux::instance().IsOpened());
  for (unsigned n : {1, 2, 3}) Create(n);
  Drain();
  SwitchJournal();
  std::ostringstream log;
  std::streambuf* old = std::clog.rdbuf(log.rdbuf());
  auto connect = [&](unsigned src, unsigned dst, int seq) {
    Send(C::e_connect, src, seq, [&](C& c) { c.get_connect().setValue(int(dst)); });
  };
  connect(1, 2, 50);
  connect(3, 2, 51);  // replaces 1 as the source of 2
  sim::Board::instance().Control("/dev/hal", "fail connect EIO 1");
  connect(1, 3, 52);
  Send(C::e_disconnect, 2, 53);
  connect(1, 3, 54);
  Send(C::e_destroy, 1, 55);  // 3 loses its source
  std::clog.rdbuf(old);
  EXPECT_EQ(Ok(50, 1) + Ok(51, 3) + Err(52, 1, E::connectFail) + Ok(53, 2) + Ok(54, 1) + Ok(55, 1),
            Answers());
  EXPECT_EQ(
      (std::vector<std::string>{"connect 8194 41", "connect 8194 43", "connect 8195 41 failed 5",
                                "write 8194 0xD5", "connect 8195 41", "write 8195 0xD5"}),
      SwitchJournal());
  EXPECT_EQ(
      "mux: slot 1 [41] -> slot 2 [8194]\n"
      "mux: slot 3 [43] -> slot 2 [8194]\n"
      "hwMux: connect 41 -> 8195 failed: Input/output error\n"
      "mux: disconnect slot 2 [8194]\n"
      "mux: slot 1 [41] -> slot 3 [8195]\n"
      "mux: disconnect slot 3 [8195]\n",
      log.str());
  EXPECT_EQ(nullptr, At(3)->GetSource());
}

TEST_F(SlotsTest, ResourcesOfFactoriesThatMakeNothing) {
  MapFactory::instance();
  Send(LGCP::Command::e_query, std::nullopt);
  LGCP::Resources expected;
  expected.set_mux(HwMux::instance().IsOpened());
  std::vector<unsigned char> body;
  ASSERT_TRUE(ctrltest::ReadFrame(pair->peer.get(), body));
  LGCP::Message m;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  ASSERT_TRUE(ASN1::decode(reinterpret_cast<char const*>(body.data()),
                           reinterpret_cast<char const*>(body.data()) + body.size(), &env, m,
                           true));
  EXPECT_TRUE(expected == m.get_pdu().get_signal().get_query()) << m;
  EXPECT_TRUE(expected.get_mux().getValue());
}

using SlotEvents = SlotsTest;

TEST_F(SlotEvents, DeviceEventsAsSignals) {
  Create(9);
  Drain();
  Slot& slot = *At(9);
  using Flags = ::dsproc_flags_event;
  using Tone = ::dsproc_tone_event;
  auto flags = [&](Flags e) { return [&slot, e] { slot.processFlagsEvent(&e); }; };
  auto tone = [&](unsigned code, unsigned at) {
    return [&slot, code, at] { slot.processTonecEvent({code, at}); };
  };
  struct Row {
    char const* what;
    std::function<void()> event;
    std::string signal;  // "" for none
  } rows[] = {
      {"vad both",
       [&] {
         slot.processVADEvent({1, 0});
       },
       "vad : { vad-rx TRUE, vad-tx FALSE }"},
      {"vad tx only",
       [&] {
         slot.processVADEvent({-1, 5});
       },
       "vad : { vad-tx TRUE }"},
      {"vad none",
       [&] {
         slot.processVADEvent({-1, -1});
       },
       "vad : { }"},
      {"sd on", [&] { slot.processSDEvent({2}); }, "sd : { sd-rx TRUE }"},
      {"sd off", [&] { slot.processSDEvent({0}); }, "sd : { sd-rx FALSE }"},
      {"sd unknown", [&] { slot.processSDEvent({-1}); }, ""},
      {"bss",
       [&] {
         ::dsproc_bss_event e{0.75f};
         slot.processBSSEvent(&e);
       },
       "bss : { score \"0.75\" }"},
      {"flags 29 31 of 29-31", flags(Flags{0xA0000000u, 0xE0000000u}),
       "vad : { vad-rx TRUE, vad-tx FALSE };selcal : { in-progress TRUE }"},
      {"flags 30 of 30", flags(Flags{0x40000000u, 0x40000000u}), "vad : { vad-tx TRUE }"},
      {"flags none of 31", flags(Flags{0, 0x80000000u}), "selcal : { in-progress FALSE }"},
      {"flags lower bits", flags(Flags{0xFFFFFFFFu, 0x1FFFFFFFu}), ""},
      {"tone filter",
       [&] {
         Tone e{2100, 1, 7};
         slot.processToneFltEvent(&e);
       },
       "tonec : { timestamp 0, event tone-presence : { freq 2100, presence TRUE } }"},
      {"dtmf", tone(11, 500), "tonec : { timestamp 500, event dtmf : 11 }"},
      {"dtmf top", tone(127, 1), "tonec : { timestamp 1, event dtmf : 127 }"},
      {"r1 silence", tone(130, 2), "tonec : { timestamp 2, event r1 : silence }"},
      {"ced", tone(131, 3), "tonec : { timestamp 3, event ced : NULL }"},
      {"cng", tone(132, 4), "tonec : { timestamp 4, event cng : NULL }"},
      {"iva 1", tone(133, 5), "tonec : { timestamp 5, event iva : code : 1 }"},
      {"iva 21", tone(153, 6), "tonec : { timestamp 6, event iva : code : 21 }"},
      {"iva ringoff", tone(154, 7), "tonec : { timestamp 7, event iva : ringoff : NULL }"},
      {"dtmf done", tone(155, 8), "tonec : { timestamp 8, event dtmfDone : NULL }"},
      {"unknown code", tone(156, 9), ""},
  };
  size_t sent = 0;
  for (Row const& r : rows) {
    trunks.seen.clear();
    r.event();
    std::string got;
    for (std::string const& t : trunks.seen) got += (got.empty() ? "" : ";") + t;
    EXPECT_EQ(r.signal, got) << r.what;
    sent += trunks.seen.size();
  }
  // Each also went to the controller as the slot's own signal.
  std::vector<Seen> seen = Drain();
  EXPECT_EQ(sent, seen.size());
  for (Seen const& s : seen) EXPECT_EQ(9u, s.slot.value_or(0)) << Describe(s);
}

TEST(SlotFactoryChain, StartupOrderPutsHdlcFirst) {
  // The order of core/main.cpp.
  SlotFactory* made[] = {
      MapFactory::instance(),      PstnFactory::instance(),         RtpFactory::instance(),
      ModemFactory::instance(),    Mixer::MixerFactory::instance(), ExtFactory::instance(),
      MccFactory::instance(),      EchoFactory::instance(),         VoiceFactory::instance(),
      T38SoftFactory::instance(),  IsdnFactory::instance(),         RtpVornFactory::instance(),
      RtpED137Factory::instance(), HdlcSlotFactory::instance(),
  };
  EXPECT_EQ(HdlcSlotFactory::instance(), HdlcSlotFactory::instance());
  SlotFactory* f = SlotFactory::first();
  for (int i = 13; i >= 0; --i, f = f ? f->next() : nullptr) EXPECT_EQ(made[i], f) << i;
  EXPECT_EQ(nullptr, f);
  LGCP::CreateParams p;
  p.select(LGCP::CreateParams::e_hdlcParams);
  for (SlotFactory* g = SlotFactory::first(); g; g = g->next())
    EXPECT_EQ(nullptr, g->NewSlot(1, p));
}

}  // namespace
