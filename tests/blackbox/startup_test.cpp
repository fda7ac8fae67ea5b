// The daemon binaries from the outside: command line, start-up, signals,
// pid and status files, and the watchdog on the simulated board.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "blackbox/harness.h"
#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"

namespace {

using blackbox::Daemon;
using blackbox::kStderr;
using blackbox::kStdout;
using blackbox::Sandbox;
using blackbox::SimControl;
using ::testing::HasSubstr;

const char kTag[] = "T250327-1818";
const char kWatchdog[] = "/dev/misc/gw-wd";

const char kUsage[] =
    "Usage:\n"
    " velmard -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

std::string StartLine(int port) {
  return std::string("Starting server [") + kTag + "], port=" + std::to_string(port);
}

// --- Command line: every case ends before the event loop.

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;  // standard output, exactly
  std::string err;  // standard error, exactly; "%0" stands for the program's path
};

void PrintTo(const OptionCase& c, std::ostream* os) {
  *os << c.name;
}

class CommandLine : public ::testing::TestWithParam<OptionCase> {};

TEST_P(CommandLine, OutputAndStatus) {
  const OptionCase& c = GetParam();
  for (const std::string& binary : {blackbox::DaemonBinary(), blackbox::SimDaemonBinary()}) {
    Sandbox sandbox;
    Daemon daemon(sandbox);
    blackbox::Options options;
    options.binary = binary;
    options.args = c.args;
    ASSERT_TRUE(daemon.Start(options));
    ASSERT_EQ(c.status, daemon.WaitExit()) << binary;
    EXPECT_EQ(c.out, daemon.Output(kStdout)) << binary;
    std::string err = c.err;
    if (err.compare(0, 2, "%0") == 0) err.replace(0, 2, binary);
    EXPECT_EQ(err, daemon.Output(kStderr)) << binary;
    EXPECT_FALSE(sandbox.Exists("/var/run/server.pid")) << binary;
  }
}

const std::string kVersionLine = std::string("server version: ") + kTag + "\n";

// Refused by the parser or the port check: the diagnostic after the
// program's path, the usage text, status 2.
OptionCase Refused(const char* name, std::vector<std::string> args, const std::string& why) {
  return OptionCase{name, std::move(args), 2, kUsage, "%0: " + why + "\n"};
}

