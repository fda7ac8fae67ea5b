// TPKT framing throughput over a socket pair, beside a plain write/read loop
// moving the same bytes over the same kind of socket pair: the ratio of the
// two is the cost of the stack (packet pool, framing, state machine).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "control/protocol.h"
#include "control/strm.h"
#include "control/tpkt.h"
#include "core/fd.h"

namespace {

class Sink : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override {
    ++frames;
    bytes += p.length();
  }
  void on_deactivated(Protocol*, Protocol_status) override { failed = true; }
  unsigned long frames = 0;
  unsigned long bytes = 0;
  bool failed = false;
};

struct Stack {
  explicit Stack(int fd) {
    NonBlockMode(fd);
    strm = static_cast<StrmProtocol*>(family.add_protocol_tail(new StrmProtocol(Fd(fd))));
    family.add_protocol_tail(new Tpkt_protocol);
  }
  Sink family;
  StrmProtocol* strm;
};

void BM_TpktFraming(benchmark::State& state) {
  unsigned const size = unsigned(state.range(0));
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  Stack tx(sv[0]), rx(sv[1]);
  std::vector<u8> body(size, 0x5A);
  for (auto _ : state) {
    Packet p;
    tx.family.prepare_head(p);
    p.put(body.data(), size);
    tx.family.message(p);
    unsigned long want = rx.family.frames + 1;
    while (rx.family.frames < want && !rx.family.failed) rx.strm->on_event(rx.strm->fd(), POLLIN);
    if (tx.family.failed || rx.family.failed) {
      state.SkipWithError("connection failed");
      break;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.SetBytesProcessed(int64_t(state.iterations()) * (size + 4));
}

void BM_PlainReadWrite(benchmark::State& state) {
  unsigned const size = unsigned(state.range(0)) + 4;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  Fd a(sv[0]), b(sv[1]);
  std::vector<u8> out(size, 0x5A), in(65536);
  for (auto _ : state) {
    if (write(a.get(), out.data(), size) != ssize_t(size)) {
      state.SkipWithError("write");
      break;
    }
    unsigned got = 0;
    while (got < size) {
      ssize_t n = read(b.get(), in.data(), in.size());
      if (n <= 0) break;
      got += unsigned(n);
    }
    benchmark::DoNotOptimize(in.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

BENCHMARK(BM_TpktFraming)->Arg(16)->Arg(256)->Arg(4096)->Arg(60000);
BENCHMARK(BM_PlainReadWrite)->Arg(16)->Arg(256)->Arg(4096)->Arg(60000);

}  // namespace

BENCHMARK_MAIN();
