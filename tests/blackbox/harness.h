// Black-box test harness: runs the real daemon binary, captures its streams,
// and keeps the fixed system paths it writes inside temporary folders.
//
// Each daemon runs in a private mount namespace of its own where the
// temporary folders are bind-mounted over "/var/run", "/var/log" and
// "/usr/local/etc", so tests are
// hermetic and may run in parallel. Where no namespace can be made the
// daemon uses the real folders; tests then run one at a time under a lock
// and the files are removed afterwards.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace blackbox {

// Bounds for waits on the daemon: generous, they only bound a failing test.
constexpr std::chrono::milliseconds kGenerous{20000};

// The daemon binaries under test.
std::string DaemonBinary();     // velmard
std::string SimDaemonBinary();  // velmard-sim: the daemon on the simulated board

// A TCP port on the loopback that was free a moment ago.
int FreePort();

// Waits until pred() holds, looking again every few milliseconds.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = kGenerous);

// The temporary folders that stand for the daemon's system folders.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // True when daemons run in a private mount namespace.
  bool isolated() const { return isolated_; }
  const std::string& root() const { return root_; }

  // Where the test finds a file the daemon knows by its system path.
  std::string Path(const std::string& systemPath) const;

  // Stands a folder of its own in for "/dev" (the usual device nodes bound
  // into it) with a datagram socket at "/dev/log" that the test reads: what
  // the daemon sends to syslog. False where no namespace can be made.
  bool CaptureSyslog();
  // Syslog messages received so far (each one datagram, as sent).
  std::vector<std::string> SyslogMessages();
  // Waits until a message containing text arrived count times.
  bool WaitSyslog(const std::string& text, size_t count = 1,
                  std::chrono::milliseconds timeout = kGenerous);

  // The configuration file "/usr/local/etc/server.conf".
  void WriteConfig(const std::string& text);
  bool ReadFile(const std::string& systemPath, std::string* text) const;
  bool Exists(const std::string& systemPath) const;

  // (source, target) pairs to bind-mount, in order.
  const std::vector<std::pair<std::string, std::string>>& mounts() const { return mounts_; }

 private:
  bool isolated_;
  std::string root_;
  std::vector<std::pair<std::string, std::string>> mounts_;
  std::vector<std::string> written_;  // real files to remove when not isolated
  std::vector<std::pair<std::string, std::string>> saved_;  // real files to restore
  int lockFd_ = -1;
  int syslog_ = -1;
  // A reader drains "/dev/log" all the time, as a syslog service does: a
  // datagram socket holds only a few messages, and a daemon that logs more
  // while nobody reads would block in its send.
  void ReadSyslog();
  std::thread syslogReader_;
  int syslogStop_[2] = {-1, -1};
  std::mutex syslogMu_;
  std::vector<std::string> syslogMessages_;
};

enum Stream { kStdout = 0, kStderr = 1 };

struct Options {
  std::string binary;             // default: SimDaemonBinary()
  std::vector<std::string> args;  // after the program name
  // Leave standard output full so that the daemon's first write to it
  // blocks until ReleaseStdout().
  bool stallStdout = false;
};

class Daemon {
 public:
  explicit Daemon(Sandbox& sandbox);
  // Kills the daemon when it still runs.
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  bool Start(const Options& options);
  // Start with a command line on velmard-sim.
  bool Start(std::vector<std::string> args);
  pid_t pid() const { return pid_; }
  // The control socket of velmard-sim's board.
  const std::string& simSocket() const { return simSocket_; }

  bool Signal(int sig);
  void ReleaseStdout();
  // True while the daemon sits blocked in a write to its standard output.
  bool BlockedOnStdout() const;

  // Waits for a line containing text to appear count times on the stream.
  bool WaitLine(Stream stream, const std::string& text, size_t count = 1,
                std::chrono::milliseconds timeout = kGenerous);
  size_t CountLines(Stream stream, const std::string& text) const;
  std::string Output(Stream stream) const;
  std::vector<std::string> Lines(Stream stream) const;

  // Waits for the daemon to end: its exit status, 128 + the signal number
  // when a signal ended it, -1 when it still runs after the time-out.
  int WaitExit(std::chrono::milliseconds timeout = kGenerous);
  bool Running();

 private:
  void ReadLoop();

  Sandbox& sandbox_;
  pid_t pid_ = -1;
  int status_ = -1;
  bool exited_ = false;
  int stdin_ = -1;
  int out_[2] = {-1, -1};  // read ends
  int stallWrite_ = -1;    // write end kept while stdout is stalled
  size_t stallBytes_ = 0;  // filler bytes to skip on stdout
  int wake_[2] = {-1, -1};
  bool stalled_ = false;
  bool readerDone_ = false;
  std::string simSocket_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::string text_[2];
  std::thread reader_;
};

// Client of velmard-sim's board control socket.
class SimControl {
 public:
  SimControl() = default;
  ~SimControl();
  SimControl(const SimControl&) = delete;
  SimControl& operator=(const SimControl&) = delete;

  // Connects, retrying until the socket is there.
  bool Connect(const std::string& path, std::chrono::milliseconds timeout = kGenerous);
  // Sends one command line; the data lines of the answer, false on "error"
  // (its text in *error).
  bool Ask(const std::string& line, std::vector<std::string>* data = nullptr,
           std::string* error = nullptr, std::chrono::milliseconds timeout = kGenerous);

  struct Entry {
    uint64_t ms;
    std::string text;
  };
  // Waits on the board until the device's journal holds text count times.
  bool WaitJournal(const std::string& device, const std::string& text, size_t count,
                   std::chrono::milliseconds timeout = kGenerous);

  // Turns this connection into a follower of the device's journal: every
  // entry, past and new, arrives on it, also those written just before the
  // daemon exits. No other command can be sent on it afterwards.
  bool Follow(const std::string& device);
  // Waits until text was followed count times.
  bool WaitFollowed(const std::string& text, size_t count,
                    std::chrono::milliseconds timeout = kGenerous);
  // Waits until the daemon (and its board) is gone; the whole journal.
  const std::vector<Entry>& FollowToEnd(std::chrono::milliseconds timeout = kGenerous);

 private:
  // Reads what arrived until pred() holds, the peer closes or time runs out.
  bool ReadFollowed(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

  int fd_ = -1;
  std::string pending_;
  std::vector<Entry> followed_;
  bool closed_ = false;
};

}  // namespace blackbox
