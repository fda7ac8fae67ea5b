// Control endpoints against real loopback sockets, driven by the real loop.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cstddef>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "control/control.h"
#include "control/ctrl_testkit.h"
#include "tests/descriptor_check.h"
#include "tests/stream_capture.h"

using namespace ctrltest;

namespace {

struct RecordingNotify : Control::Notify {
  void OnConnect() override {
    ++connects;
    if (onConnect) onConnect();
  }
  void OnDisconnect() override { ++disconnects; }
  void OnMessage(char const* data, int len) override { messages.emplace_back(data, data + len); }
  int connects = 0;
  int disconnects = 0;
  std::vector<std::string> messages;
  std::function<void()> onConnect;
};

// Every descriptor of this process that is the daemon side of the
// connection whose client end is `client`.
int DaemonSideOf(int client) {
  sockaddr_in self{};
  socklen_t len = sizeof self;
  ::getsockname(client, reinterpret_cast<sockaddr*>(&self), &len);
  for (int fd = 0; fd < 4096; ++fd) {
    if (fd == client) continue;
    sockaddr_in peer{};
    socklen_t plen = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &plen) == 0 &&
        peer.sin_family == AF_INET && peer.sin_port == self.sin_port &&
        peer.sin_addr.s_addr == self.sin_addr.s_addr)
      return fd;
  }
  return -1;
}

int IntOpt(int fd, int level, int name) {
  int v = -1;
  socklen_t len = sizeof v;
  ::getsockopt(fd, level, name, &v, &len);
  return v;
}

class AcceptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    acceptor = new Control::AcceptorNetCheckConnection(0);
    acceptor->Bind(&notify);
    ASSERT_TRUE(acceptor->Activate());
    port = acceptor->GetBoundPort();
    ASSERT_NE(port, 0);
  }
  void TearDown() override {
    acceptor->Deactivate();
    delete acceptor;
  }
  bool Connected(int n = 1) {
    return loop.RunUntil([&] { return notify.connects >= n; });
  }

  RecordingNotify notify;
  Control::AcceptorNetCheckConnection* acceptor = nullptr;
  unsigned short port = 0;
  LoopRunner loop;
};

// The peer's "address:port" as the daemon names it.
std::string PeerName(int client) {
  INet4::Addr a;
  socklen_t len = INet4::Addr::length();
  ::getsockname(client, a.get(), &len);
  return a.GetString();
}

TEST_F(AcceptorTest, FramesBothWays) {
  Capture out(std::cout), err(std::cerr);
  Fd client = ConnectTo(port);
  ASSERT_TRUE(Connected());
  EXPECT_EQ(acceptor->GetState(), Control::Service::State::Connected);
  EXPECT_EQ(out.Take(), "new connection from " + PeerName(client.get()) + "\n");
  EXPECT_EQ(err.Take(), "");

  // Two frames in one write, then one split byte by byte.
  auto two = Frame({0x41});
  auto b = Frame({0x42, 0x43});
  two.insert(two.end(), b.begin(), b.end());
  ASSERT_TRUE(WriteAll(client.get(), two.data(), two.size()));
  ASSERT_TRUE(loop.RunUntil([&] { return notify.messages.size() >= 2; }));
  for (unsigned char c : Frame({0x44, 0x45, 0x46})) {
    ASSERT_TRUE(WriteAll(client.get(), &c, 1));
    loop.Turn(1);
  }
  ASSERT_TRUE(loop.RunUntil([&] { return notify.messages.size() >= 3; }));
  EXPECT_EQ(notify.messages, (std::vector<std::string>{"A", "BC", "DEF"}));

  // A payload the length field cannot carry is refused whole.
  std::string const tooLong(65532, 'x');
  acceptor->Send(tooLong.data(), int(tooLong.size()));
  EXPECT_EQ(err.Take(), "Control::Service::Send() message of 65532 bytes too long, dropped.\n");
  acceptor->Send("ABC", 3);
  std::vector<unsigned char> body;
  ASSERT_TRUE(ReadFrame(client.get(), body));
  EXPECT_EQ(Hex(body), "41 42 43");
  EXPECT_EQ(Measured("Control::Service::Send [1]"), 2u);
  EXPECT_EQ(Measured("Control::Service::Send [2]"), 1u);
}

