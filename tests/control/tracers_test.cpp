#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "control/tracers.h"
#include "core/fd.h"
#include "core/inet.h"
#include "test_support.h"

namespace {

std::vector<u8> frame(std::vector<u8> const& body, int length = -1) {
  unsigned len = length < 0 ? unsigned(body.size() + 4) : unsigned(length);
  std::vector<u8> f;
  f.reserve(body.size() + 4);
  f.push_back(3);
  f.push_back(0);
  f.push_back(u8(len >> 8));
  f.push_back(u8(len));
  for (u8 b : body) f.push_back(b);
  return f;
}

class Client {
 public:
  explicit Client(unsigned short port, int rcvbuf = 0) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    if (rcvbuf) setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    INet4::Addr to(INADDR_LOOPBACK, port);
    connected = connect(fd_.get(), to.get(), INet4::Addr::length()) == 0;
    INet4::Addr me;
    socklen_t len = INet4::Addr::length();
    getsockname(fd_.get(), me.get(), &len);
    local = me;
  }
  void send(std::vector<u8> const& bytes) {
    ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  // Closes with a reset: the server's socket hangs up.
  void reset() {
    linger l = {1, 0};
    setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd_.close();
  }
  // Bytes readable at once (after at most `wait_ms` for the first ones).
  std::vector<u8> read(int wait_ms = 2000) {
    std::vector<u8> got;
    u8 buf[4096];
    pollfd p = {fd_.get(), POLLIN, 0};
    if (poll(&p, 1, wait_ms) != 1) return got;
    ssize_t n = recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) got.assign(buf, buf + n);
    return got;
  }
  // True once the server closed its end.
  bool closed(int wait_ms = 2000) {
    pollfd p = {fd_.get(), POLLIN, 0};
    if (poll(&p, 1, wait_ms) != 1) return false;
    u8 b;
    // Unread bytes make the server's close a reset.
    ssize_t n = recv(fd_.get(), &b, 1, MSG_DONTWAIT | MSG_PEEK);
    return n == 0 || (n < 0 && errno == ECONNRESET);
  }

  bool connected = false;
  INet4::Addr local;

 private:
  Fd fd_;
};

class Recorder : public TPKTTracer::Listener {
 public:
  void OnTPKTMessage(void const* data, unsigned int len) override {
    u8 const* b = static_cast<u8 const*>(data);
    bodies.push_back(hex(std::vector<u8>(b, b + len)));
    if (tracer && reply) tracer->Send(reply_text.data(), unsigned(reply_text.size()));
  }
  std::vector<std::string> bodies;
  TPKTTracer* tracer = nullptr;
  bool reply = false;
  std::string reply_text = "R";
};

// A tracer listening on a free port, its recording listener, and clients
// that join once the tracer has accepted them.
template <class Tracer, class Rec>
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tracer.Listen(0));
    port = tracer.LocalPort();
    ASSERT_NE(port, 0);
    tracer.SetListener(&rec);
    rec.tracer = &tracer;
  }
  std::unique_ptr<Client> join() {
    unsigned before = tracer.ConnectionCount();
    auto c = std::make_unique<Client>(port);
    EXPECT_TRUE(c->connected);
    EXPECT_TRUE(loop.run_until([&] { return tracer.ConnectionCount() > before; }));
    return c;
  }

  Capture log{std::clog};
  Tracer tracer;
  Rec rec;
  unsigned short port = 0;
  LoopRunner loop;
};

class TracerTest : public ServerTest<TPKTTracer, Recorder> {};

TEST_F(TracerTest, FramesAreDeliveredAndMalformedOnesCloseTheConnection) {
  struct Row {
    char const* name;
    std::vector<u8> input;
    std::vector<std::string> bodies;
    bool closes;
    bool reset = false;  // the client resets the connection after its input
  } rows[] = {
      {"two frames",
       [] {
         auto a = frame({1, 2});
         for (u8 x : frame({3})) a.push_back(x);
         return a;
       }(),
       {"01 02", "03"},
       false},
      {"empty frame skipped", frame({}), {}, false},
      {"512-byte body",
       frame(std::vector<u8>(512, 0xAA)),
       {hex(std::vector<u8>(512, 0xAA))},
       false},
      {"513-byte body", frame(std::vector<u8>(513, 0xAA)), {}, true},
      {"bad reserved", {3, 1, 0, 5, 0}, {}, true},
      {"bad version", {4, 0, 0, 5, 0}, {}, true},
      {"length below 4", frame({}, 3), {}, true},
      {"hang-up before the frame is read", frame({1}), {}, true, true},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.name);
    rec.bodies.clear();
    auto c = join();
    c->send(r.input);
    if (r.reset) c->reset();
    if (r.closes) {
      EXPECT_TRUE(loop.run_until([&] { return tracer.ConnectionCount() == 0; }));
      EXPECT_TRUE(r.reset || c->closed());
    } else {
      EXPECT_TRUE(loop.run_until([&] { return rec.bodies.size() >= r.bodies.size(); }, 2000));
      EXPECT_FALSE(loop.run_until([&] { return rec.bodies.size() > r.bodies.size(); }, 20));
      c.reset();
      EXPECT_TRUE(loop.run_until([&] { return tracer.ConnectionCount() == 0; }));
    }
    EXPECT_EQ(rec.bodies, r.bodies);
  }
  EXPECT_NE(log.text().find("ACP connection open from 127.0.0.1:"), std::string::npos);
}