INSTANTIATE_TEST_SUITE_P(
    Startup, CommandLine,
    ::testing::Values(
        OptionCase{"ShortHelp", {"-h"}, 0, kUsage, ""},
        OptionCase{"LongHelp", {"--help"}, 0, kUsage, ""},
        OptionCase{"HelpPrefix", {"--hel"}, 0, kUsage, ""},
        OptionCase{"HelpAfterOtherOptions", {"--port", "1", "-h"}, 0, kUsage, ""},
        Refused("ShortPortIsNoOption", {"-p", "2000"}, "invalid option -- 'p'"),
        Refused("PortWithoutValue", {"--port"}, "option '--port' requires an argument"),
        Refused("UnknownShort", {"-x"}, "invalid option -- 'x'"),
        Refused("UnknownLong", {"--bogus"}, "unrecognized option '--bogus'"),
        Refused("AmbiguousPrefix", {"--d"},
                "option '--d' is ambiguous; possibilities: '--daemon' '--disable-clock'"),
        Refused("ValueForAFlag", {"--help=yes"}, "option '--help' doesn't allow an argument"),
        OptionCase{"Version", {"--version"}, 2, kVersionLine, ""},
        OptionCase{"VersionPrefix", {"--vers"}, 2, kVersionLine, ""},
        OptionCase{"VersionWithOtherOptions",
                   {"--port=7", "--version", "--disable-clock"},
                   2,
                   kVersionLine,
                   "clock control disabled.\n"},
        OptionCase{"VersionThenHelp", {"--version", "-h"}, 0, kUsage, ""},
        OptionCase{"HelpThenVersion", {"-h", "--version"}, 0, kUsage, ""},
        Refused("RejectedBeforeVersion", {"-x", "--version"}, "invalid option -- 'x'"),
        // A port the listener cannot take is refused, not cut to 16 bits;
        // both ends of the range are taken.
        Refused("PortAbove65535", {"--port=65536"}, "invalid port -- '65536'"),
        Refused("NegativePort", {"--port", "-1"}, "invalid port -- '-1'"),
        Refused("HugePort", {"--port=99999999999999999999"},
                "invalid port -- '99999999999999999999'"),
        Refused("HugeNegative", {"--port=-9999999999999999999"},
                "invalid port -- '-9999999999999999999'"),
        OptionCase{"HighestPort", {"--port=65535", "--version"}, 2, kVersionLine, ""},
        OptionCase{"PortZero", {"--port=0", "--version"}, 2, kVersionLine, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A running daemon.

class Running : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> extra = {}, const std::string& binary = "") {
    port_ = blackbox::FreePort();
    ASSERT_GT(port_, 0);
    blackbox::Options options;
    options.binary = binary;
    options.args = {"--port", std::to_string(port_)};
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(daemon_.Start(options));
    ASSERT_TRUE(daemon_.WaitLine(kStdout, StartLine(port_))) << daemon_.Output(kStderr);
  }
  // Starts with standard output stalled: the daemon stops in its first
  // write there, the start line, until ReleaseStdout().
  void StartStalled() {
    port_ = blackbox::FreePort();
    blackbox::Options options;
    options.args = {"--port", std::to_string(port_)};
    options.stallStdout = true;
    ASSERT_TRUE(daemon_.Start(options));
  }
  void StopWith(int sig) {
    ASSERT_TRUE(daemon_.Signal(sig));
    EXPECT_EQ(0, daemon_.WaitExit());
    EXPECT_EQ(1u, daemon_.CountLines(kStderr, "Mux: terminating..."));
    EXPECT_FALSE(sandbox_.Exists("/var/run/server.pid"));
  }
  std::string Status() {
    std::string text;
    sandbox_.ReadFile("/var/log/server-status", &text);
    return text;
  }
  // The daemon may still be writing when the file appears: wait for the
  // table's closing line.
  bool StatusComplete() {
    return blackbox::WaitFor([&] {
      const std::string s = Status();
      return s.size() > 4 && s.compare(s.size() - 4, 4, "-+\n\n") == 0;
    });
  }
  // A controller, answered once: the loop has passed with its connection
  // in the table.
  Fd AnsweredController() {
    Fd c;
    blackbox::WaitFor([&] { return bool(c = ctrltest::ConnectTo(uint16_t(port_))); });
    std::vector<unsigned char> frame = ctrltest::Frame(lgcptest::Encode(lgcptest::Ping(1)));
    lgcptest::Seen seen;
    if (c && ctrltest::WriteAll(c.get(), frame.data(), frame.size()))
      while (ctrltest::ReadFrame(c.get(), frame, 20000) &&
             (seen = lgcptest::Parse(frame)).pdu == lgcptest::kSignal)
        continue;
    EXPECT_TRUE(seen.IsSuccess()) << lgcptest::Describe(seen);
    return c;
  }
  // The loop's table in the status file: "name events count handler" of
  // each row, and how many different descriptors the rows poll.
  std::vector<std::string> TableRows(const std::string& status, size_t* descriptors) {
    std::vector<std::string> rows;
    std::set<std::string> fds;
    std::istringstream in(status);
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] != '|') continue;
      std::vector<std::string> cells;
      for (size_t at = 1, bar; (bar = line.find('|', at)) != std::string::npos; at = bar + 1) {
        std::string cell = line.substr(at, bar - at);
        cell.erase(0, cell.find_first_not_of(' '));
        cell.erase(cell.find_last_not_of(' ') + 1);
        cells.push_back(cell);
      }
      EXPECT_EQ(6u, cells.size()) << line;
      if (cells.size() != 6) continue;
      rows.push_back(cells[0] + " " + cells[1] + " " + cells[2] + " " + cells[3]);
      if (rows.size() > 1) fds.insert(cells[4]);
    }
    *descriptors = fds.size();
    return rows;
  }
  Sandbox sandbox_;
  Daemon daemon_{sandbox_};
  int port_ = 0;
};

class StopSignal : public Running, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignal, StartLinePidFileAndStop) {
  Start();
  std::string pid;
  ASSERT_TRUE(sandbox_.ReadFile("/var/run/server.pid", &pid));
  EXPECT_EQ(std::to_string(daemon_.pid()), pid) << "the decimal pid, no end of line";
  StopWith(GetParam());
  EXPECT_EQ(StartLine(port_) + "\n", daemon_.Output(kStdout));
}

INSTANTIATE_TEST_SUITE_P(Startup, StopSignal, ::testing::Values(SIGTERM, SIGINT));

TEST_F(Running, BoardWithoutWatchdogDevice) {
  Start({}, blackbox::DaemonBinary());
  EXPECT_TRUE(daemon_.WaitLine(kStderr, "Mux: fail to open watchdog: "));
  StopWith(SIGTERM);
}

