// The stream and TPKT layers over a socket pair, driven by the real loop.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "control/ctrl_testkit.h"
#include "control/protocol.h"
#include "control/strm.h"
#include "control/tpkt.h"
#include "core/fd.h"
#include "test_support.h"

namespace {

// The family at the top of the stack: records bodies and statuses.
class Endpoint : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override { bodies.push_back(hex(bytes_of(p))); }
  void on_activate() override { ++activated; }
  void on_deactivated(Protocol* p, Protocol_status st) override {
    from.push_back(p);
    statuses.push_back(st.get()->message());
    ok.push_back(st.get()->success());
  }
  std::vector<std::string> bodies;
  std::vector<Protocol*> from;
  std::vector<std::string> statuses;
  std::vector<bool> ok;
  int activated = 0;
};

class StackTest : public PoolTest {
 protected:
  void SetUp() override {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    ASSERT_TRUE(NonBlockMode(sv[0]));
    peer.reset(sv[1]);
    strm = static_cast<StrmProtocol*>(ep.add_protocol_tail(new StrmProtocol(Fd(sv[0]))));
    strm->set_service_name("test");
    tpkt = static_cast<Tpkt_protocol*>(ep.add_protocol_tail(new Tpkt_protocol));
    ep.activate();
  }

  void TearDown() override {
    ep.deactivate();
    PoolTest::TearDown();
  }

