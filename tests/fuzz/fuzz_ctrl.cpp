// libFuzzer target: the control road as a controller drives it.  The input
// reaches the daemon's end of a stream socket pair in chunks, one read per
// loop pass, through the stream and TPKT layers into the control server and
// the heartbeat service, on a frozen clock that may jump past the frame and
// heartbeat timeouts.  The peer end captures every answer: each must be a
// whole frame whose body decodes as a response, and no packet block may
// outlive the connection.
//
// Input: one plan octet, then the byte stream.  Plan bits 0-1: chunking
// (all at once, octet by octet, 1..16, 1..512); bits 2-3: clock (still,
// small steps, some steps past the frame timeout, some past the heartbeat);
// bits 4-7 seed the choices.

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/modules/LGCP.h"
#include "control/control.h"
#include "control/ctrlsrv.h"
#include "control/heartbeat.h"
#include "control/packet.h"
#include "control/tpkt.h"
#include "core/multiplexer.h"
#include "core/timer.h"
#include "tests/fuzz/fuzz_loop.h"

namespace {

// The control endpoint with the listener left out: the target hands it the
// accepted socket itself.
class CaptureEndpoint : public Control::ServiceNet {
 public:
  void Open(Fd const& sock) { Connected(sock, INet4::Addr()); }

 protected:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
};

// Everything the daemon wrote so far: whole frames only, each a response.
void CheckAnswers(int peer) {
  fuzzloop::CheckFrames<LGCP::Message>(peer, [](LGCP::Message const& m) {
    return m.get_pdu().currentSelection() == LGCP::PDU::e_response;
  });
}

fuzzloop::NullBuf nullBuf;
fuzzloop::Stopper* stopper;

void Setup() {
  std::cout.rdbuf(&nullBuf);
  std::cerr.rdbuf(&nullBuf);
  std::clog.rdbuf(&nullBuf);
  ctrlServer.Bind(HeartBeatCtl::instance());
  stopper = new fuzzloop::Stopper;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (Setup(), true);
  (void)ready;
  // The socket buffers hold every answer of an input this size.
  if (size == 0 || size > 16384) return 0;
  fuzzloop::Plan plan(data[0], 4, Tpkt_protocol::frame_timeout_ms, HeartBeatCtl::defaultTimeout);
  ++data;
  --size;

  Mux::g_tv_time.tv_sec = 1000000;
  Mux::g_tv_time.tv_usec = 0;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv) != 0) return 0;
  Fd daemonEnd(sv[0]);
  Fd peer(sv[1]);
  CaptureEndpoint* endpoint = new CaptureEndpoint;
  ctrlServer.Activate(endpoint);
  endpoint->Open(daemonEnd);
  daemonEnd.close();
  stopper->mux_attach();

  std::size_t at = 0;
  bool more = true;
  while (more) {
    more = at < size;
    fuzzloop::Advance(plan.step());
    if (more) {
      std::size_t n = plan.chunk(size - at);
      if (::send(peer.get(), data + at, n, MSG_NOSIGNAL) != ssize_t(n)) __builtin_trap();
      at += n;
    }
    multiplexer.run(false, true);
    CheckAnswers(peer.get());
    if (endpoint->GetState() != Control::Service::State::Connected) break;
  }

  stopper->mux_detach();
  ctrlServer.Deactivate();
  // Every block the connection took is back in the pool.
  if (Packet_pool::available() != Packet_pool::capacity()) __builtin_trap();
  return 0;
}