TEST_F(Running, PortThatIsNoNumberIsZero) {
  blackbox::Options options;
  options.args = {"--port=abc"};
  ASSERT_TRUE(daemon_.Start(options));
  EXPECT_TRUE(daemon_.WaitLine(kStdout, StartLine(0)));
  StopWith(SIGTERM);
}

TEST_F(Running, DefaultPort) {
  // In a network namespace of its own, the daemon's fixed port is nobody
  // else's.
  if (!sandbox_.isolated() || access("/usr/bin/unshare", X_OK) != 0)
    GTEST_SKIP() << "no private namespaces";
  blackbox::Options options;
  options.binary = "/usr/bin/unshare";
  options.args = {"--net", "--", blackbox::SimDaemonBinary()};
  ASSERT_TRUE(daemon_.Start(options));
  EXPECT_TRUE(daemon_.WaitLine(kStdout, StartLine(20001))) << daemon_.Output(kStderr);
  StopWith(SIGTERM);
  EXPECT_EQ(StartLine(20001) + "\n", daemon_.Output(kStdout));
}

TEST_F(Running, ConfigurationFileIsRead) {
  // A bad trace switch is reported by the configuration reader: the file
  // was opened and its "traces" section looked at.
  sandbox_.WriteConfig("[traces]\nsignalling.hdlc = maybe\n");
  Start();
  EXPECT_TRUE(daemon_.WaitLine(kStderr, "traces: "));
  StopWith(SIGTERM);
}

TEST_F(Running, Sigusr2WritesTheStatusFile) {
  Start();
  // The first ping follows the loop's first poll: its handlers are in the
  // table from then on, and no status was written unasked.
  SimControl board;
  ASSERT_TRUE(board.Connect(daemon_.simSocket()));
  ASSERT_TRUE(board.WaitJournal(kWatchdog, "PING", 1));
  EXPECT_FALSE(sandbox_.Exists("/var/log/server-status"));
  Fd controller = AnsweredController();
  ASSERT_TRUE(daemon_.Signal(SIGUSR2));
  ASSERT_TRUE(StatusComplete()) << Status();
  std::string status = Status();
  std::vector<std::string> lines;
  for (size_t start = 0, eol; (eol = status.find('\n', start)) != std::string::npos;
       start = eol + 1)
    lines.push_back(status.substr(start, eol - start));
  ASSERT_GE(lines.size(), 8u) << status;
  EXPECT_EQ("server status", lines[0]);
  EXPECT_EQ(std::string("version : ") + kTag, lines[1]);
  EXPECT_EQ(0u, lines[2].rfind("dpc transition measurement (min/max/cur/counter): min=", 0))
      << lines[2];
  EXPECT_EQ(0u, lines[3].rfind("event transition measurement (min/max/cur/counter): min=", 0))
      << lines[3];
  EXPECT_EQ(0u, lines[4].rfind("timer transition measurement (min/max/cur/counter): min=", 0))
      << lines[4];
  // The loop's table: every named event of the idle daemon, in attach order,
  // with its poll events; each polls a descriptor of its own.
  size_t fds = 0;
  std::vector<std::string> rows = TableRows(status, &fds);
  EXPECT_EQ((std::vector<std::string>{
                "name events count handler",
                "ChildWaitService::OnChildEvent POLLIN 0 attached",
                "StopRequest::OnStop POLLIN 0 attached",
                "AcceptorNet::OnSocketEvent POLLIN 1 attached",
                "StrmProtocol::on_event POLLIN 1 attached",
                "E1/Cas POLLIN 0 attached",
            }),
            rows)
      << status;
  EXPECT_EQ(rows.size() - 1, fds) << status;
  // The loop's dump, ending in its table's closing line and an empty line,
  // is the last thing in the file.
  EXPECT_THAT(status, ::testing::EndsWith("-+\n\n"));
  EXPECT_THAT(status, ::testing::Not(::testing::EndsWith("\n\n\n")));
  StopWith(SIGTERM);
}

TEST_F(Running, StartedWithoutStandardInput) {
  // The stop pipe then gets descriptor 0 (velmard-sim's board holds it
  // before main): it is polled all the same, and SIGTERM still stops.
  port_ = blackbox::FreePort();
  blackbox::Options options;
  options.binary = "/bin/sh";
  options.args = {"-c", "exec \"$0\" \"$@\" 0<&-", blackbox::DaemonBinary(), "--port",
                  std::to_string(port_)};
  ASSERT_TRUE(daemon_.Start(options));
  ASSERT_TRUE(daemon_.WaitLine(kStdout, StartLine(port_))) << daemon_.Output(kStderr);
  Fd controller = AnsweredController();
  ASSERT_TRUE(daemon_.Signal(SIGUSR2));
  ASSERT_TRUE(StatusComplete()) << Status();
  size_t fds = 0;
  std::vector<std::string> rows = TableRows(Status(), &fds);
  EXPECT_THAT(rows, ::testing::Contains("StopRequest::OnStop POLLIN 0 attached")) << Status();
  StopWith(SIGTERM);
}

