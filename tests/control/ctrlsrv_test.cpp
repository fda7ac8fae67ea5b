// The control server's answer and signal rules, seen from the controller's
// side of a real loopback connection, with fake services.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "control/control.h"
#include "control/ctrl_testkit.h"
#include "control/ctrlsrv.h"
#include "control/lgcp_testkit.h"
#include "tests/stream_capture.h"

using namespace ctrltest;
using lgcptest::Seen;

namespace {

constexpr int kInvalidParams = 0;
constexpr int kInvalidSlot = 2;
constexpr int kUnexpectedMsgType = 4;
constexpr int kInternal = 5;
constexpr int kBusError = 10;
constexpr int kMarker = 777;  // `abort` code of the end-of-output marker

// An endpoint with no listener of its own: the test attaches sockets.
class TestEndpoint : public Control::ServiceNet {
 protected:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
};

struct FakeService : CtrlSrv::Service {
  using Behaviour = std::function<bool(FakeService&)>;
  explicit FakeService(Behaviour b = nullptr) : behaviour(std::move(b)) {}

  void OnConnect() override { log->push_back(name + ".connect"); }
  void OnDisconnect() override {
    log->push_back(name + ".disconnect");
    if (signalOnDisconnect) SendSignal(lgcptest::AbortSignal(1));
  }
  bool OnCommand(LGCP::Command const& cmd) override {
    ++commands;
    lastCommand = cmd.currentSelection();
    return behaviour ? behaviour(*this) : false;
  }
  void OnSignal(LGCP::Signal const& s) override { signals.push_back(s.currentSelection()); }

  Behaviour behaviour;
  std::string name = "svc";
  std::vector<std::string>* log = &ownLog;
  std::vector<std::string> ownLog;
  int commands = 0;
  int lastCommand = -1;
  std::vector<int> signals;
  unsigned token = 0;
  bool signalOnDisconnect = false;
};

// Behaviours of the dispatch table.
bool Refuse(FakeService&) {
  return false;
}
bool Accept(FakeService& s) {
  s.Success();
  return true;
}
bool AcceptTwice(FakeService& s) {
  s.Success();
  s.Success();
  return true;
}
bool SuccessThenError(FakeService& s) {
  s.Success();
  s.Error(LGCP::ErrorCause::invalidParams);
  return true;
}
bool ErrorTwice(FakeService& s) {
  s.Error(LGCP::ErrorCause::invalidParams);
  s.Error(LGCP::ErrorCause::busError);
  return true;
}
bool ErrorThenSuccess(FakeService& s) {
  s.Error(LGCP::ErrorCause::invalidParams);
  s.Success();
  return true;
}
bool Silent(FakeService&) {
  return true;
}
bool SuccessButRefuse(FakeService& s) {
  s.Success();
  return false;
}
bool Delay(FakeService& s) {
  s.token = s.delayResponse();
  return true;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    endpoint = new TestEndpoint;
    server.Activate(endpoint);
    pair = std::make_unique<TcpPair>();
    testing::internal::CaptureStderr();
    endpoint->Connected(pair->daemon, pair->peerAddr);
    pair->daemon.close();  // the endpoint holds its own
    connectLog = testing::internal::GetCapturedStderr();
  }
  void TearDown() override { server.Deactivate(); }

  // Everything the controller received up to an end marker sent now.
  std::vector<Seen> Drain() {
    server.SendSignal(1023, lgcptest::AbortSignal(kMarker));
    std::vector<Seen> out;
    for (;;) {
      std::vector<unsigned char> body;
      if (!ReadFrame(pair->peer.get(), body)) {
        ADD_FAILURE() << "marker never arrived";
        return out;
      }
      Seen s = lgcptest::Parse(body);
      if (s.signal == lgcptest::kSigAbort && s.abortCode == kMarker) return out;
      out.push_back(s);
    }
  }
  std::vector<std::string> DrainText() {
    std::vector<std::string> t;
    for (Seen const& s : Drain()) t.push_back(lgcptest::Describe(s));
    return t;
  }

  // Bound services outlive the server's last disconnect in TearDown.
  FakeService& Add(FakeService::Behaviour b = nullptr, std::string name = "svc") {
    owned.push_back(std::make_unique<FakeService>(std::move(b)));
    owned.back()->name = std::move(name);
    server.Bind(owned.back().get());
    return *owned.back();
  }

  std::vector<std::string> events;
  std::vector<std::unique_ptr<FakeService>> owned;
  CtrlSrv::Server server;
  TestEndpoint* endpoint = nullptr;
  std::unique_ptr<TcpPair> pair;
  std::string connectLog;
};

