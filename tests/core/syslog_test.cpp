// The client always talks to "/dev/log", so each test runs in a forked child
// with its own mount namespace and a private tmpfs on /dev, where the test
// binds the receiving socket itself.

#include "core/daemon.h"
#include "core/syslog.h"
#include "core/timer.h"

#include "private_dev.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <syslog.h>

#include <ctime>
#include <ostream>
#include <string>

namespace {

using testing_private_dev::BindLog;
using testing_private_dev::Readable;
using testing_private_dev::Recv;

bool Pending(int fd) {
  return Readable(fd, 0);
}

std::string Stamp(uint32_t secs) {
  time_t t = time_t(secs);
  struct tm tm;
  localtime_r(&t, &tm);
  char buf[64];
  strftime(buf, sizeof buf, "%h %e %T ", &tm);
  return buf;
}

// Checks "<pri>", a time stamp taken between before and now, and the rest.
void ExpectMessage(std::string const& got, int pri, std::string const& rest, uint32_t before) {
  std::string head = "<" + std::to_string(pri) + ">";
  ASSERT_GE(got.size(), head.size() + 16) << got;
  EXPECT_EQ(head, got.substr(0, head.size()));
  std::string stamp = got.substr(head.size(), 16);
  uint32_t after = Mux::seconds();
  bool ok = false;
  for (uint32_t s = before; s <= after; ++s) ok = ok || stamp == Stamp(s);
  EXPECT_TRUE(ok) << "stamp '" << stamp << "'";
  EXPECT_EQ(rest, got.substr(head.size() + 16));
}

std::string ReadStream(int conn, size_t want) {
  std::string got;
  while (got.size() < want && Readable(conn, 5000)) {
    char buf[4096];
    ssize_t n = read(conn, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, size_t(n));
  }
  return got;
}

TEST(SysLogManager, DatagramBytes) {
  RUN_ISOLATED([] {
    int srv = BindLog(SOCK_DGRAM);
    SysLogManager m;
    m.openlog("test", LOG_NDELAY, 0);
    ASSERT_TRUE(m.connected());
    EXPECT_EQ(SOCK_DGRAM, m.socket_type());
    EXPECT_TRUE(fcntl(m.socket(), F_GETFD) & FD_CLOEXEC);

    uint32_t t0 = Mux::seconds();
    m.syslog(27, "%s", "abc");
    EXPECT_EQ(1u, m.batch_count());
    EXPECT_FALSE(Pending(srv));
    EXPECT_EQ(int(4 + 16 + 9 + 1), m.sendmsg());
    ExpectMessage(Recv(srv), 27, std::string("test: abc") + '\0', t0);
    EXPECT_EQ(0, m.sendmsg());

    // Each row: openlog first when it names options, then one message.
    struct {
      char const* ident;
      int options, facility, priority;
      int sent;
      std::string rest;
    } const rows[] = {
        // Without facility a priority takes the default one: user...
        {nullptr, 0, 0, LOG_ERR, 11, std::string("test: n=5") + '\0'},
        // ...until openlog names another.
        {nullptr, LOG_NDELAY | LOG_PID, LOG_LOCAL0, LOG_INFO, 134,
         "test[" + std::to_string(getpid()) + "]: n=5" + '\0'},
        // A facility with bits outside the facility field is not taken.
        {"", LOG_NDELAY, 0x401, LOG_INFO, 134, std::string("n=5") + '\0'},
        {nullptr, 0, 0, LOG_DAEMON | LOG_NOTICE, 29, std::string("n=5") + '\0'},
    };
    for (auto const& r : rows) {
      if (r.options) m.openlog(r.ident, r.options, r.facility);
      m.syslog(r.priority, "n=%d", 5);
      m.sendmsg();
      ExpectMessage(Recv(srv), r.sent, r.rest, t0);
    }

    // A message is cut at 1023 bytes and still ends in its 0 byte.
    m.openlog("test", LOG_NDELAY, 0);
    m.syslog(27, "%s", std::string(2000, 'x').c_str());
    m.sendmsg();
    std::string got = Recv(srv);
    ASSERT_EQ(1024u, got.size());
    ExpectMessage(got, 27, "test: " + std::string(1023 - 4 - 16 - 6, 'x') + '\0', t0);
  });
}

TEST(SysLogManager, BatchLimits) {
  RUN_ISOLATED([] {
    int srv = BindLog(SOCK_DGRAM);
    int big = 1 << 20;
    setsockopt(srv, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    SysLogManager m;
    m.openlog("t", LOG_NDELAY, 0);

    // 256 messages: the 256th sends them all as one datagram.
    for (int i = 0; i < 255; ++i) m.syslog(27, "%03d", i);
    EXPECT_EQ(255u, m.batch_count());
    EXPECT_FALSE(Pending(srv));
    m.syslog(27, "%03d", 255);
    EXPECT_EQ(0u, m.batch_count());
    std::string got = Recv(srv);
    size_t each = 4 + 16 + 3 + 3 + 1;
    EXPECT_EQ(256 * each, got.size());
    size_t zeros = 0;
    for (char c : got) zeros += c == '\0';
    EXPECT_EQ(256u, zeros);
    EXPECT_EQ("t: 000", got.substr(20, 6));
    EXPECT_EQ("t: 255", got.substr(255 * each + 20, 6));

    // Bytes: twelve messages of 1024 bytes make exactly 12288 and wait;
    // the thirteenth passes the limit and sends.
    std::string text(1000, 'b');
    size_t msg = 4 + 16 + 3 + 1000 + 1;
    for (int i = 0; i < 12; ++i) m.syslog(27, "%s", text.c_str());
    EXPECT_EQ(12288u, m.batch_bytes());
    EXPECT_FALSE(Pending(srv));
    m.syslog(27, "%s", text.c_str());
    EXPECT_EQ(13 * msg, Recv(srv).size());
    EXPECT_EQ(0u, m.batch_bytes());
  });
}

TEST(SysLogManager, StreamFallbackDelivers) {
  RUN_ISOLATED([] {
    int srv = BindLog(SOCK_STREAM);
    SysLogManager m;
    m.openlog("test", LOG_NDELAY, 0);
    ASSERT_TRUE(m.connected());
    EXPECT_EQ(SOCK_STREAM, m.socket_type());
    EXPECT_TRUE(fcntl(m.socket(), F_GETFD) & FD_CLOEXEC);
    int conn = accept(srv, nullptr, nullptr);
    ASSERT_GE(conn, 0);

    uint32_t t0 = Mux::seconds();
    m.syslog(27, "one");
    m.syslog(29, "two");
    EXPECT_EQ(int(2 * (4 + 16 + 6 + 3 + 1)), m.sendmsg());
    std::string got = ReadStream(conn, 60);
    ASSERT_EQ(60u, got.size());
    ExpectMessage(got.substr(0, 30), 27, std::string("test: one") + '\0', t0);
    ExpectMessage(got.substr(30), 29, std::string("test: two") + '\0', t0);

    m.closelog();
    EXPECT_FALSE(m.connected());
    EXPECT_EQ(-1, m.socket());
    EXPECT_EQ(SOCK_DGRAM, m.socket_type());
    close(conn);
    close(srv);
  });
}

// A restarted log service gets the next messages: the failed batch is sent
// once more on a fresh connection.
TEST(SysLogManager, ReconnectsAfterServiceRestart) {
  RUN_ISOLATED([] {
    int srv = BindLog(SOCK_STREAM);
    SysLogManager m;
    m.openlog("r", LOG_NDELAY, 0);
    int conn = accept(srv, nullptr, nullptr);
    m.syslog(27, "first");
    m.sendmsg();
    EXPECT_EQ(std::string("r: first") + '\0', ReadStream(conn, 29).substr(20));

    close(conn);
    close(srv);
    srv = BindLog(SOCK_STREAM);
    m.syslog(27, "second");
    EXPECT_GT(m.sendmsg(), 0);
    conn = accept(srv, nullptr, nullptr);
    ASSERT_GE(conn, 0);
    EXPECT_EQ(std::string("r: second") + '\0', ReadStream(conn, 30).substr(20));
    close(conn);
    close(srv);

    // Service gone for a while: the batch is lost, the client is left
    // unconnected, and the first message after the return connects.
    unlink("/dev/log");
    m.syslog(27, "lost");
    EXPECT_LT(m.sendmsg(), 0);
    EXPECT_FALSE(m.connected());
    m.syslog(27, "lost too");
    EXPECT_FALSE(m.connected());
    m.sendmsg();

    srv = BindLog(SOCK_DGRAM);
    m.syslog(27, "back");
    EXPECT_TRUE(m.connected());
    EXPECT_EQ(SOCK_DGRAM, m.socket_type());
    m.sendmsg();
    EXPECT_EQ(std::string("r: back") + '\0', Recv(srv).substr(20));
  });
}

// Descriptor 0 is a socket like any other once the standard input is closed.
TEST(SysLogManager, LazyConnectAndPerror) {
  RUN_ISOLATED([] {
    int srv = BindLog(SOCK_DGRAM);
    int p[2];
    ASSERT_EQ(0, pipe(p));
    dup2(p[1], 2);
    close(0);
    SysLogManager m;
    m.openlog("lazy", LOG_PERROR, 0);
    EXPECT_FALSE(m.connected());
    EXPECT_EQ(-1, m.socket());
    m.syslog(27, "hello");
    m.syslog(27, "line\n");
    EXPECT_TRUE(m.connected());
    EXPECT_EQ(0, m.socket());
    m.sendmsg();
    char buf[128];
    ssize_t n = read(p[0], buf, sizeof buf);
    EXPECT_EQ("lazy: hello\nlazy: line\n", std::string(buf, size_t(n > 0 ? n : 0)));
    std::string got = Recv(srv);
    EXPECT_EQ(2 * 20 + std::string("lazy: hello").size() + std::string("lazy: line\n").size() + 2,
              got.size());
  });
}

// Without a log service a message is lost, or goes to the console when the
// options ask for it.
TEST(SysLogManager, NoServiceLosesQuietly) {
  RUN_ISOLATED([] {
    FILE* console = std::fopen("/dev/console", "w+");
    ASSERT_NE(nullptr, console);
    SysLogManager m;
    m.openlog("n", LOG_NDELAY, 0);
    EXPECT_FALSE(m.connected());
    m.syslog(27, "nowhere");
    EXPECT_FALSE(m.connected());
    EXPECT_EQ(0u, m.batch_count());
    EXPECT_EQ(0, m.sendmsg());
    m.openlog("c", LOG_NDELAY | LOG_CONS, 0);
    m.syslog(27, "to console");
    char buf[64] = "";
    EXPECT_STREQ("c: to console\r\n", fgets(buf, sizeof buf, console));
    std::fclose(console);
  });
}

// The log streams of daemon mode, over the global client.
TEST(ManagedSysLogStreamBuf, LinesOfOneFlushShareADatagram) {
  RUN_ISOLATED([] {
    int srv = BindLog(SOCK_DGRAM);
    syslogManager.openlog("vld-x", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    EXPECT_EQ(27, buf.priority());
    std::ostream os(&buf);
    uint32_t t0 = Mux::seconds();

    os << "one" << std::endl;
    ExpectMessage(Recv(srv), 27, std::string("vld-x: one") + '\0', t0);

    os << "a\nb\n" << std::flush;
    std::string got = Recv(srv);
    ASSERT_EQ(2u * (4 + 16 + 7 + 2), got.size());
    ExpectMessage(got.substr(0, 29), 27, std::string("vld-x: a") + '\0', t0);
    ExpectMessage(got.substr(29), 27, std::string("vld-x: b") + '\0', t0);

    // A partial line waits for its end...
    os << "part" << std::flush;
    EXPECT_FALSE(Pending(srv));
    os << "ial\n" << std::flush;
    EXPECT_EQ(std::string("vld-x: partial") + '\0', Recv(srv).substr(20));
    // ...unless a line feed comes before it in the same flush.
    os << "x\ny" << std::flush;
    got = Recv(srv);
    EXPECT_EQ(std::string("vld-x: x") + '\0' + got.substr(29, 20) + "vld-x: y" + '\0',
              got.substr(20));
    // Empty lines are messages of their own.
    os << "\n" << std::flush;
    EXPECT_EQ(std::string("vld-x: ") + '\0', Recv(srv).substr(20));

    // A full area without a line feed is sent as it is.
    ManagedSysLogStreamBuf debug(LOG_DAEMON, LOG_DEBUG);
    std::ostream ds(&debug);
    ds << std::string(16383, 'q');
    EXPECT_FALSE(Pending(srv));
    ds << 'r' << std::flush;
    got = Recv(srv);
    ASSERT_EQ(1024u, got.size());
    EXPECT_EQ("<31>", got.substr(0, 4));
    EXPECT_EQ("vld-x: qqq", got.substr(20, 10));
    EXPECT_FALSE(Pending(srv));
    ds << std::endl;
    EXPECT_EQ(std::string("vld-x: r") + '\0', Recv(srv).substr(20));
  });
}

}  // namespace

namespace {

// The buffer over the platform's syslog(3) cuts lines the same way.
TEST(SysLogStreamBuf, LinesGoThroughPlatformSyslog) {
  RUN_ISOLATED([] {
    int srv = BindLog(SOCK_DGRAM);
    SysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    os << "libc " << 1 << std::flush;
    EXPECT_FALSE(Pending(srv));
    os << "\nsecond\n" << std::flush;
    std::string first = Recv(srv);
    std::string second = Recv(srv);
    EXPECT_EQ("<27>", first.substr(0, 4));
    EXPECT_NE(std::string::npos, first.find(": libc 1")) << first;
    EXPECT_NE(std::string::npos, second.find(": second")) << second;
    // A full area (1023 bytes and the terminating zero) goes out as it is.
    os << std::string(1500, 'x') << std::endl;
    for (size_t n : {1023, 477}) {
      std::string line = Recv(srv);
      EXPECT_NE(std::string::npos, line.find(": " + std::string(n, 'x'))) << line;
      EXPECT_EQ(std::string::npos, line.find(std::string(n + 1, 'x'))) << line;
    }
    closelog();
  });
}

}  // namespace