TEST_F(Running, StatusFileThatCannotBeWritten) {
  Start();
  // A folder in the way of the file: the open fails.
  ASSERT_EQ(0, mkdir(sandbox_.Path("/var/log/server-status").c_str(), 0755));
  ASSERT_TRUE(daemon_.Signal(SIGUSR2));
  EXPECT_TRUE(daemon_.WaitLine(kStderr, "dump status error"));
  // The flag was cleared: the next signal tries again.
  ASSERT_EQ(0, rmdir(sandbox_.Path("/var/log/server-status").c_str()));
  ASSERT_TRUE(daemon_.Signal(SIGUSR2));
  EXPECT_TRUE(blackbox::WaitFor([&] { return Status().find("version : ") != std::string::npos; }));
  EXPECT_EQ(1u, daemon_.CountLines(kStderr, "dump status error"));
  StopWith(SIGTERM);
}

TEST_F(Running, TwoSigusr2BeforeTheLoopRunsGiveOneWrite) {
  Start();
  int in = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(in, 0);
  // Opens are watched too: the kernel merges an event with an equal one
  // queued just before it, so two writes in a row would count as one.
  ASSERT_GE(inotify_add_watch(in, sandbox_.Path("/var/log").c_str(), IN_OPEN | IN_CLOSE_WRITE), 0);
  // Stopped, the daemon cannot act on the first signal before the second.
  ASSERT_TRUE(daemon_.Signal(SIGSTOP));
  ASSERT_TRUE(daemon_.Signal(SIGUSR2));
  ASSERT_TRUE(daemon_.Signal(SIGUSR2));
  ASSERT_TRUE(daemon_.Signal(SIGCONT));
  ASSERT_TRUE(StatusComplete()) << Status();
  // A later signal's line proves the loop went on past any second write.
  ASSERT_TRUE(daemon_.Signal(SIGHUP));
  ASSERT_TRUE(daemon_.WaitLine(kStderr, "update hardware resources"));
  int writes = 0;
  alignas(inotify_event) char buf[4096];
  ssize_t n;
  while ((n = read(in, buf, sizeof buf)) > 0) {
    for (char* p = buf; p < buf + n;) {
      auto* e = reinterpret_cast<inotify_event*>(p);
      if (e->len && std::string(e->name) == "server-status" && (e->mask & IN_CLOSE_WRITE)) ++writes;
      p += sizeof(inotify_event) + e->len;
    }
  }
  close(in);
  EXPECT_EQ(1, writes);
  StopWith(SIGTERM);
}

TEST_F(Running, SighupUpdatesResourcesAndSigpipeIsIgnored) {
  Start();
  // Nothing to act on before the first signal: the loop has passed (its
  // first ping) without a word.
  SimControl board;
  ASSERT_TRUE(board.Connect(daemon_.simSocket()));
  ASSERT_TRUE(board.WaitJournal(kWatchdog, "PING", 1));
  EXPECT_EQ(0u, daemon_.CountLines(kStderr, "update hardware resources"));
  ASSERT_TRUE(daemon_.Signal(SIGPIPE));
  // Still there and acting on every signal, each one in turn.
  for (size_t n = 1; n <= 2; ++n) {
    ASSERT_TRUE(daemon_.Signal(SIGHUP));
    EXPECT_TRUE(daemon_.WaitLine(kStderr, "update hardware resources", n));
  }
  EXPECT_TRUE(daemon_.Running());
  StopWith(SIGTERM);
  EXPECT_EQ(2u, daemon_.CountLines(kStderr, "update hardware resources")) << "one per signal";
}

TEST_F(Running, SigtermDuringStartupIsNotLost) {
  StartStalled();
  // Blocked on its start line: handlers and pid file are in place, the loop
  // has not started.
  ASSERT_TRUE(blackbox::WaitFor([&] { return daemon_.BlockedOnStdout(); }));
  EXPECT_TRUE(sandbox_.Exists("/var/run/server.pid"));
  ASSERT_TRUE(daemon_.Signal(SIGTERM));
  daemon_.ReleaseStdout();
  EXPECT_EQ(0, daemon_.WaitExit());
  EXPECT_EQ(1u, daemon_.CountLines(kStderr, "Mux: terminating..."));
  EXPECT_FALSE(sandbox_.Exists("/var/run/server.pid"));
}

