#include "core/async.h"

#include "core/multiplexer.h"
#include "core/timer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

namespace {

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }

  // Runs the loop until a handler stops it, at most limit ms.
  // An idle descriptor stays polled meanwhile, so that a loop left with no
  // work of the test's own still sleeps until the guard fires.
  void RunLoop(unsigned limit = 10000) {
    timedOut = false;
    int p[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC));
    Event idle;
    idle.Schedule(p[0], POLLIN);
    guard.set(limit, &LoopTest::OnGuard, this);
    multiplexer.run(false, true);
    guard.reset();
    idle.Release();
    close(p[0]);
    close(p[1]);
  }
  void OnGuard() {
    timedOut = true;
    multiplexer.terminate();
  }

  Timer guard;
  bool timedOut = false;
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char((i * 7 + i / 251) & 0xff);
  return s;
}

std::string ReadAll(int fd) {
  BlockMode(fd);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  return out;
}

// Most copies run from a non-blocking pipe into one end of a socket pair.
class CopyTest : public LoopTest {
 protected:
  void SetUp() override {
    LoopTest::SetUp();
    ASSERT_EQ(0, pipe2(src, O_CLOEXEC | O_NONBLOCK));
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, dst));
    copy.Bind(&CopyTest::OnCopy, this);
  }
  void TearDown() override {
    for (int* fd : {&src[0], &src[1], &dst[0], &dst[1]}) Close(*fd);
  }

  static void Close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  // The copy owns and closes what it is given.
  static Fd Give(int& fd) {
    Fd owned(fd);
    fd = -1;
    return owned;
  }
  void StartPipeToSocket() { copy.Start(Give(src[0]), Give(dst[0])); }

  // Exactly one end reported, with this status.
  void ExpectEnd(ASync::Copy::Status::Type status) {
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(status, statuses[0]);
  }

 public:
  void OnCopy(ASync::Copy::Status::Type s) {
    statuses.push_back(s);
    multiplexer.terminate();
  }
  void OnRead(int fd, short revents) {
    if (!(revents & POLLIN)) return;
    char buf[1500];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) received.append(buf, size_t(n));
    if (received.size() == closeSourceAt) Close(src[1]);
  }

  int src[2] = {-1, -1};
  int dst[2] = {-1, -1};
  ASync::Copy copy;
  std::vector<ASync::Copy::Status::Type> statuses;
  std::string received;
  size_t closeSourceAt = 0;  // bytes received; 0: never
};

