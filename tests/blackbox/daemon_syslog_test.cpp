// Daemon mode against a real syslog daemon: rsyslogd listens on the socket
// that the sandbox lays over "/dev/log" for "velmard -D" and writes what it
// parsed of each message into a file of the sandbox.

#include "blackbox/harness.h"

#include "core/version.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

char const kRsyslogd[] = "/usr/sbin/rsyslogd";

std::string ReadText(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A process that is killed (and reaped, when it is a child) when the test
// leaves.
struct Child {
  pid_t pid = -1;
  ~Child() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
  }
};

// Lines written by the template "severity|facility|programname|msg", with
// the space that starts the message removed.
std::vector<std::string> Lines(std::string const& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t msg = line.find('|', line.find('|', line.find('|') + 1) + 1);
    if (msg != std::string::npos && line.compare(msg + 1, 1, " ") == 0) line.erase(msg + 1, 1);
    out.push_back(line);
  }
  return out;
}

TEST(DaemonSyslog, StartupLineAndSeverities) {
  if (access(kRsyslogd, X_OK) != 0) GTEST_SKIP() << "rsyslogd is not installed";
  blackbox::Sandbox sandbox;
  if (!sandbox.CaptureSyslog()) GTEST_SKIP() << "no private mount namespace";

  // rsyslogd takes the place of the sandbox's own receiving socket.
  std::string const devLog = sandbox.Path("/dev/log");
  unlink(devLog.c_str());
  std::string const dir = sandbox.root() + "/rsyslog";
  std::string const out = dir + "/syslog.out";
  ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
  std::ofstream(dir + "/rsyslog.conf")
      << "global(workDirectory=\"" << dir << "\")\n"
      << "module(load=\"imuxsock\" SysSock.Name=\"" << devLog << "\")\n"
      << "template(name=\"line\" type=\"string\" "
         "string=\"%syslogseverity%|%syslogfacility%|%programname%|%msg%\\n\")\n"
      << "*.* action(type=\"omfile\" file=\"" << out << "\" template=\"line\")\n";
  Child rsyslogd;
  rsyslogd.pid = fork();
  ASSERT_GE(rsyslogd.pid, 0);
  if (rsyslogd.pid == 0) {
    int fd = open((dir + "/rsyslogd.out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    execl(kRsyslogd, kRsyslogd, "-n", "-f", (dir + "/rsyslog.conf").c_str(), "-i",
          (dir + "/rsyslogd.pid").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_TRUE(blackbox::WaitFor([&] {
    struct stat s;
    return stat(devLog.c_str(), &s) == 0 && S_ISSOCK(s.st_mode);
  })) << ReadText(dir + "/rsyslogd.out");

  int port = blackbox::FreePort();
  ASSERT_GT(port, 0);
  blackbox::Daemon daemon(sandbox);
  blackbox::Options options;
  options.binary = blackbox::DaemonBinary();
  options.args = {"-D", "--port", std::to_string(port)};
  ASSERT_TRUE(daemon.Start(options));
  ASSERT_EQ(0, daemon.WaitExit()) << "the parent leaves at once";
  std::string pidText;
  ASSERT_TRUE(blackbox::WaitFor(
      [&] { return sandbox.ReadFile("/var/run/server.pid", &pidText) && !pidText.empty(); }));
  Child detached;
  detached.pid = std::stoi(pidText);
  auto logged = [&](char const* text) {
    return blackbox::WaitFor([&] { return ReadText(out).find(text) != std::string::npos; });
  };
  EXPECT_TRUE(logged("Starting server"));
  ASSERT_EQ(0, kill(detached.pid, SIGTERM));
  EXPECT_TRUE(logged("Mux: terminating..."));
  // Gone once it removed its pid file: it must not be killed after that.
  if (blackbox::WaitFor([&] { return !sandbox.Exists("/var/run/server.pid"); })) detached.pid = -1;

  std::ostringstream tag;
  Version::current.put(tag);
  std::string ident = "vld-" + tag.str();
  std::string startLine = "Starting server [" + tag.str() + "], port=" + std::to_string(port);
  // A line of each standard stream, with the severity it must carry under
  // facility daemon (3); an open entry gives only the start of the line.
  struct {
    int severity;
    std::string text;
    bool open;
  } const expected[] = {
      {5, startLine, false},                      // standard output: notice
      {3, "Mux: fail to open watchdog: ", true},  // standard error: err
      {7, "Mux: terminating...", false},          // the log stream: debug
  };
  std::string text = ReadText(out);
  std::vector<std::string> lines = Lines(text);
  for (auto const& e : expected) {
    std::string want = std::to_string(e.severity) + "|3|" + ident + "|" + e.text;
    bool seen = false;
    for (std::string const& line : lines)
      seen = seen ||
             (line.compare(0, want.size(), want) == 0 && (e.open || line.size() == want.size()));
    EXPECT_TRUE(seen) << "no line \"" << want << "\" in:\n" << text;
  }
}

}  // namespace