TEST_F(AcceptorTest, AcceptedConnectionGetsKeepAliveAndNoDelay) {
  Fd client = ConnectTo(port);
  ASSERT_TRUE(Connected());
  int fd = DaemonSideOf(client.get());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(IntOpt(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_NE(IntOpt(fd, IPPROTO_TCP, TCP_NODELAY), 0);
  // The listener queues one client: the kernel gives a listening socket's
  // backlog in the field of the sacked segments.
  int listeners = 0;
  for (int l = 0; l < 4096; ++l) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (IntOpt(l, SOL_SOCKET, SO_ACCEPTCONN) != 1 ||
        ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ntohs(a.sin_port) != port)
      continue;
    tcp_info info{};
    socklen_t ilen = sizeof info;
    ASSERT_EQ(::getsockopt(l, IPPROTO_TCP, TCP_INFO, &info, &ilen), 0);
    EXPECT_EQ(info.tcpi_sacked, 1u);
    ++listeners;
  }
  EXPECT_GT(listeners, 0);
}

TEST_F(AcceptorTest, SecondClientIsRefusedAndLiveOneProbed) {
  Fd first = ConnectTo(port);
  ASSERT_TRUE(Connected());
  testing::internal::CaptureStderr();
  Fd second = ConnectTo(port);
  bool refused = false;
  loop.RunUntil([&] {
    pollfd pf{second.get(), POLLIN, 0};
    return refused = ::poll(&pf, 1, 0) == 1;
  });
  int fd = DaemonSideOf(first.get());
  int idle = IntOpt(fd, IPPROTO_TCP, TCP_KEEPIDLE);
  int intvl = IntOpt(fd, IPPROTO_TCP, TCP_KEEPINTVL);
  int cnt = IntOpt(fd, IPPROTO_TCP, TCP_KEEPCNT);
  // The healthy connection goes back to normal keep-alive at a check.
  loop.RunUntil([&] { return IntOpt(fd, IPPROTO_TCP, TCP_KEEPIDLE) == 7200; }, 5000);
  std::string log = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(refused);
  EXPECT_TRUE(SeesEof(second.get()));
  EXPECT_NE(log.find("refuse connection from " + PeerName(second.get()) + "\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("CheckConnectionState CheckConnection\n"), std::string::npos);
  EXPECT_NE(log.find("CheckConnectionState Idle\n"), std::string::npos);
  if (log.find("CheckConnectionState Idle") > log.find("CheckConnectionState CheckConnection") &&
      idle != 7200) {
    EXPECT_EQ(idle, 1);
    EXPECT_EQ(intvl, 1);
    EXPECT_EQ(cnt, 3);
  }
  EXPECT_EQ(IntOpt(fd, IPPROTO_TCP, TCP_KEEPIDLE), 7200);
  EXPECT_EQ(IntOpt(fd, IPPROTO_TCP, TCP_KEEPINTVL), 75);
  EXPECT_EQ(IntOpt(fd, IPPROTO_TCP, TCP_KEEPCNT), 9);
  // The first client is still served.
  EXPECT_EQ(acceptor->GetState(), Control::Service::State::Connected);
  auto f = Frame({0x01});
  ASSERT_TRUE(WriteAll(first.get(), f.data(), f.size()));
  EXPECT_TRUE(loop.RunUntil([&] { return notify.messages.size() == 1; }));
  EXPECT_EQ(notify.connects, 1);
}

TEST_F(AcceptorTest, DisconnectReallyClosesAndNextClientIsServed) {
  Fd first = ConnectTo(port);
  ASSERT_TRUE(Connected());
  Capture err(std::cerr);
  acceptor->Disconnect();
  EXPECT_EQ(notify.disconnects, 0);  // reported on the next loop turn
  loop.RunUntil([&] { return notify.disconnects == 1; });
  std::string log = err.Take();
  EXPECT_EQ(notify.disconnects, 1);
  EXPECT_EQ(acceptor->GetState(), Control::Service::State::Connecting);
  // No duplicate of the dead connection keeps it open.
  EXPECT_TRUE(SeesEof(first.get(), 5000));
  EXPECT_EQ(DaemonSideOf(first.get()), -1);
  EXPECT_EQ(log, "control connection " + PeerName(first.get()) + " closed.\n");

  Fd second = ConnectTo(port);
  ASSERT_TRUE(Connected(2));
  acceptor->Send("x", 1);
  std::vector<unsigned char> body;
  ASSERT_TRUE(ReadFrame(second.get(), body));
  EXPECT_EQ(Hex(body), "78");
}

// A controller that dies in the middle of a frame: the next one starts
// with a frame of its own.
TEST_F(AcceptorTest, PeerCloseIsReportedOnce) {
  {
    Fd client = ConnectTo(port);
    ASSERT_TRUE(Connected());
    unsigned char const half[] = {3, 0, 0, 7, 0x41};
    ASSERT_TRUE(WriteAll(client.get(), half, sizeof half));
  }
  ASSERT_TRUE(loop.RunUntil([&] { return notify.disconnects == 1; }));
  loop.Turn(3);
  EXPECT_EQ(notify.disconnects, 1);
  Fd next = ConnectTo(port);
  ASSERT_TRUE(Connected(2));
  auto f = Frame({0x42});
  ASSERT_TRUE(WriteAll(next.get(), f.data(), f.size()));
  ASSERT_TRUE(loop.RunUntil([&] { return !notify.messages.empty(); }));
  EXPECT_EQ(notify.messages, std::vector<std::string>{"B"});
}

TEST_F(AcceptorTest, ClientArrivingWhileCloseIsPendingIsServed) {
  // The first connection dies while it is being reported, with a second
  // client already waiting in the backlog.
  notify.onConnect = [&] {
    if (notify.connects == 1) acceptor->Disconnect();
  };
  Fd first = ConnectTo(port);
  Fd second = ConnectTo(port);
  ASSERT_TRUE(first && second);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Connected(2));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(notify.disconnects, 1);
  EXPECT_TRUE(SeesEof(first.get(), 5000));
  acceptor->Send("ok", 2);
  std::vector<unsigned char> body;
  ASSERT_TRUE(ReadFrame(second.get(), body));
  EXPECT_EQ(Hex(body), "6F 6B");
}

TEST_F(AcceptorTest, ControllerReconnectingAtOnceIsServed) {
  // The old connection's end and the newcomer come in one pass, and the
  // listener is polled first.
  Fd first = ConnectTo(port);
  ASSERT_TRUE(Connected());
  first.close();
  Fd second = ConnectTo(port);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Connected(2));
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("refuse"), std::string::npos);
  acceptor->Send("ok", 2);
  std::vector<unsigned char> body;
  ASSERT_TRUE(ReadFrame(second.get(), body));
}

