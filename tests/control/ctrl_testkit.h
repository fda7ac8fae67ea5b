// Helpers shared by the control-channel tests: driving the event loop until
// something happens, loopback TCP pairs, and reading TPKT frames as the
// controller sees them.
#ifndef VELMARD_TESTS_CONTROL_CTRL_TESTKIT_H
#define VELMARD_TESTS_CONTROL_CTRL_TESTKIT_H

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/fd.h"
#include "core/inet.h"
#include "core/multiplexer.h"
#include "core/profile.h"
#include "core/timer.h"
#include "tests/stream_capture.h"

namespace ctrltest {

// Runs the loop until `done` holds (checked every 5 ms) or `limitMs` pass.
// Returns the final value of `done`.
class LoopRunner {
 public:
  bool RunUntil(std::function<bool()> done, unsigned limitMs = 10000) {
    done_ = std::move(done);
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    tick_.set(0, &LoopRunner::OnTick, this);
    multiplexer.run(false, true);
    tick_.reset();
    return done_();
  }
  // Lets the loop make at least `passes` turns (deferred work runs).
  void Turn(unsigned passes = 3) {
    unsigned n = 0;
    RunUntil([&] { return ++n > passes; });
  }

 private:
  void OnTick() {
    if (done_() || std::chrono::steady_clock::now() >= deadline_)
      multiplexer.terminate();  // the pass under way still polls: keep it short
    tick_.set(5, &LoopRunner::OnTick, this);
  }

  std::function<bool()> done_;
  std::chrono::steady_clock::time_point deadline_;
  Timer tick_;
};

inline Fd Listen(unsigned short& port) {
  Fd l(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(l.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(l.get(), 8);
  socklen_t len = sizeof a;
  ::getsockname(l.get(), reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return l;
}

inline Fd ConnectTo(unsigned short port) {
  Fd c(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(c.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) c.close();
  return c;
}

// A connected loopback pair: `daemon` is the accepted side, `peer` the
// client side, `peerAddr` the client's address as the daemon sees it.
struct TcpPair {
  TcpPair() {
    unsigned short port = 0;
    Fd l = Listen(port);
    peer = ConnectTo(port);
    sockaddr_in a{};
    socklen_t len = sizeof a;
    daemon = Fd(::accept4(l.get(), reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC));
    daemon.NonBlock();
    peerAddr = INet4::Addr(a);
  }
  Fd daemon;
  Fd peer;
  INet4::Addr peerAddr;
};

inline bool WriteAll(int fd, void const* data, size_t len) {
  char const* p = static_cast<char const*>(data);
  while (len > 0) {
    ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    len -= size_t(n);
  }
  return true;
}

inline std::vector<unsigned char> Frame(std::vector<unsigned char> const& body) {
  std::vector<unsigned char> f(body.size() + 4);
  f[0] = 3;
  f[1] = 0;
  f[2] = static_cast<unsigned char>((body.size() + 4) >> 8);
  f[3] = static_cast<unsigned char>((body.size() + 4) & 0xFF);
  for (size_t i = 0; i < body.size(); ++i) f[4 + i] = body[i];
  return f;
}

inline std::chrono::steady_clock::time_point After(int ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}
inline int MsLeft(std::chrono::steady_clock::time_point deadline) {
  return int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                   std::chrono::steady_clock::now())
                 .count());
}

// Reads exactly n bytes within limitMs; false on timeout, error or EOF.
inline bool ReadExact(int fd, void* buf, size_t n, int limitMs = 10000) {
  char* p = static_cast<char*>(buf);
  auto deadline = After(limitMs);
  while (n > 0) {
    int left = MsLeft(deadline);
    if (left <= 0) return false;
    pollfd pf{fd, POLLIN, 0};
    if (::poll(&pf, 1, left) <= 0) continue;
    ssize_t r = ::recv(fd, p, n, MSG_DONTWAIT);
    if (r == 0) return false;
    if (r < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    p += r;
    n -= size_t(r);
  }
  return true;
}

// One TPKT frame body; false when none arrives in time.
inline bool ReadFrame(int fd, std::vector<unsigned char>& body, int limitMs = 10000) {
  unsigned char h[4];
  if (!ReadExact(fd, h, 4, limitMs)) return false;
  if (h[0] != 3 || h[1] != 0) return false;
  unsigned len = (unsigned(h[2]) << 8) | h[3];
  if (len < 4) return false;
  body.assign(len - 4, 0);
  return body.empty() || ReadExact(fd, body.data(), body.size(), limitMs);
}

// True when the peer has closed: a read returns end of file within limitMs.
inline bool SeesEof(int fd, int limitMs = 10000) {
  auto deadline = After(limitMs);
  char buf[256];
  for (;;) {
    int left = MsLeft(deadline);
    if (left <= 0) return false;
    pollfd pf{fd, POLLIN, 0};
    if (::poll(&pf, 1, left) <= 0) continue;
    ssize_t r = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (r == 0) return true;
    if (r < 0 && errno != EAGAIN && errno != EINTR) return true;
  }
}

// Tests on the frozen clock, driving the loop one pass at a time.
class FrozenLoop : public ::testing::Test {
 protected:
  void SetUp() override { Mux::timevalset(Mux::g_tv_time, uint64_t(1700000000) * 1000); }
  void TearDown() override { Mux::g_tv_time = Mux::timeval(); }
  // Passes of the loop until `done` holds (5 s at most); then the wait to
  // the next timer (-1: none). A guard timer that never falls due bounds
  // each poll; `done` counts it among the loop's timers.
  static int PassUntil(std::function<bool()> done) {
    struct Stop {
      void Check() {
        if (done() || std::chrono::steady_clock::now() > end) multiplexer.terminate();
      }
      void Never() {}
      std::function<bool()> done;
      std::chrono::steady_clock::time_point end;
      Dpc check;
      Timer guard;
    } stop;
    stop.done = std::move(done);
    stop.end = After(5000);
    stop.check.Bind(&stop, &Stop::Check);
    stop.check.Activate();
    stop.guard.set(5000, &Stop::Never, &stop);
    Capture loopLine(std::clog);
    multiplexer.run(false, true);
    stop.check.Deactivate();
    stop.guard.reset();
    return multiplexer.timers_schedule();
  }
  static void Advance(int ms) {
    Mux::timeval d;
    Mux::make_from_msec(d, unsigned(ms));
    Mux::timevaladd(Mux::g_tv_time, d);
    multiplexer.timers_schedule();
  }
};

// The calls a profiling point has measured so far.
inline uint32_t Measured(std::string const& name) {
  for (Profile::Point* p = Profile::mRoot; p; p = p->next)
    if (p->name == name) return p->measure.counter;
  return 0;
}

inline std::string Hex(std::vector<unsigned char> const& v) {
  static char const d[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) s += ' ';
    s += d[v[i] >> 4];
    s += d[v[i] & 15];
  }
  return s;
}

}  // namespace ctrltest

#endif  // VELMARD_TESTS_CONTROL_CTRL_TESTKIT_H