  void feed(std::vector<u8> const& bytes) {
    ASSERT_EQ(send(peer.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }

  // Lets the stack read everything sent so far.
  bool drain() {
    return loop.run_until([this] {
      int n = -1;
      return !strm->attached() || (ioctl(strm->fd(), FIONREAD, &n) == 0 && n == 0);
    });
  }

  Packet payload(unsigned len, u8 first = 0) {
    Packet p;
    ep.prepare_head(p);
    for (unsigned i = 0; i < len; ++i) p.put8(u8(first + i));
    return p;
  }

  // Everything the peer can read within `limit_ms`, until `want` bytes.
  std::vector<u8> peer_read(size_t want, int limit_ms = 5000) {
    std::vector<u8> got;
    u8 buf[65536];
    while (got.size() < want) {
      pollfd pfd = {peer.get(), POLLIN, 0};
      if (poll(&pfd, 1, limit_ms) != 1) break;
      ssize_t n = recv(peer.get(), buf, sizeof buf, 0);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  // Sends while the peer reads on another thread, for packets larger
  // than the socket can hold at once.
  std::vector<u8> send_and_read(Packet& p, size_t want) {
    std::vector<u8> got;
    std::thread reader([&] { got = peer_read(want); });
    ep.message(p);
    reader.join();
    return got;
  }

  // A small send buffer makes a large packet meet a full socket.
  void shrink_buffers() {
    int small = 4096;
    ASSERT_EQ(setsockopt(strm->fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    ASSERT_EQ(setsockopt(peer.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
  }

  Endpoint ep;
  StrmProtocol* strm = nullptr;
  Tpkt_protocol* tpkt = nullptr;
  Fd peer;
  LoopRunner loop;
};

struct RxCase {
  char const* name;
  std::vector<std::vector<u8>> reads;  // each arrives in a read of its own
  std::vector<std::string> bodies;
  std::string log;
};

typedef std::vector<std::vector<u8>> Reads;

// A header whose length field is 4 completes a frame: its empty body is
// delivered with the last header byte, not held back until a later byte
// arrives (which could be never, and the frame lost to the frame timer).
TEST_F(StackTest, ReceiveTable) {
  RxCase const cases[] = {
      {"one frame", Reads{{3, 0, 0, 7, 0x41, 0x42, 0x43}}, {"41 42 43"}, ""},
      {"one frame a byte per read",
       Reads{{3}, {0}, {0}, {7}, {0x41}, {0x42}, {0x43}},
       {"41 42 43"},
       ""},
      {"two frames in one write", Reads{{3, 0, 0, 5, 1, 3, 0, 0, 6, 2, 3}}, {"01", "02 03"}, ""},
      {"garbage before a frame",
       Reads{{5, 3, 0, 0, 7, 0x41, 0x42, 0x43}},
       {"41 42 43"},
       "(no name) bad TPKT packet start.\n"},
      {"garbage bytes one line each",
       Reads{{0xFF, 0x00}},
       {},
       "(no name) bad TPKT packet start.\n(no name) bad TPKT packet start.\n"},
      {"bad reserved byte",
       Reads{{3, 1, 3, 0, 0, 5, 0x41}},
       {"41"},
       "(no name) bad TPKT reserved.\n"},
      {"bad reserved byte that starts a frame",
       Reads{{3, 3, 0, 0, 5, 0x41}},
       {},
       "(no name) bad TPKT reserved.\n(no name) bad TPKT packet start.\n"
       "(no name) bad TPKT packet start.\n(no name) bad TPKT packet start.\n"
       "(no name) bad TPKT packet start.\n"},
      {"length below the header",
       Reads{{3, 0, 0, 3, 3, 0, 0, 5, 0x41}},
       {"41"},
       "TPKT too small 3\n"},
      {"length zero", Reads{{3, 0, 0, 0}}, {}, "TPKT too small 0\n"},
      {"empty body, its header split", Reads{{3, 0, 0}, {4}}, {""}, ""},
      {"empty body before a frame", Reads{{3, 0, 0, 4, 3, 0, 0, 5, 0x41}}, {"", "41"}, ""},
  };
  for (RxCase const& c : cases) {
    SCOPED_TRACE(c.name);
    ep.bodies.clear();
    Capture log(std::clog);
    for (size_t i = 0; i < c.reads.size(); ++i) {
      feed(c.reads[i]);
      ASSERT_TRUE(drain());
      if (i + 1 < c.reads.size()) {
        EXPECT_TRUE(tpkt->frame_pending()) << "after read " << i;
        EXPECT_TRUE(ep.bodies.empty()) << "after read " << i;
      }
    }
    EXPECT_EQ(ep.bodies, c.bodies);
    EXPECT_EQ(log.lines(), c.log);
    EXPECT_EQ(tpkt->state(), Tpkt_protocol::st_idle);
    EXPECT_FALSE(tpkt->frame_pending());
  }
  EXPECT_TRUE(ep.statuses.empty()) << "the connection must stay up";
}

// One readable event costs one read of at most a block: the largest frame
// and one byte of the next come with the first event, the rest of the
// next frame only with the second.
TEST_F(StackTest, OneReadPerReadableEvent) {
  std::vector<u8> bytes = {3, 0, 0xFF, 0xFF};
  bytes.resize(65535, 0x5A);
  for (u8 b : {3, 0, 0, 6, 1, 2}) bytes.push_back(b);
  feed(bytes);
  strm->on_event(strm->fd(), POLLIN);
  ASSERT_EQ(ep.bodies.size(), 1u);
  EXPECT_EQ(ep.bodies[0].size(), 65531u * 3 - 1);
  EXPECT_EQ(tpkt->state(), Tpkt_protocol::st_reserved);
  EXPECT_TRUE(tpkt->frame_pending());
  strm->on_event(strm->fd(), POLLIN);
  ASSERT_EQ(ep.bodies.size(), 2u);
  EXPECT_EQ(ep.bodies[1], "01 02");
  EXPECT_FALSE(tpkt->frame_pending());
  EXPECT_EQ(strm->read_measure().counter, 2u);
}

TEST_F(StackTest, LargestFrameArrivesWhole) {
  std::vector<u8> frame = {3, 0, 0xFF, 0xFF};
  for (unsigned i = 0; i < 65531; ++i) frame.push_back(u8(i * 7));
  std::thread writer([&] {
    size_t off = 0;
    while (off < frame.size()) {
      ssize_t n =
          send(peer.get(), frame.data() + off, std::min<size_t>(5000, frame.size() - off), 0);
      if (n <= 0) break;
      off += size_t(n);
    }
  });
  ASSERT_TRUE(loop.run_until([&] { return !ep.bodies.empty(); }));
  writer.join();
  ASSERT_EQ(ep.bodies.size(), 1u);
  EXPECT_EQ(ep.bodies[0], hex(std::vector<u8>(frame.begin() + 4, frame.end())));
}

// Waits the real frame timer. Every read that leaves the frame unfinished
// restarts the 3000 ms: the second read comes well after the first, so a
// count from the first read would end too early after the second.
TEST_F(StackTest, UnfinishedFrameTimesOut) {
  Capture log(std::clog);
  feed({3, 0, 0, 7});
  ASSERT_TRUE(drain());
  EXPECT_TRUE(tpkt->frame_pending());
  EXPECT_FALSE(loop.run_until([] { return false; }, 1500));
  uint32_t start = Mux::milliseconds();
  feed({0x41});
  ASSERT_TRUE(drain());
  ASSERT_TRUE(loop.run_until(
      [&] { return log.text().find("TPKT packet timeout") != std::string::npos; }, 10000));
  EXPECT_GE(Mux::milliseconds() - start, 2990u);
  EXPECT_EQ(log.lines(), " TPKT packet timeout.\n");
  EXPECT_EQ(tpkt->state(), Tpkt_protocol::st_idle);
  EXPECT_FALSE(tpkt->frame_pending());
  EXPECT_TRUE(ep.bodies.empty());

  feed({3, 0, 0, 5, 0x99});
  ASSERT_TRUE(drain());
  EXPECT_EQ(ep.bodies, std::vector<std::string>({"99"}));
  EXPECT_TRUE(ep.statuses.empty());
}

TEST_F(StackTest, SendOfLargestBodyAndRefusalOfALargerOne) {
  Capture log(std::clog);
  Packet big = payload(65532);
  ep.message(big);
  EXPECT_EQ(ctrltest::Measured("Tpkt_protocol::message"), 1u)
      << "a refused message is measured too";
  EXPECT_EQ(log.lines(),
            "(no name) TPKT message too big, length = 65532 max = 65531, "
            "dropped.\n");
  int queued = -1;
  ASSERT_EQ(ioctl(peer.get(), FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 0) << "nothing of a refused message may reach the wire";

  Packet max = payload(65531, 5);
  std::vector<u8> got = send_and_read(max, 65535);
  EXPECT_EQ(ctrltest::Measured("Tpkt_protocol::message"), 2u);
  ASSERT_EQ(got.size(), 65535u);
  EXPECT_EQ(hex({got[0], got[1], got[2], got[3]}), "03 00 FF FF");
  EXPECT_EQ(got[4], 5);
  EXPECT_TRUE(ep.statuses.empty());
}

TEST_F(StackTest, WriteMeetingAFullBufferCompletesInOrder) {
  shrink_buffers();
  Packet p = payload(60000, 1);
  std::vector<u8> got = send_and_read(p, 60004);
  ASSERT_EQ(got.size(), 60004u);
  EXPECT_EQ(hex({got[0], got[1], got[2], got[3]}), "03 00 EA 64");
  bool in_order = true;
  for (unsigned i = 0; i < 60000; ++i) in_order &= got[4 + i] == u8(1 + i);
  EXPECT_TRUE(in_order);
  EXPECT_EQ(strm->write_measure().counter, 1u) << "one whole packet, one measure";
  EXPECT_EQ(strm->failed_writes(), 0u);
  EXPECT_TRUE(ep.statuses.empty());
}

// Both ways a write fails: logged with the buffer figures on standard
// error, counted, the socket detached, and the error status reaches the
// family from the top layer.
struct WriteFailure {
  char const* name;
  bool peer_stops_reading;  // else the peer has closed
  unsigned body;
  std::string log_start;
  std::string log_end;
  std::string status;
  unsigned min_ms;      // the whole wait for buffer space is spent first
  bool signal = false;  // a signal interrupts the wait after 200 ms
};

std::string RowName(WriteFailure const& w) {
  if (w.signal) return "SignalDuringTheWait";
  return w.peer_stops_reading ? "PeerStopsReading" : "PeerClosed";
}

void NoAction(int) {}

class WriteFailureTest : public StackTest, public testing::WithParamInterface<WriteFailure> {};

TEST_P(WriteFailureTest, EndsTheConnection) {
  WriteFailure const& w = GetParam();
  if (w.peer_stops_reading)
    shrink_buffers();
  else
    peer.close();
  Capture err(std::cerr);
  Packet p = payload(w.body);
  struct sigaction alarm = {}, old = {};
  alarm.sa_handler = NoAction;  // without SA_RESTART: the poll fails with EINTR
  itimerval once = {{0, 0}, {0, 200000}};
  if (w.signal) {
    ASSERT_EQ(sigaction(SIGALRM, &alarm, &old), 0);
    ASSERT_EQ(setitimer(ITIMER_REAL, &once, nullptr), 0);
  }
  uint32_t start = Mux::milliseconds();
  ep.message(p);
  uint32_t spent = Mux::milliseconds() - start;
  if (w.signal) sigaction(SIGALRM, &old, nullptr);
  EXPECT_GE(spent, w.min_ms);
  EXPECT_LT(spent, 5000u);
  std::string const text = err.text();
  EXPECT_EQ(text.rfind(w.log_start, 0), 0u) << text;
  EXPECT_NE(text.find(", recvbuf="), std::string::npos) << text;
  EXPECT_NE(text.find(", free="), std::string::npos) << text;
  EXPECT_NE(text.find(", inq="), std::string::npos) << text;
  ASSERT_GE(text.size(), w.log_end.size());
  EXPECT_EQ(text.substr(text.size() - w.log_end.size()), w.log_end) << text;
  EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line";
  EXPECT_EQ(text.find(", error=") == std::string::npos, w.peer_stops_reading);
  EXPECT_EQ(strm->failed_writes(), 1u);
  EXPECT_EQ(strm->write_measure().counter, 1u);
  EXPECT_FALSE(strm->attached());
  ASSERT_EQ(ep.statuses.size(), 1u);
  EXPECT_EQ(ep.statuses[0], w.status);
  EXPECT_FALSE(ep.ok[0]);
  EXPECT_EQ(ep.from[0], tpkt);
}

INSTANTIATE_TEST_SUITE_P(
    Stack, WriteFailureTest,
    testing::Values(WriteFailure{"peer stops reading", true, 60000,
                                 "SockStream[test]: write timeout, sendbuf=", "\n", "write timeout",
                                 990},
                    WriteFailure{"peer closed", false, 10,
                                 "SockStream[test]: write error, sendbuf=", ", error=Broken pipe\n",
                                 "write error: Broken pipe", 0},
                    WriteFailure{"signal during the wait", true, 60000,
                                 "SockStream[test]: write timeout, sendbuf=", "\n", "write timeout",
                                 990, true}),
    [](testing::TestParamInfo<WriteFailure> const& info) { return RowName(info.param); });

TEST_F(StackTest, PeerThatClosesEndsTheConnection) {
  EXPECT_EQ(ep.activated, 0) << "the activation climb ends at the TPKT layer";
  // Hang-up wins over pending input: nothing more is read.
  feed({3, 0, 0, 5, 0x66});
  peer.close();
  ASSERT_TRUE(loop.run_until([&] { return !ep.statuses.empty(); }));
  EXPECT_EQ(ep.statuses[0].rfind("pollhup: ", 0), 0u) << ep.statuses[0];
  EXPECT_FALSE(ep.ok[0]);
  EXPECT_FALSE(strm->attached());
  EXPECT_TRUE(ep.bodies.empty());
  // Detached: no further event arrives for the socket.
  EXPECT_FALSE(loop.run_until([&] { return ep.statuses.size() > 1; }, 50));
}

TEST_F(StackTest, PeerThatShutsDownItsSideIsAReadError) {
  feed({3, 0, 0, 5, 0x77});
  ASSERT_EQ(shutdown(peer.get(), SHUT_WR), 0);
  ASSERT_TRUE(loop.run_until([&] { return !ep.statuses.empty(); }));
  EXPECT_EQ(ep.bodies, std::vector<std::string>({"77"}));
  EXPECT_EQ(ep.statuses[0].rfind("read error: ", 0), 0u) << ep.statuses[0];
  EXPECT_EQ(ep.from[0], tpkt);
}

TEST_F(StackTest, DeactivationReleasesTheSocketBottomLast) {
  feed({3, 0, 0, 7});
  ASSERT_TRUE(drain());
  EXPECT_TRUE(tpkt->frame_pending());
  ep.deactivate();
  EXPECT_FALSE(tpkt->frame_pending());
  EXPECT_EQ(tpkt->state(), Tpkt_protocol::st_idle);
  EXPECT_FALSE(strm->attached());
  ASSERT_EQ(ep.statuses.size(), 1u);
  EXPECT_EQ(ep.statuses[0], "success");
  EXPECT_TRUE(ep.ok[0]);
  EXPECT_EQ(ep.from[0], strm);
}

TEST(Stack, ActivationWithoutSocketFails) {
  Endpoint ep;
  StrmProtocol* strm = static_cast<StrmProtocol*>(ep.add_protocol_tail(new StrmProtocol));
  Tpkt_protocol* tpkt = static_cast<Tpkt_protocol*>(ep.add_protocol_tail(new Tpkt_protocol));
  ep.activate();
  ASSERT_EQ(ep.statuses.size(), 1u);
  EXPECT_EQ(ep.statuses[0], "fd not attached");
  EXPECT_FALSE(ep.ok[0]);
  EXPECT_EQ(ep.from[0], tpkt);
  EXPECT_FALSE(strm->attached());
}

TEST(Stack, AttachKeepsItsOwnDuplicate) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  Fd mine(sv[0]), other(sv[1]);
  StrmProtocol strm;
  strm.attach(mine);
  ASSERT_TRUE(strm.attached());
  EXPECT_NE(strm.fd(), mine.get());
  strm.release();
  EXPECT_FALSE(strm.attached());
  EXPECT_TRUE(mine.NonBlock());  // the caller's descriptor is still open
}

}  // namespace

namespace {

// A family that reacts to the first body by deactivating or by deleting
// its TPKT layer, as an endpoint dropping its connection would.
class Reacting : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override {
    bodies.push_back(hex(bytes_of(p)));
    if (action == 1) deactivate();
    if (action == 2) delete top();
  }
  int action = 0;
  std::vector<std::string> bodies;
};

class TpktReentryTest : public PoolTest {};

TEST_F(TpktReentryTest, InputAfterAResetDuringDeliveryIsDropped) {
  for (int action : {1, 2}) {
    SCOPED_TRACE(action);
    Reacting ep;
    Tpkt_protocol* tpkt = static_cast<Tpkt_protocol*>(ep.add_protocol_tail(new Tpkt_protocol));
    ep.action = action;
    Packet in;
    in.reserve_head(0);
    u8 const two[] = {3, 0, 0, 5, 1, 3, 0, 0, 5, 2, 3, 0};
    in.put(two, sizeof two);
    ep.receive(in);
    EXPECT_EQ(ep.bodies, std::vector<std::string>({"01"}));
    if (action == 1) {
      EXPECT_EQ(tpkt->state(), Tpkt_protocol::st_idle);
      EXPECT_FALSE(tpkt->frame_pending());
    } else {
      EXPECT_EQ(ep.layers(), 0u);
    }
  }
}

}  // namespace
