// A controller's ping through the running daemon over loopback, beside a
// minimal server of our own that answers the same frame: the daemon's cost
// shows as a ratio to that floor.
//
//   BM_PingRoundTrip/floor, /daemon  one ping, wait for its answer
//                                    (median_us, p99_us, ratio_to_floor)
//   BM_PipelinedPings/floor, /floor_process, /daemon
//                                    256 pings in one write, then every
//                                    answer (items_per_second, rate_vs_floor:
//                                    the daemon's rate over the floor's;
//                                    rate_vs_process_floor: the same against
//                                    the floor run as a separate process;
//                                    server_cpu_us_per_answer: CPU time of
//                                    the serving task per answer)
//
// Beside each daemon figure, allocs_per_answer: the heap allocations the
// daemon made per answer while the benchmark ran.
//
// The daemon is the board build's own start-up (daemon/main.cpp, built into
// this benchmark under another name) run in a forked child, so that the
// counting allocator below sees every allocation it makes. It runs in a
// private mount namespace with temporary folders over "/var/run", "/var/log"
// and "/usr/local/etc", so its pid and status files stay out of the real
// system.
#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "tests/private_mounts.h"

int velmard_main(int argc, char** argv);

namespace {

// Allocations counted by the replaced operator new. The counter lives in a
// shared page, so the forked daemon's count is read by this process.
std::uint64_t* allocCount() {
  static std::uint64_t* count = [] {
    void* p = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<std::uint64_t*>(p);
  }();
  return count;
}

std::uint64_t daemonAllocs() {
  std::uint64_t* c = allocCount();
  return c ? __atomic_load_n(c, __ATOMIC_RELAXED) : 0;
}

pid_t countingPid = -1;  // only the daemon counts

void* countedAlloc(std::size_t n) {
  if (countingPid >= 0) {
    std::uint64_t* c = allocCount();
    if (c) __atomic_fetch_add(c, 1, __ATOMIC_RELAXED);
  }
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t n) {
  return countedAlloc(n);
}
void* operator new[](std::size_t n) {
  return countedAlloc(n);
}
void* operator new(std::size_t n, std::nothrow_t const&) noexcept {
  try {
    return countedAlloc(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept {
  try {
    return countedAlloc(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

// A ping with neither sequence nor slot number, and its success answer.
const unsigned char kPing[] = {0x03, 0x00, 0x00, 0x06, 0x06, 0x00};
const unsigned char kSuccess[] = {0x03, 0x00, 0x00, 0x05, 0x10};
constexpr int kPipelined = 256;

using Clock = std::chrono::steady_clock;

bool WriteAll(int fd, void const* data, size_t len) {
  char const* p = static_cast<char const*>(data);
  while (len > 0) {
    ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= size_t(n);
  }
  return true;
}

int Loopback(int port) {
  int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  if (::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
    ::close(c);
    return -1;
  }
  int one = 1;
  ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return c;
}

int ListenLoopback(int& port) {
  int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(l, 1);
  socklen_t len = sizeof a;
  ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return l;
}

// Nanoseconds a task has run on a CPU, from the scheduler's own account
// ("/proc/<pid>/schedstat", or "/proc/self/task/<tid>/schedstat" for a
// thread): unlike the rates, it does not depend on what else the machine
// runs. 0 when unknown.
double CpuNs(std::string const& schedstat) {
  FILE* f = std::fopen(schedstat.c_str(), "r");
  if (!f) return 0;
  unsigned long long ns = 0;
  if (std::fscanf(f, "%llu", &ns) != 1) ns = 0;
  std::fclose(f);
  return double(ns);
}

// Reads TPKT frames and counts the success answers among them; the
// daemon's own signals (trunk status every second) are skipped.
class AnswerReader {
 public:
  explicit AnswerReader(int fd) : fd_(fd) {}
  bool Await(int answers) {
    while (answers > 0) {
      while (buf_.size() - pos_ >= 4) {
        size_t len = (size_t(buf_[pos_ + 2]) << 8) | buf_[pos_ + 3];
        if (len < 4) return false;
        if (buf_.size() - pos_ < len) break;
        if (len == sizeof kSuccess && std::memcmp(&buf_[pos_], kSuccess, sizeof kSuccess) == 0)
          --answers;
        pos_ += len;
      }
      if (answers == 0) break;
      if (pos_ > 0) {
        buf_.erase(buf_.begin(), buf_.begin() + long(pos_));
        pos_ = 0;
      }
      unsigned char tmp[65536];
      ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      buf_.insert(buf_.end(), tmp, tmp + n);
    }
    return true;
  }

 private:
  int fd_;
  std::vector<unsigned char> buf_;
  size_t pos_ = 0;
};

// The floor: answers every complete frame with the success frame, one write
// per answer as the daemon does, with nothing else in the way.
// It runs as a thread of this process, or, to show what a separate process
// costs by itself, as a forked child like the daemon.
class FloorServer {
 public:
  explicit FloorServer(bool process = false) {
    listen_ = ListenLoopback(port_);
    if (!process) {
      thread_ = std::thread([this] { Serve(); });
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      Serve();
      _exit(0);
    }
  }
  ~FloorServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    } else {
      ::shutdown(listen_, SHUT_RDWR);
      if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
      thread_.join();
    }
    ::close(listen_);
  }
  int port() const { return port_; }
  std::string schedstat() const {
    if (pid_ > 0) return "/proc/" + std::to_string(pid_) + "/schedstat";
    return "/proc/self/task/" + std::to_string(tid_.load()) + "/schedstat";
  }

 private:
  void Serve() {
    tid_ = pid_t(::gettid());
    int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) return;
    int one = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    client_ = c;
    std::vector<unsigned char> in;
    unsigned char tmp[65536];
    for (;;) {
      ssize_t n = ::recv(c, tmp, sizeof tmp, 0);
      if (n <= 0) break;
      in.insert(in.end(), tmp, tmp + n);
      size_t pos = 0;
      bool ok = true;
      while (ok && in.size() - pos >= 4) {
        size_t len = (size_t(in[pos + 2]) << 8) | in[pos + 3];
        if (len < 4 || in.size() - pos < len) break;
        ok = WriteAll(c, kSuccess, sizeof kSuccess);
        pos += len;
      }
      in.erase(in.begin(), in.begin() + long(pos));
      if (!ok) break;
    }
    ::close(c);
  }

  int listen_ = -1;
  int port_ = 0;
  pid_t pid_ = -1;
  std::atomic<pid_t> tid_{0};
  std::atomic<int> client_{-1};
  std::thread thread_;
};

class RunningDaemon {
 public:
  RunningDaemon() {
    char tmpl[] = "/tmp/ctrl_ping.XXXXXX";
    root_ = ::mkdtemp(tmpl) ? tmpl : "";
    int l = ListenLoopback(port_);  // a free port, given back at once
    ::close(l);
    std::string port = std::to_string(port_);
    allocCount();  // the shared page exists before the fork
    std::vector<std::pair<std::string, std::string>> mounts = {{root_ + "/run", "/var/run"},
                                                               {root_ + "/log", "/var/log"},
                                                               {root_ + "/etc", "/usr/local/etc"}};
    for (auto const& m : mounts) ::mkdir(m.first.c_str(), 0755);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::unshare(CLONE_NEWNS) == 0 && testsupport::MakeMountsPrivate()) {
        for (auto const& m : mounts)
          ::mount(m.first.c_str(), m.second.c_str(), nullptr, MS_BIND, nullptr);
      } else {
        _exit(126);  // never touch the real system folders
      }
      int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      countingPid = ::getpid();
      char name[] = "velmard";
      char option[] = "--port";
      char* args[] = {name, option, &port[0], nullptr};
      optind = 1;
      _exit(velmard_main(3, args));
    }
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline && fd_ < 0) {
      fd_ = Loopback(port_);
      if (fd_ < 0) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
          pid_ = -1;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }
  ~RunningDaemon() {
    if (fd_ >= 0) ::close(fd_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!root_.empty()) {
      std::string cmd = "rm -rf '" + root_ + "'";
      if (std::system(cmd.c_str()) != 0) {
      }
    }
  }
  int fd() const { return fd_; }
  std::string schedstat() const { return "/proc/" + std::to_string(pid_) + "/schedstat"; }

 private:
  std::string root_;
  int port_ = 0;
  pid_t pid_ = -1;
  int fd_ = -1;
};

struct Target {
  int fd = -1;
  AnswerReader* reader = nullptr;
  std::string schedstat;  // of the serving task
};

enum Kind { kFloor, kFloorProcess, kDaemon };

FloorServer* floorServers[2] = {nullptr, nullptr};
RunningDaemon* daemonProcess = nullptr;
double floorMedianUs = 0;
double floorRate[2] = {0, 0};

Target Connect(Kind kind) {
  static int floorFd[2] = {-1, -1};
  static AnswerReader* floorReader[2] = {nullptr, nullptr};
  static AnswerReader* daemonReader = nullptr;
  if (kind == kDaemon) {
    if (!daemonProcess) daemonProcess = new RunningDaemon;
    if (!daemonReader && daemonProcess->fd() >= 0)
      daemonReader = new AnswerReader(daemonProcess->fd());
    return {daemonProcess->fd(), daemonReader, daemonProcess->schedstat()};
  }
  if (!floorServers[kind]) {
    floorServers[kind] = new FloorServer(kind == kFloorProcess);
    floorFd[kind] = Loopback(floorServers[kind]->port());
    floorReader[kind] = new AnswerReader(floorFd[kind]);
  }
  return {floorFd[kind], floorReader[kind], floorServers[kind]->schedstat()};
}

void BM_PingRoundTrip(benchmark::State& state, bool daemon) {
  Target t = Connect(daemon ? kDaemon : kFloor);
  if (t.fd < 0) {
    state.SkipWithError("no connection to the server");
    return;
  }
  std::vector<double> us;
  us.reserve(1 << 20);
  std::uint64_t allocsBefore = daemonAllocs();
  for (auto _ : state) {
    auto start = Clock::now();
    if (!WriteAll(t.fd, kPing, sizeof kPing) || !t.reader->Await(1)) {
      state.SkipWithError("connection lost");
      return;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::uint64_t allocs = daemonAllocs() - allocsBefore;
  std::sort(us.begin(), us.end());
  double median = us[us.size() / 2];
  double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  state.counters["median_us"] = median;
  state.counters["p99_us"] = p99;
  if (!daemon) floorMedianUs = median;
  if (daemon && floorMedianUs > 0) state.counters["ratio_to_floor"] = median / floorMedianUs;
  if (daemon) state.counters["allocs_per_answer"] = double(allocs) / double(state.iterations());
}

void BM_PipelinedPings(benchmark::State& state, Kind kind) {
  Target t = Connect(kind);
  if (t.fd < 0) {
    state.SkipWithError("no connection to the server");
    return;
  }
  std::vector<unsigned char> batch;
  for (int i = 0; i < kPipelined; ++i) batch.insert(batch.end(), kPing, kPing + sizeof kPing);
  std::uint64_t allocsBefore = daemonAllocs();
  double cpuBefore = CpuNs(t.schedstat);
  auto start = Clock::now();
  for (auto _ : state) {
    if (!WriteAll(t.fd, batch.data(), batch.size()) || !t.reader->Await(kPipelined)) {
      state.SkipWithError("connection lost");
      return;
    }
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::uint64_t allocs = daemonAllocs() - allocsBefore;
  double rate = double(state.iterations()) * kPipelined / seconds;
  state.SetItemsProcessed(int64_t(state.iterations()) * kPipelined);
  double cpu = CpuNs(t.schedstat) - cpuBefore;
  if (cpuBefore > 0 && cpu > 0)
    state.counters["server_cpu_us_per_answer"] =
        cpu / 1000 / (double(state.iterations()) * kPipelined);
  if (kind != kDaemon) {
    floorRate[kind] = rate;
    return;
  }
  if (rate > 0 && floorRate[kFloor] > 0) state.counters["rate_vs_floor"] = rate / floorRate[kFloor];
  if (rate > 0 && floorRate[kFloorProcess] > 0)
    state.counters["rate_vs_process_floor"] = rate / floorRate[kFloorProcess];
  state.counters["allocs_per_answer"] = double(allocs) / (double(state.iterations()) * kPipelined);
}

// Floors first, so the daemon's run can report its ratios.
BENCHMARK_CAPTURE(BM_PingRoundTrip, floor, false)->UseRealTime();
BENCHMARK_CAPTURE(BM_PingRoundTrip, daemon, true)->UseRealTime();
BENCHMARK_CAPTURE(BM_PipelinedPings, floor, kFloor)->UseRealTime();
BENCHMARK_CAPTURE(BM_PipelinedPings, floor_process, kFloorProcess)->UseRealTime();
BENCHMARK_CAPTURE(BM_PipelinedPings, daemon, kDaemon)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delete daemonProcess;
  delete floorServers[kFloor];
  delete floorServers[kFloorProcess];
  return 0;
}