// Without a controller only the first refused send is logged; the next
// connection reports how many more there were, and the count starts again.
TEST_F(AcceptorTest, SendOutsideConnectedIsDroppedAndCounted) {
  std::string const refused = "Control::Service::Send() ignore Send request in Connecting state.\n";
  Capture err(std::cerr);  // standard error alone, without the log stream
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    int const more = round == 1 ? 3 : 1;
    for (int i = 0; i <= more; ++i) acceptor->Send("x", 1);
    Fd client = ConnectTo(port);
    ASSERT_TRUE(Connected(round));
    acceptor->Send("ok", 2);
    EXPECT_EQ(err.Take(), refused + "Control::Service::Send() ignored " + std::to_string(more) +
                              " more Send requests while not connected.\n");
    client.close();
    ASSERT_TRUE(loop.RunUntil([&] { return notify.disconnects == round; }));
    EXPECT_EQ(err.Take().find("ignore"), std::string::npos);
  }
  // One refused send alone has nothing to add at the next connection.
  acceptor->Send("x", 1);
  Fd client = ConnectTo(port);
  ASSERT_TRUE(Connected(3));
  EXPECT_EQ(err.Take(), refused);
  // A quiet endpoint says nothing of it at all.
  Control::AcceptorNet quiet(0, false);
  ASSERT_TRUE(quiet.Activate());
  quiet.Send("x", 1);
  EXPECT_EQ(err.Take(), "");
}