TEST_F(Running, WatchdogStartPingStop) {
  Start();
  SimControl board;
  ASSERT_TRUE(board.Connect(daemon_.simSocket()));
  ASSERT_TRUE(board.Follow(kWatchdog));
  ASSERT_TRUE(board.WaitFollowed("PING", 3));
  StopWith(SIGTERM);
  auto journal = board.FollowToEnd();
  ASSERT_GE(journal.size(), 5u);
  EXPECT_EQ("START", journal.front().text);
  EXPECT_EQ("STOP", journal.back().text);
  for (size_t i = 1; i + 1 < journal.size(); ++i) {
    EXPECT_EQ("PING", journal[i].text) << i;
    if (i < 2) continue;
    // Idle, the daemon pings once a second: never much later, and not in a
    // burst either.
    uint64_t gap = journal[i].ms - journal[i - 1].ms;
    EXPECT_LT(gap, 2000u) << i;
    EXPECT_GT(gap, 500u) << i;
  }
}

TEST_F(Running, WatchdogFailuresAreReportedAndTheLoopGoesOn) {
  Start();
  SimControl board;
  ASSERT_TRUE(board.Connect(daemon_.simSocket()));
  ASSERT_TRUE(board.WaitJournal(kWatchdog, "PING", 1));
  ASSERT_TRUE(board.Ask("fail-write /dev/misc/gw-wd EIO 1"));
  EXPECT_TRUE(daemon_.WaitLine(kStderr, "Mux: ping watchdog failed: Input/output error"));
  ASSERT_TRUE(board.Ask("clear /dev/misc/gw-wd"));
  EXPECT_TRUE(board.WaitJournal(kWatchdog, "PING", 1));
  StopWith(SIGTERM);
}

TEST_F(Running, WatchdogThatCannotBeOpened) {
  // The control socket is served before main: arm the fault before the loop
  // opens the device.
  StartStalled();
  SimControl board;
  ASSERT_TRUE(board.Connect(daemon_.simSocket()));
  ASSERT_TRUE(board.Ask("fail-open /dev/misc/gw-wd ENOENT"));
  daemon_.ReleaseStdout();
  ASSERT_TRUE(daemon_.WaitLine(kStdout, StartLine(port_)));
  EXPECT_TRUE(daemon_.WaitLine(kStderr, "Mux: fail to open watchdog: No such file or directory"));
  ASSERT_TRUE(board.Follow(kWatchdog));
  StopWith(SIGTERM);
  EXPECT_TRUE(board.FollowToEnd().empty());
}

TEST_F(Running, DaemonModeDetachesAndLogsToSyslog) {
  if (!sandbox_.CaptureSyslog()) GTEST_SKIP() << "no private mount namespace";
  port_ = blackbox::FreePort();
  ASSERT_TRUE(daemon_.Start({"-D", "--port", std::to_string(port_)}));
  EXPECT_EQ(0, daemon_.WaitExit()) << "the parent leaves at once";
  std::string pidText;
  ASSERT_TRUE(blackbox::WaitFor([&] {
    return sandbox_.ReadFile("/var/run/server.pid", &pidText) && !pidText.empty();
  })) << daemon_.Output(kStderr)
      << ::testing::PrintToString(sandbox_.SyslogMessages());
  const pid_t pid = std::stoi(pidText);
  EXPECT_NE(daemon_.pid(), pid);
  struct Reaper {
    pid_t pid;
    ~Reaper() { kill(pid, SIGKILL); }
  } reaper{pid};

  // Standard output is a notice, the log stream debug, both under the
  // daemon's own identity.
  const std::string ident = std::string("vld-") + kTag + ": ";
  EXPECT_TRUE(sandbox_.WaitSyslog("<29>"));
  EXPECT_TRUE(sandbox_.WaitSyslog(ident + StartLine(port_)));
  // The board follows the daemon into the background.
  SimControl board;
  ASSERT_TRUE(board.Connect(daemon_.simSocket()));
  EXPECT_TRUE(board.WaitJournal(kWatchdog, "PING", 1));

  ASSERT_EQ(0, kill(pid, SIGTERM));
  EXPECT_TRUE(sandbox_.WaitSyslog(ident + "Mux: terminating..."));
  EXPECT_TRUE(blackbox::WaitFor([&] { return !sandbox_.Exists("/var/run/server.pid"); }));
  // Nobody may reap the orphan at once: a zombie counts as gone.
  EXPECT_TRUE(blackbox::WaitFor([&] {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, comm, state;
    return !(stat >> pidField >> comm >> state) || state == "Z";
  }));
}

}  // namespace