// A pipe into a socket whose send buffer is small: the copy alternates
// between waiting for the source and for the destination.
TEST_F(CopyTest, PipeToSocketExactBytes) {
  std::string data = Pattern(60000);
  int small = 4096;
  setsockopt(dst[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  setsockopt(dst[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

  Event reader;
  reader.Bind("reader", &CopyTest::OnRead, this);
  reader.Schedule(dst[1], POLLIN);

  copy.set_bufsize(700);
  EXPECT_EQ(ASync::Copy::Status::NotStarted, copy.status());
  StartPipeToSocket();
  EXPECT_EQ(ASync::Copy::Status::Running, copy.status());
  // The source had nothing yet: the copy waits for it to become readable,
  // and learns its end only once everything has arrived.
  ASSERT_EQ(ssize_t(data.size()), write(src[1], data.data(), data.size()));
  closeSourceAt = data.size();
  RunLoop();
  EXPECT_FALSE(timedOut);
  ExpectEnd(ASync::Copy::Status::Done);
  EXPECT_EQ(60000u, copy.bytes_copied());
  EXPECT_EQ(0, copy.last_error());
  reader.Release();
  // The copy closed its destination, so the rest ends at end of file.
  received += ReadAll(dst[1]);
  EXPECT_TRUE(received == data) << received.size() << " bytes received";
}

TEST_F(CopyTest, EmptySourceWithoutFlushEventsEndsAtOnce) {
  Close(src[1]);
  ASync::Copy::EventsParams ev;
  ev.flushed = 0;
  copy.set_events(ev);
  EXPECT_TRUE(statuses.empty());
  StartPipeToSocket();
  ExpectEnd(ASync::Copy::Status::Done);
  EXPECT_EQ("", ReadAll(dst[1]));
}

TEST_F(CopyTest, EmptySourceWaitsForFlushedEvent) {
  Close(src[1]);
  StartPipeToSocket();
  EXPECT_EQ(ASync::Copy::Status::Flushing, copy.status());
  EXPECT_TRUE(statuses.empty());
  RunLoop();
  ExpectEnd(ASync::Copy::Status::Done);
}

TEST_F(CopyTest, PeerClosingDestinationIsAnError) {
  StartPipeToSocket();
  Close(dst[1]);
  RunLoop();
  ExpectEnd(ASync::Copy::Status::Error);
  EXPECT_EQ(0, copy.last_error());
}

TEST_F(CopyTest, WriteErrorKeepsErrno) {
  int q[2];
  ASSERT_EQ(0, pipe2(q, O_CLOEXEC | O_NONBLOCK));
  ASSERT_EQ(3, write(src[1], "abc", 3));
  close(q[0]);
  copy.Start(Give(src[0]), Fd(q[1]));
  ExpectEnd(ASync::Copy::Status::Error);
  EXPECT_EQ(EPIPE, copy.last_error());
}

TEST_F(CopyTest, ReadErrorBeforeAnyDataIsAnError) {
  copy.Start(Fd(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), Give(dst[0]));
  ExpectEnd(ASync::Copy::Status::Error);
}

// Stop closes the source; the copy then ends as at the end of the source.
TEST_F(CopyTest, StopFinishesLikeEndOfSource) {
  ASSERT_EQ(5, write(src[1], "hello", 5));
  StartPipeToSocket();
  EXPECT_EQ(5u, copy.bytes_copied());
  EXPECT_EQ(ASync::Copy::Status::Running, copy.status());
  copy.Stop();
  EXPECT_EQ(ASync::Copy::Status::Flushing, copy.status());
  RunLoop();
  ExpectEnd(ASync::Copy::Status::Done);
  EXPECT_EQ("hello", ReadAll(dst[1]));
  // Stop after the end changes nothing.
  copy.Stop();
  EXPECT_EQ(1u, statuses.size());
}

TEST_F(CopyTest, SettingsChangedWhileRunning) {
  Fd sink(dup(dst[0]));
  StartPipeToSocket();
  copy.set_bufsize(4096);
  ExpectEnd(ASync::Copy::Status::Changed);

  // It can start again, and set_events ends it the same way.
  int p2[2];
  ASSERT_EQ(0, pipe2(p2, O_CLOEXEC | O_NONBLOCK));
  copy.Start(Fd(p2[0]), sink);
  copy.set_events(ASync::Copy::EventsParams());
  ASSERT_EQ(2u, statuses.size());
  EXPECT_EQ(ASync::Copy::Status::Changed, statuses[1]);
  close(p2[1]);
}

// The owner may destroy the copy from inside its handler.
struct SelfDestroying {
  ASync::Copy* copy = new ASync::Copy;
  int calls = 0;
  void OnCopy(ASync::Copy::Status::Type) {
    ++calls;
    delete copy;
    copy = nullptr;
    multiplexer.terminate();
  }
};

TEST_F(CopyTest, HandlerMayDestroyTheCopy) {
  SelfDestroying owner;
  owner.copy->Bind(&SelfDestroying::OnCopy, &owner);
  owner.copy->Start(Give(src[0]), Give(dst[0]));
  Close(dst[1]);
  RunLoop();
  EXPECT_EQ(1, owner.calls);
  EXPECT_EQ(nullptr, owner.copy);
}

// ---------------------------------------------------------------- Connect

class ConnectTest : public LoopTest {
 protected:
  void SetUp() override {
    LoopTest::SetUp();
    c.Bind(&ConnectTest::OnConnect, this);
  }
  void TearDown() override {
    for (int fd : sockets) close(fd);
  }

  // A loopback socket with a kernel-chosen port (closed by the fixture);
  // listening when asked.
  int Bound(bool listening, int backlog, uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockets.push_back(fd);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    if (listening) listen(fd, backlog);
    return fd;
  }

  // A listener whose accept queue is full: further SYNs go unanswered.
  int Saturated(uint16_t& port) {
    int l = Bound(true, 0, port);
    for (int i = 0; i < 2; ++i) {
      int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      sockets.push_back(filler);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(port);
      connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    return l;
  }

  static std::string Addr(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

  // Exactly one end reported, with this status.
  void ExpectEnd(ASync::Connect::Status::Type status) {
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(status, statuses[0]);
    EXPECT_EQ(status == ASync::Connect::Status::Connected, bool(connected));
  }

 public:
  void OnConnect(ASync::Connect::Status::Type s, Fd fd) {
    statuses.push_back(s);
    connected = fd;
    multiplexer.terminate();
  }

  ASync::Connect c;
  std::vector<ASync::Connect::Status::Type> statuses;
  Fd connected;
  std::vector<int> sockets;
};

TEST_F(ConnectTest, Connects) {
  uint16_t port;
  int l = Bound(true, 4, port);
  c.Start(Addr(port), 5000);
  if (statuses.empty()) RunLoop();
  ExpectEnd(ASync::Connect::Status::Connected);
  EXPECT_EQ(ASync::Connect::Status::Connected, c.status());
  ASSERT_TRUE(connected);
  EXPECT_TRUE(fcntl(connected.get(), F_GETFD) & FD_CLOEXEC);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  ASSERT_EQ(0, getpeername(connected.get(), reinterpret_cast<sockaddr*>(&peer), &len));
  EXPECT_EQ(port, ntohs(peer.sin_port));
  int a = accept(l, nullptr, nullptr);
  EXPECT_GE(a, 0);
  close(a);
}

TEST_F(ConnectTest, RefusedFails) {
  uint16_t port;
  Bound(false, 0, port);  // bound, so no one else takes the port
  c.Start(Addr(port), 5000);
  if (statuses.empty()) RunLoop();
  EXPECT_FALSE(timedOut);
  ExpectEnd(ASync::Connect::Status::Failed);
}

TEST_F(ConnectTest, TimeOutFails) {
  uint16_t port;
  Saturated(port);
  uint32_t start = Mux::milliseconds();
  c.Start(Addr(port), 150);
  EXPECT_TRUE(statuses.empty());
  EXPECT_EQ(ASync::Connect::Status::InProgress, c.status());
  RunLoop();
  EXPECT_FALSE(timedOut);
  ExpectEnd(ASync::Connect::Status::Failed);
  EXPECT_GE(Mux::milliseconds() - start, 150u);
}

TEST_F(ConnectTest, StopReportsStoppedWithoutDescriptor) {
  uint16_t port;
  Saturated(port);
  c.Start(Addr(port), 10000);
  ASSERT_TRUE(statuses.empty());
  c.Stop();
  ExpectEnd(ASync::Connect::Status::Stopped);
  c.Stop();
  EXPECT_EQ(1u, statuses.size());
  // Nothing of it is left in the loop: the guard alone ends this run.
  RunLoop(100);
  EXPECT_TRUE(timedOut);
  EXPECT_EQ(1u, statuses.size());
}

// Text that is no address fails at once; it never becomes 0.0.0.0.
TEST_F(ConnectTest, UnparsableAddressFails) {
  uint16_t port;
  int l = Bound(true, 4, port);
  for (std::string const& text :
       {"no.such.host:" + std::to_string(port), ":" + std::to_string(port), std::string("")}) {
    SCOPED_TRACE("address " + text);
    statuses.clear();
    c.Start(text, 5000);
    ExpectEnd(ASync::Connect::Status::Failed);
  }
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int flags = fcntl(l, F_GETFL);
  fcntl(l, F_SETFL, flags | O_NONBLOCK);
  EXPECT_LT(accept(l, reinterpret_cast<sockaddr*>(&a), &len), 0);
}

struct ConnectOwner {
  ASync::Connect* c = new ASync::Connect;
  int calls = 0;
  void OnConnect(ASync::Connect::Status::Type, Fd) {
    ++calls;
    delete c;
    c = nullptr;
    multiplexer.terminate();
  }
};

TEST_F(ConnectTest, HandlerMayDestroyTheConnect) {
  uint16_t port;
  Saturated(port);
  ConnectOwner owner;
  owner.c->Bind(&ConnectOwner::OnConnect, &owner);
  owner.c->Start(Addr(port), 50);
  RunLoop();
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(1, owner.calls);
}

}  // namespace