TEST_F(TracerTest, FrameSplitAcrossReads) {
  auto c = join();
  std::vector<u8> f = frame({9, 8, 7});
  for (u8 b : f) {
    c->send({b});
    loop.run_until([] { return false; }, 5);
  }
  EXPECT_TRUE(loop.run_until([&] { return rec.bodies.size() == 1; }));
  EXPECT_EQ(rec.bodies[0], "09 08 07");
}

// Replies the sender does not read fill the socket: the one that cannot
// go whole closes the connection, and no later frame is read from it.
TEST_F(TracerTest, ShortReplyDuringDeliveryClosesTheSender) {
  Client c(port, 1024);
  ASSERT_TRUE(c.connected);
  ASSERT_TRUE(loop.run_until([&] { return tracer.ConnectionCount() == 1; }));
  rec.reply = true;
  rec.reply_text.assign(65531, 'r');
  std::vector<u8> frames;
  for (int i = 0; i < 100; ++i)
    for (u8 x : frame({1})) frames.push_back(x);
  c.send(frames);
  ASSERT_TRUE(loop.run_until([&] { return tracer.ConnectionCount() == 0; }));
  EXPECT_LT(rec.bodies.size(), 100u);
}

TEST_F(TracerTest, ReplyDuringDeliveryReachesOnlyTheSender) {
  auto a = join();
  auto b = join();
  rec.reply = true;
  a->send(frame({1}));
  ASSERT_TRUE(loop.run_until([&] { return rec.bodies.size() == 1; }));
  EXPECT_EQ(hex(a->read()), "03 00 00 05 52");
  EXPECT_TRUE(b->read(50).empty());

  tracer.Send("xy", 2);
  EXPECT_EQ(hex(a->read()), "03 00 00 06 78 79");
  EXPECT_EQ(hex(b->read()), "03 00 00 06 78 79");

  std::string huge(65532, 'z');
  tracer.Send(huge.data(), unsigned(huge.size()));
  EXPECT_TRUE(a->read(50).empty()) << "a length that wraps is never sent";
  EXPECT_EQ(tracer.ConnectionCount(), 2u);
}

class P2PRecorder : public TPKTTracerP2P::Listener {
 public:
  void OnTPKTConnected(INet4::Addr const& peer, int fd) override {
    events.push_back("connected " + peer.GetString());
    INet4::Addr other;  // the descriptor handed over is that peer's connection
    socklen_t len = INet4::Addr::length();
    EXPECT_EQ(getpeername(fd, other.get(), &len), 0);
    EXPECT_EQ(other.GetString(), peer.GetString());
  }
  void OnTPKTClosed(INet4::Addr const& peer) override {
    events.push_back("closed " + peer.GetString());
  }
  void OnTPKTMessage(INet4::Addr const& peer, void const* data, unsigned int len) override {
    u8 const* b = static_cast<u8 const*>(data);
    events.push_back("message " + peer.GetString() + " " + hex(std::vector<u8>(b, b + len)));
    if (tracer && close_on_message) tracer->Close(peer);
  }
  std::vector<std::string> events;
  TPKTTracerP2P* tracer = nullptr;
  bool close_on_message = false;
};

class P2PTest : public ServerTest<TPKTTracerP2P, P2PRecorder> {};

TEST_F(P2PTest, PeersAreAddressedByAddressAndPort) {
  auto a = join();
  auto b = join();
  std::string pa = a->local.GetString(), pb = b->local.GetString();
  EXPECT_EQ(rec.events, (std::vector<std::string>{"connected " + pa, "connected " + pb}));
  EXPECT_TRUE(tracer.IsConnected(a->local));
  EXPECT_EQ(tracer.Send(b->local, "hi", 2), 6);
  EXPECT_EQ(hex(b->read()), "03 00 00 06 68 69");
  EXPECT_TRUE(a->read(50).empty());

  std::vector<u8> body(2048, 0x11);
  a->send(frame(body));
  ASSERT_TRUE(loop.run_until([&] { return rec.events.size() == 3; }));
  EXPECT_EQ(rec.events[2], "message " + pa + " " + hex(body));

  EXPECT_EQ(tracer.Close(b->local), 0);
  EXPECT_TRUE(b->closed());
  EXPECT_EQ(tracer.Close(b->local), -EFAULT);
  EXPECT_EQ(tracer.Send(b->local, "x", 1), -EFAULT);
  EXPECT_EQ(rec.events[3], "closed " + pb);
  EXPECT_NE(log.text().find("TPKT peer-to-peer connection open from " + pa), std::string::npos);
  EXPECT_NE(log.text().find("TPKT peer-to-peer connection close for " + pb), std::string::npos);
  log.clear();
  EXPECT_EQ(tracer.Send(a->local, std::string(65532, 'x').data(), 65532), -EMSGSIZE);
  EXPECT_EQ(log.text(), "TPKT peer-to-peer message too big for " + pa +
                            ", length = 65532 max = 65531, dropped.\n");
}

TEST_F(P2PTest, OversizedBodyAndListenerCloseInsideDelivery) {
  auto a = join();
  a->send(frame(std::vector<u8>(2049, 0)));
  ASSERT_TRUE(loop.run_until([&] { return tracer.ConnectionCount() == 0; }));
  EXPECT_EQ(rec.events.back(), "closed " + a->local.GetString());

  auto b = join();
  rec.close_on_message = true;
  auto two = frame({1});
  for (u8 x : frame({2})) two.push_back(x);
  b->send(two);
  ASSERT_TRUE(loop.run_until([&] { return tracer.ConnectionCount() == 0; }));
  EXPECT_EQ(rec.events.back(), "closed " + b->local.GetString());
  EXPECT_EQ(rec.events[rec.events.size() - 2], "message " + b->local.GetString() + " 01");
}

}  // namespace