std::string Ok(char const* seq, char const* slot) {
  return std::string("seq=") + seq + " slot=" + slot + " pdu=1 success";
}
std::string Err(char const* seq, char const* slot, int cause) {
  return std::string("seq=") + seq + " slot=" + slot + " pdu=1 error " + std::to_string(cause);
}

struct DispatchCase {
  char const* name;
  std::vector<FakeService::Behaviour> services;
  std::vector<int> expectSeen;  // commands seen by each service
  std::vector<std::string> replies;
  bool softwareError;
};

class Dispatch : public ServerTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(Dispatch, AnswersAsTheRulesSay) {
  DispatchCase const& c = GetParam();
  for (auto const& b : c.services) Add(b);
  testing::internal::CaptureStderr();
  server.OnMessage(lgcptest::Command(lgcptest::kDestroy, 7, 5));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(DrainText(), c.replies);
  for (size_t i = 0; i < owned.size(); ++i)
    EXPECT_EQ(owned[i]->commands, c.expectSeen[i]) << "service " << i;
  EXPECT_EQ(err.find("software error: server do NOT send ack!!!") != std::string::npos,
            c.softwareError)
      << err;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Dispatch,
    ::testing::Values(
        DispatchCase{"accepted", {Accept}, {1}, {Ok("7", "5")}, false},
        DispatchCase{"first refuses", {Refuse, Accept}, {1, 1}, {Ok("7", "5")}, false},
        DispatchCase{"first takes it", {Accept, Accept}, {1, 0}, {Ok("7", "5")}, false},
        DispatchCase{"success twice", {AcceptTwice}, {1}, {Ok("7", "5")}, false},
        DispatchCase{"error after success",
                     {SuccessThenError},
                     {1},
                     {Ok("7", "5"), Err("7", "5", kInvalidParams)},
                     false},
        DispatchCase{"error twice", {ErrorTwice}, {1}, {Err("7", "5", kInvalidParams)}, false},
        DispatchCase{
            "success after error", {ErrorThenSuccess}, {1}, {Err("7", "5", kInvalidParams)}, false},
        DispatchCase{"never answered", {Silent}, {1}, {Err("7", "5", kInternal)}, true},
        DispatchCase{"delayed", {Delay}, {1}, {}, false},
        DispatchCase{"answered but refused",
                     {SuccessButRefuse, Refuse},
                     {1, 1},
                     {Ok("7", "5"), Err("7", "5", kUnexpectedMsgType)},
                     false},
        DispatchCase{"nobody takes it",
                     {Refuse, Refuse},
                     {1, 1},
                     {Err("7", "5", kUnexpectedMsgType)},
                     false},
        DispatchCase{"no services", {}, {}, {Err("7", "5", kUnexpectedMsgType)}, false}),
    [](auto const& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST_F(ServerTest, ContextOfTheCommandIsEchoed) {
  Add(Accept);
  struct Row {
    std::optional<int> seq;
    std::optional<unsigned> slot;
    std::string reply;
  } rows[] = {{7, 5, Ok("7", "5")},         {{}, 5, Ok("none", "5")},     {7, {}, Ok("7", "none")},
              {{}, {}, Ok("none", "none")}, {-5, 1023, Ok("-5", "1023")}, {0, 0, Ok("0", "0")}};
  for (auto const& r : rows) {
    server.OnMessage(lgcptest::Command(lgcptest::kDestroy, r.seq, r.slot));
    EXPECT_EQ(DrainText(), std::vector<std::string>{r.reply});
    EXPECT_FALSE(server.IsSlotPresent() && !r.slot);
  }
}

TEST_F(ServerTest, SlotAboveRangeIsRefusedBeforeAnyService) {
  FakeService& s = Add(Accept);
  for (unsigned slot : {1024u, 0x80000000u}) {
    LGCP::Message m = lgcptest::Command(lgcptest::kDestroy, 3);
    lgcptest::SetSlot(m, slot);
    server.OnMessage(m);
    EXPECT_EQ(DrainText(), std::vector<std::string>{Err("3", "none", kInvalidSlot)}) << slot;
  }
  EXPECT_EQ(s.commands, 0);
}

TEST_F(ServerTest, PduThatIsNoCommandIsUnexpected) {
  FakeService& s = Add(Accept);
  for (int pdu : {lgcptest::kResponse, lgcptest::kSignal}) {
    LGCP::Message m = lgcptest::NotACommand(pdu, 41);
    lgcptest::SetSlot(m, 5);
    server.OnMessage(m);
    EXPECT_EQ(DrainText(), std::vector<std::string>{Err("41", "none", kUnexpectedMsgType)});
  }
  EXPECT_EQ(s.commands, 0);
}

TEST_F(ServerTest, DelayedSuccessCarriesItsOwnCommandsSequence) {
  FakeService& s = Add(Delay);
  Add(Accept);
  // destroy with seq 7 is delayed; destroy without seq too.
  server.OnMessage(lgcptest::Command(lgcptest::kDestroy, 7, 5));
  unsigned withSeq = s.token;
  server.OnMessage(lgcptest::Command(lgcptest::kDestroy, {}, 6));
  unsigned withoutSeq = s.token;
  EXPECT_NE(withSeq, withoutSeq);
  // Another command with another sequence number comes in between.
  s.behaviour = Refuse;
  server.OnMessage(lgcptest::Command(lgcptest::kDestroy, 9, 8));
  EXPECT_EQ(DrainText(), std::vector<std::string>{Ok("9", "8")});

  s.delayedSuccess(6, withoutSeq);
  s.delayedSuccess(5, withSeq);
  EXPECT_EQ(DrainText(), (std::vector<std::string>{Ok("none", "6"), Ok("7", "5")}));
}

TEST_F(ServerTest, LateAnswerOfAnEndedConnectionIsDropped) {
  FakeService& s = Add(Delay);
  server.OnMessage(lgcptest::Command(lgcptest::kDestroy, 7, 5));
  server.OnDisconnect();  // the controller leaves and comes back
  server.OnConnect();
  testing::internal::CaptureStderr();
  s.delayedSuccess(5, s.token);
  EXPECT_EQ("ctrl [" + pair->peerAddr.GetString() +
                "]: late answer for slot 5 dropped: its controller is gone.\n",
            testing::internal::GetCapturedStderr());
  server.OnMessage(lgcptest::Command(lgcptest::kDestroy, 8, 6));
  s.delayedSuccess(6, s.token);
  EXPECT_EQ(DrainText(), std::vector<std::string>{Ok("8", "6")});
}

TEST_F(ServerTest, SignalsReachEveryOtherServiceFirst) {
  FakeService& a = Add(nullptr, "a");
  FakeService& b = Add(nullptr, "b");
  FakeService& c = Add(nullptr, "c");
  LGCP::Signal sig = lgcptest::AbortSignal(1);
  b.SendSignal(sig);
  EXPECT_EQ(a.signals, std::vector<int>{lgcptest::kSigAbort});
  EXPECT_TRUE(b.signals.empty());
  EXPECT_EQ(c.signals, std::vector<int>{lgcptest::kSigAbort});
  b.SendSignal(44, sig);
  auto seen = Drain();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(lgcptest::Describe(seen[0]), "seq=none slot=none pdu=2 signal 7");
  EXPECT_EQ(lgcptest::Describe(seen[1]), "seq=none slot=44 pdu=2 signal 7");
  EXPECT_EQ(a.signals.size(), 2u);
}

TEST_F(ServerTest, SignalDuringACommandCarriesItsSlot) {
  Add([](FakeService& self) {
    self.SendSignal(lgcptest::AbortSignal(2));
    self.Success();
    return true;
  });
  auto bytes = lgcptest::Encode(lgcptest::Command(lgcptest::kDestroy, 3, 9));
  server.OnMessage(reinterpret_cast<char const*>(bytes.data()), int(bytes.size()));
  EXPECT_EQ(DrainText(),
            (std::vector<std::string>{"seq=none slot=9 pdu=2 signal 7", Ok("3", "9")}));
  // Once the message is handled the slot is gone again.
  EXPECT_FALSE(server.IsSlotPresent());
}

TEST_F(ServerTest, UndecodablePayloadIsLoggedNotAnswered) {
  FakeService& s = Add(Accept);
  std::string peer = pair->peerAddr.GetString();
  testing::internal::CaptureStderr();
  server.OnMessage("\xFF\xFF", 2);
  server.OnMessage("", 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "ctrl [" + peer +
                     "]: receive fail: decode error!\n msg: FF FF \n"
                     "ctrl [" +
                     peer + "]: receive fail: decode error!\n msg: \n");
  EXPECT_TRUE(Drain().empty());
  EXPECT_EQ(s.commands, 0);
  // The next good command is handled normally, and its slot is not kept.
  server.OnMessage("\xC0\x01\x07\x00\x05\x18", 6);
  EXPECT_EQ(DrainText(), std::vector<std::string>{Ok("7", "5")});
  EXPECT_EQ(server.GetSlot(), CtrlSrv::Server::noSlot);
}

TEST_F(ServerTest, ReplyThatCannotBeEncodedIsLogged) {
  FakeService& s = Add(Delay);
  server.OnMessage(lgcptest::Command(lgcptest::kDestroy, 1, 1));
  testing::internal::CaptureStderr();
  s.delayedSuccess(2000, s.token);  // no slot number that high
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("]: send fail: encode error!"), std::string::npos) << err;
  EXPECT_NE(err.find("slot 2000"), std::string::npos) << err;
  EXPECT_TRUE(Drain().empty());
}

TEST_F(ServerTest, ConnectAndDisconnectReachServicesInBindOrder) {
  std::vector<std::string>& log = events;
  Add(nullptr, "a").log = &log;
  Add(nullptr, "b").log = &log;
  owned[0]->signalOnDisconnect = true;
  TcpPair second;
  EXPECT_EQ(multiplexer.timers_count(), 1u) << "the statistics timer runs while connected";
  Capture err(std::cerr);
  server.Deactivate();
  EXPECT_EQ(multiplexer.timers_count(), 0u);
  EXPECT_EQ(log, (std::vector<std::string>{"a.disconnect", "b.disconnect"}));
  EXPECT_EQ(server.GetTransport(), nullptr);
  // The endpoint is stopped before the services hear of it: what they
  // send then no longer reaches the controller.
  EXPECT_EQ(err.Take(), "Control::Service::Send() ignore Send request in Idle state.\n");
  std::vector<unsigned char> body;
  EXPECT_FALSE(ReadFrame(pair->peer.get(), body));
  EXPECT_TRUE(SeesEof(pair->peer.get()));
  owned[0]->signalOnDisconnect = false;

  log.clear();
  endpoint = new TestEndpoint;
  server.Activate(endpoint);
  Capture clog(std::clog);
  endpoint->Connected(second.daemon, second.peerAddr);
  second.daemon.close();
  EXPECT_EQ(log, (std::vector<std::string>{"a.connect", "b.connect"}));
  EXPECT_EQ(clog.Take(), "ctrl [" + second.peerAddr.GetString() + "]: controller connect.\n");
}

TEST_F(ServerTest, HeaderAndConnectionState) {
  std::ostringstream h;
  server.PutHeader(h);
  EXPECT_EQ(h.str(), "ctrl [" + pair->peerAddr.GetString() + "]: ");
  FakeService unbound;
  bool connected = false;
  EXPECT_FALSE(unbound.CheckServerConnection(connected));  // no message
  FakeService& s = Add();
  EXPECT_TRUE(s.CheckServerConnection(connected));
  EXPECT_TRUE(connected);

  endpoint->Disconnect();
  LoopRunner().Turn();
  std::ostringstream n;
  server.PutHeader(n);
  EXPECT_EQ(n.str(), "ctrl [not connected]: ");
  EXPECT_TRUE(s.CheckServerConnection(connected));
  EXPECT_FALSE(connected);

  server.Deactivate();
  std::ostringstream z;
  server.PutHeader(z);
  EXPECT_EQ(z.str(), "ctrl [null]: ");
  EXPECT_FALSE(s.CheckServerConnection(connected));
}

TEST(ServerAlone, SendsNothingWithoutEndpointButServicesSeeSignals) {
  CtrlSrv::Server server;
  FakeService a, b;
  server.Bind(&a);
  server.Bind(&b);
  testing::internal::CaptureStderr();
  a.SendSignal(lgcptest::AbortSignal(1));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(b.signals.size(), 1u);
  EXPECT_EQ(err, "ctrl [null]: send fail: Service not attached!\n");
}

TEST(ServiceAlone, UnboundServiceSaysSoAndSendsNothing) {
  FakeService s;
  testing::internal::CaptureStderr();
  s.Success();
  s.Error(LGCP::ErrorCause::internal);
  s.SendSignal(lgcptest::AbortSignal(1));
  EXPECT_EQ(s.delayResponse(), 0xFFFFFFFFu);
  EXPECT_EQ(s.GetSlot(), 0xFFFFFFFFu);
  EXPECT_FALSE(s.IsSlotPresent());
  std::string err = testing::internal::GetCapturedStderr();
  std::string line = "CtrlSrv::Service error! service not connected to server.\n";
  std::string expected;
  for (int i = 0; i < 6; ++i) expected += line;
  EXPECT_EQ(err, expected);
}

}  // namespace
