// Start-up of the gateway server: configuration, signals, command line, pid
// file, then the event loop until SIGTERM or SIGINT.

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "control/control.h"
#include "control/ctrlsrv.h"
#include "control/heartbeat.h"
#include "core/childwait.h"
#include "core/daemon.h"
#include "core/inifile.h"
#include "core/ipc.h"
#include "core/linux.h"
#include "core/multiplexer.h"
#include "core/timer.h"
#include "core/traces.h"
#include "core/version.h"
#include "daemon/main.h"
#include "hardware/busctl.h"
#include "hardware/e1ctl.h"
#include "hardware/hwmux.h"
#include "hardware/hwtests.h"
#include "hardware/spictrl.h"
#include "monitoring/monitoringctl.h"
#include "radio/factories.h"
#include "signalling/factories.h"
#include "slots/factories.h"
#include "slots/slots.h"

namespace {

const char* configFile = "/usr/local/etc/server.conf";
const char* statusFile = "/var/log/server-status";

int print_version = 0;

const option long_options[] = {
    {"daemon", no_argument, nullptr, 'D'},     {"disable-clock", no_argument, nullptr, 10},
    {"port", required_argument, nullptr, 'p'}, {"version", no_argument, &print_version, 1},
    {"help", no_argument, nullptr, 'h'},       {},
};

const char sUsageText[] =
    "Usage:\n"
    " velmard -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n";

volatile sig_atomic_t doDumpStatus = 0;
volatile sig_atomic_t updateResources = 0;

// SIGTERM and SIGINT also leave a byte here. The loop clears its stop flag
// when it starts and checks it only between passes, so a signal caught
// during start-up, or just before the loop goes to sleep in poll, would
// otherwise be lost or wait for the next event; the byte wakes the poll and
// its handler stops the loop from inside.
int stopPipe[2] = {-1, -1};

void SigPipeHandler(int, siginfo_t*, void*) {}

void SigTermHandler(int, siginfo_t*, void*) {
  multiplexer.terminate();
  if (stopPipe[1] >= 0) {
    int saved = errno;
    char c = 0;
    ssize_t n = ::write(stopPipe[1], &c, 1);
    (void)n;
    errno = saved;
  }
}

void SigUsr2Handler(int, siginfo_t*, void*) {
  doDumpStatus = 1;
}

void SigHupHandler(int, siginfo_t*, void*) {
  updateResources = 1;
}

class StopRequest {
 public:
  // Called on every dispatch, with no events when another descriptor was
  // the ready one. One byte per signal; any left over would only stop the
  // loop again.
  void OnStop(int fd, short revents) {
    if (!(revents & POLLIN)) return;
    char buf[64];
    (void)!::read(fd, buf, sizeof buf);
    multiplexer.terminate();
  }
};

void Usage() {
  std::cout << sUsageText << std::endl;
}

void CheckDumpStatus() {
  if (!doDumpStatus) return;
  doDumpStatus = 0;
  std::ofstream out(statusFile, std::ios::out | std::ios::trunc);
  if (!out) {
    std::cerr << "dump status error" << std::endl;
    return;
  }
  out << "server status" << std::endl;
  out << "version : " << Version::current << std::endl;
  multiplexer.dump(out);
}

void CheckUpdateResources() {
  if (!updateResources) return;
  updateResources = 0;
  std::clog << "update hardware resources" << std::endl;
  Slots::instance()->UpdateHardwareResources();
}

void CheckSignals() {
  CheckDumpStatus();
  CheckUpdateResources();
}

// A port outside 0..65535 would be truncated to some other port by the
// listener; it is refused like any other bad option (strtol gives the
// out-of-range extremes for a number too long to hold).
bool ParsePort(const char* text, int* port) {
  long value = std::strtol(text, nullptr, 10);
  if (value < 0 || value > 65535) return false;
  *port = static_cast<int>(value);
  return true;
}

}  // namespace

void MakeSlotFactories() {
  // Each factory goes to the head of the chain, so the last one made is
  // asked first on a create.
  MapFactory::instance();
  PstnFactory::instance();
  RtpFactory::instance();
  ModemFactory::instance();
  Mixer::MixerFactory::instance();
  ExtFactory::instance();
  MccFactory::instance();
  EchoFactory::instance();
  VoiceFactory::instance();
  T38SoftFactory::instance();
  IsdnFactory::instance();
  RtpVornFactory::instance();
  RtpED137Factory::instance();
  HdlcSlotFactory::instance();
}

int main(int argc, char** argv) {
  // Log lines must reach a pipe or a terminal as they are written, not
  // when a block fills.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // opterr keeps its initial 1: the parser reports a rejected option itself.
  int port = 20001;
  bool daemon = false;

  IniFile::File config;
  // The switches start off; each occurrence of the section starts again
  // from all off.
  if (config.Open(configFile)) traces.Configure(config["traces"]);

  // A pipe2 that fails leaves both ends at -1: the loop's flag alone then
  // stops it.
  (void)!pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK);
  IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
  IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
  IPC::Signal::handle(SIGINT, SigTermHandler, 0);
  IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
  IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);

  int c;
  while ((c = getopt_long(argc, argv, "Dh", long_options, nullptr)) != -1) {
    switch (c) {
      case 'h':
        Usage();
        std::exit(0);
      case 'p':
        if (!ParsePort(optarg, &port)) {
          std::cerr << argv[0] << ": invalid port -- '" << optarg << "'" << std::endl;
          Usage();
          std::exit(2);
        }
        break;
      case 'D':
        daemon = true;
        break;
      case 10:
        BusCtl::instance()->DisableControl();
        break;
      case '?':
        Usage();
        std::exit(2);
      default:
        break;
    }
  }

  if (print_version) {
    std::cout << "server version: " << Version::current << std::endl;
    std::exit(2);
  }

  MakeSlotFactories();

  // Before becoming a daemon: the switch is swept to all outputs disabled
  // while the start-up still owns the terminal's streams.
  HwMux::instance();

  // Made before the process detaches; a file that did not open still
  // counts: it has no agents.
  MonitoringCtl::instance()->Configure(config);

  if (daemon) RunDaemon();

  Linux::Run pidFile("server");
  std::cout << "Starting server "
            << "[" << Version::current << "]"
            << ", port=" << port << std::endl;

  // The order of binding is the order in which commands are offered.
  ctrlServer.Bind(HeartBeatCtl::instance());
  ctrlServer.Bind(Slots::instance());
  ctrlServer.Bind(HwTests::instance());
  ctrlServer.Bind(BusCtl::instance());
  ctrlServer.Bind(E1Ctl::instance());
  ctrlServer.Bind(spiCtrl::instance());
  ctrlServer.Bind(MonitoringCtl::instance());

  ChildWait::Activate();

  StopRequest stopRequest;
  Event stopEvent;
  if (stopPipe[0] >= 0) {
    stopEvent.Bind("StopRequest::OnStop", &StopRequest::OnStop, &stopRequest);
    stopEvent.Schedule(stopPipe[0], POLLIN);
  }

  Dpc signals;
  signals.Bind(new DpcHandler1(CheckSignals));
  signals.Activate();

  ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port));

  multiplexer.run(true, true);

  // Every slot goes with the controller's server; the locals then go in
  // reverse order: the deferred call and its handler, the stop event, the
  // pid file (removed), the configuration.
  ctrlServer.Deactivate();
  return 0;
}