// Runs `body` in a child process where socket(2) fails with EMFILE, and
// returns its exit status and what it wrote to standard error.
int WithoutSockets(std::function<int()> body, std::string& err) {
  int p[2];
  if (::pipe(p) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(p[1], 2);
    ::close(p[0]);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EMFILE & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog prog{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0)
      ::_exit(99);
    int rc = body();
    std::cerr.flush();
    ::_exit(rc);
  }
  ::close(p[1]);
  char buf[512];
  ssize_t n;
  while ((n = ::read(p[0], buf, sizeof buf)) > 0) err.append(buf, size_t(n));
  ::close(p[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Acceptor, ReportsFailureWithoutListeningSocket) {
  std::string err;
  int rc = WithoutSockets(
      [] {
        Control::AcceptorNet plain(0);
        Control::AcceptorNetCheckConnection checking(0);
        Control::ConnectorNet connector("127.0.0.1", 1);
        bool ok1 = plain.Activate();
        bool ok2 = checking.Activate();
        connector.Activate();  // no retry: it stops
        bool idle = plain.GetState() == Control::Service::State::Idle &&
                    checking.GetState() == Control::Service::State::Idle &&
                    connector.GetState() == Control::Service::State::Idle;
        return (ok1 ? 1 : 0) | (ok2 ? 2 : 0) | (idle ? 0 : 4);
      },
      err);
  ASSERT_NE(rc, 99) << "no seccomp here";
  EXPECT_EQ(rc, 0) << "1: plain reported success, 2: checking one did, "
                      "4: not idle";
  EXPECT_EQ(err,
            "can't create socket:Too many open files\n"
            "can't create socket:Too many open files\n"
            "can't create socket:Too many open files\n");
}

// A closed port: seven quick retries, then the long period of a failure the
// poll reports; once connected nothing waits, and a lost link is retried
// 10000 ms later.
TEST_F(FrozenLoop, ConnectorRetryScheduleAndLogLines) {
  unsigned short port = 0;
  { Fd probe = Listen(port); }
  std::string const addr = "127.0.0.1:" + std::to_string(port);
  RecordingNotify notify;
  Control::ConnectorNet connector("127.0.0.1", port);
  connector.Bind(&notify);
  Capture out(std::cout), err(std::cerr);
  ASSERT_TRUE(connector.Activate());
  std::vector<int> waits;
  for (int i = 0; i < 9; ++i) {
    waits.push_back(PassUntil([] { return multiplexer.timers_count() > 1; }));
    if (i < 8) Advance(waits.back());
  }
  EXPECT_EQ(waits, (std::vector<int>{1000, 1000, 1000, 1000, 1000, 1000, 1000, 15000, 15000}));
  std::string failures;
  for (int i = 0; i < 9; ++i) failures += "fail to connect to " + addr + "\n";
  EXPECT_EQ(err.Take(), failures);
  EXPECT_EQ(notify.connects, 0);

  Fd l(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int one = 1;
  ::setsockopt(l.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  INet4::Addr at(INADDR_LOOPBACK, port);
  ASSERT_EQ(::bind(l.get(), at.get(), INet4::Addr::length()), 0);
  ASSERT_EQ(::listen(l.get(), 1), 0);
  Advance(15000);
  EXPECT_EQ(PassUntil([&] { return notify.connects == 1; }), -1);
  EXPECT_EQ(notify.connects, 1);
  EXPECT_EQ(out.Take(), "connected to " + addr + ".\n");
  Fd server(::accept(l.get(), nullptr, nullptr));
  connector.Send("hi", 2);
  std::vector<unsigned char> body;
  ASSERT_TRUE(ReadFrame(server.get(), body));
  EXPECT_EQ(Hex(body), "68 69");

  connector.Disconnect();
  EXPECT_EQ(PassUntil([&] { return notify.disconnects == 1; }), 10000);
  EXPECT_EQ(notify.disconnects, 1);
  EXPECT_EQ(err.Take(), "control connection " + addr + " closed.\n");
  connector.Deactivate();
  EXPECT_EQ(multiplexer.timers_schedule(), -1);
  EXPECT_TRUE(SeesEof(server.get()));
}

TEST_F(FrozenLoop, BusyPortIsRetriedEvery5000ms) {
  unsigned short port = 0;
  Fd holder = Listen(port);
  Control::AcceptorNet acceptor(port);
  Capture err(std::cerr);
  EXPECT_TRUE(acceptor.Activate());
  std::string const busy = "can't bind to socket: \"Address already in use\"  waiting...\n";
  EXPECT_EQ(err.Take(), busy);
  EXPECT_EQ(acceptor.GetBoundPort(), 0);
  EXPECT_EQ(multiplexer.timers_schedule(), 5000);
  Advance(5000);
  EXPECT_EQ(err.Take(), busy);
  holder.close();
  Advance(5000);
  EXPECT_EQ(err.Take(), "");
  EXPECT_EQ(acceptor.GetBoundPort(), port);
  EXPECT_EQ(multiplexer.timers_schedule(), -1);
  acceptor.Deactivate();
  EXPECT_EQ(acceptor.GetState(), Control::Service::State::Idle);
  EXPECT_EQ(acceptor.GetBoundPort(), 0);
}

TEST(Connector, StoppedWhileCloseIsPendingStaysStopped) {
  unsigned short port = 0;
  Fd l = Listen(port);
  RecordingNotify notify;
  Control::ConnectorNet connector("127.0.0.1", port);
  connector.Bind(&notify);
  LoopRunner loop;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  connector.Activate();
  ASSERT_TRUE(loop.RunUntil([&] { return notify.connects == 1; }, 5000));
  connector.Disconnect();
  connector.Deactivate();
  loop.Turn(3);
  testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(connector.GetState(), Control::Service::State::Idle);
  EXPECT_EQ(notify.disconnects, 0);
}

TEST(Connector, AddressTextGivesHostAndPort) {
  unsigned short port = 0;
  Fd l = Listen(port);
  RecordingNotify notify;
  Control::ConnectorNet connector("127.0.0.1:" + std::to_string(port));
  connector.Bind(&notify);
  LoopRunner loop;
  testing::internal::CaptureStdout();
  connector.Activate();
  bool up = loop.RunUntil([&] { return notify.connects == 1; }, 5000);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(up);
  connector.Deactivate();
}

}  // namespace
