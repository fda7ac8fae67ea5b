// libFuzzer target: the SNMP agent road as an agent drives it.  The
// monitoring service is configured with one "snmpagent" link to a loopback
// listener of the target, the link connects as the daemon's does, and the
// input is what the agent sends on it: bytes in chunks, one read per loop
// pass, through the stream and TPKT layers into the link's message handler
// (decode, liveness stamp, log line), on a frozen clock that may jump past
// the ping period and the silence limit.  Every frame the daemon sends the
// agent must be a whole frame whose body decodes as a command, and no
// packet block may outlive the link.
//
// Input: one plan octet, then the byte stream.  Plan bits 0-1: chunking
// (all at once, octet by octet, 1..16, 1..512); bits 2-3: clock (still,
// small steps, some steps past the ping period, some past the silence
// limit); bit 4: the monitoring trace on, so received messages are logged;
// bits 5-7 seed the choices.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/modules/MON.h"
#include "control/packet.h"
#include "control/tpkt.h"
#include "core/inifile.h"
#include "core/multiplexer.h"
#include "core/timer.h"
#include "core/traces.h"
#include "monitoring/monitoringctl.h"
#include "monitoring/snmpagent.h"
#include "tests/fuzz/fuzz_loop.h"

namespace {

fuzzloop::NullBuf nullBuf;
fuzzloop::Stopper* stopper;
int listener = -1;
IniFile::File withAgent;
IniFile::File withoutAgent;

void Pass() {
  stopper->mux_detach();
  stopper->mux_attach();
  multiplexer.run(false, true);
}

// Closed with a reset, so that no connection lingers in TIME_WAIT: the
// target makes one per input.
void Abort(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

// Connections the link made and the target has not taken.
void DrainListener() {
  int fd;
  while ((fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) Abort(fd);
}

// Everything the daemon sent so far: whole frames only, each a command.
void CheckSent(int agent) {
  fuzzloop::CheckFrames<MON::Message>(agent, [](MON::Message const& m) {
    return m.get_pdu().currentSelection() == MON::PDU::e_command;
  });
}

bool Setup() {
  std::cout.rdbuf(&nullBuf);
  std::cerr.rdbuf(&nullBuf);
  std::clog.rdbuf(&nullBuf);
  stopper = new fuzzloop::Stopper;
  listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
      ::listen(listener, 16) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len))
    return false;
  std::istringstream with("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(ntohs(a.sin_port)) +
                          "\nname = snmp\n");
  with >> withAgent;
  std::istringstream without("[traces]\n");
  without >> withoutAgent;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = Setup();
  // The socket buffers hold every frame the daemon sends for an input this
  // size.
  if (!ready || size == 0 || size > 16384) return 0;
  fuzzloop::Plan plan(data[0], 5, SnmpAgentInstance::pingPeriod, SnmpAgentInstance::silenceLimit);
  ++data;
  --size;

  Mux::g_tv_time.tv_sec = 1000000;
  Mux::g_tv_time.tv_usec = 0;
  traces.monitoring_internal = (plan.bits() & 0x10) != 0;
  MonitoringCtl& monitoring = *MonitoringCtl::instance();
  monitoring.Configure(withAgent);
  SnmpAgentInstance& link = monitoring.GetAgents().at(0);

  // The link connects on the loopback within a few passes.
  int agent = -1;
  for (int i = 0; i < 1000 && (agent < 0 || !link.IsConnected()); ++i) {
    Pass();
    if (agent < 0) agent = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  }
  if (agent >= 0 && link.IsConnected()) {
    CheckSent(agent);
    std::size_t at = 0;
    bool more = true;
    while (more && link.IsConnected()) {
      more = at < size;
      fuzzloop::Advance(plan.step());
      if (more) {
        std::size_t n = plan.chunk(size - at);
        if (::send(agent, data + at, n, MSG_NOSIGNAL) != ssize_t(n)) __builtin_trap();
        at += n;
      }
      Pass();
      CheckSent(agent);
    }
  }

  if (agent >= 0) Abort(agent);
  monitoring.Configure(withoutAgent);
  Pass();
  DrainListener();
  traces.monitoring_internal = false;
  // Every block the link took is back in the pool.
  if (Packet_pool::available() != Packet_pool::capacity()) __builtin_trap();
  return 0;
}
