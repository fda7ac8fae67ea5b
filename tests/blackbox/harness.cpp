#include "blackbox/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace blackbox {

namespace {

const char* const kSystemFolders[] = {"/var/run", "/var/log", "/usr/local/etc"};
const char kConfigFile[] = "/usr/local/etc/server.conf";
// Files the daemon leaves in the real folders when no namespace could be made.
const char* const kDaemonFiles[] = {"/var/run/server.pid", "/var/log/server-status"};
const char kSerialLock[] = "/tmp/velmard-blackbox.lock";

// A private mount namespace needs CAP_SYS_ADMIN; find out once per process.
// VELMARD_BLACKBOX_SHARED=1 runs the daemons in the real folders anyway.
bool NamespaceWorks() {
  static const bool works = [] {
    const char* shared = getenv("VELMARD_BLACKBOX_SHARED");
    if (shared && std::string(shared) == "1") return false;
    pid_t pid = fork();
    if (pid == 0) {
      bool ok = unshare(CLONE_NEWNS) == 0 &&
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }();
  return works;
}

bool MakeDirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return !ec;
}

void ChildFail(const char* what) {
  const char* err = strerror(errno);
  ssize_t n = write(2, "harness: ", 9);
  n = write(2, what, strlen(what));
  n = write(2, ": ", 2);
  n = write(2, err, strlen(err));
  n = write(2, "\n", 1);
  (void)n;
  _exit(127);
}

}  // namespace

std::string DaemonBinary() {
  return VELMARD_BIN;
}
std::string SimDaemonBinary() {
  return VELMARD_SIM_BIN;
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// --- Sandbox

Sandbox::Sandbox() : isolated_(NamespaceWorks()) {
  char dir[] = "/tmp/velmard-bb-XXXXXX";
  if (mkdtemp(dir)) root_ = dir;
  if (isolated_) {
    for (const char* folder : kSystemFolders) {
      MakeDirs(root_ + folder);
      mounts_.emplace_back(root_ + folder, folder);
    }
    return;
  }
  // The daemons share the real folders: one test at a time.
  lockFd_ = open(kSerialLock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ >= 0) flock(lockFd_, LOCK_EX);
  for (const char* file : kDaemonFiles) unlink(file);
}

Sandbox::~Sandbox() {
  if (syslogReader_.joinable()) {
    char c = 0;
    (void)!write(syslogStop_[1], &c, 1);
    syslogReader_.join();
  }
  for (int fd : syslogStop_)
    if (fd >= 0) close(fd);
  if (syslog_ >= 0) close(syslog_);
  if (!isolated_) {
    for (const char* file : kDaemonFiles) unlink(file);
    for (const std::string& file : written_) unlink(file.c_str());
    for (const auto& saved : saved_) std::ofstream(saved.first, std::ios::trunc) << saved.second;
    if (lockFd_ >= 0) close(lockFd_);  // releases the lock
  }
  std::error_code ec;
  if (!root_.empty()) std::filesystem::remove_all(root_, ec);
}

std::string Sandbox::Path(const std::string& systemPath) const {
  for (const auto& m : mounts_) {
    const std::string& sys = m.second;
    if (systemPath.compare(0, sys.size(), sys) == 0 &&
        (systemPath.size() == sys.size() || systemPath[sys.size()] == '/'))
      return m.first + systemPath.substr(sys.size());
  }
  return systemPath;
}

bool Sandbox::CaptureSyslog() {
  if (!isolated_ || syslog_ >= 0) return syslog_ >= 0;
  const std::string dev = root_ + "/dev";
  MakeDirs(dev);
  // The nodes a daemon and its sanitizers may open, carried over before the
  // folder covers "/dev".
  for (const char* node : {"null", "zero", "full", "random", "urandom", "tty"}) {
    std::string source = std::string("/dev/") + node;
    struct stat st;
    if (stat(source.c_str(), &st) != 0) continue;
    std::ofstream(dev + "/" + node).flush();
    mounts_.emplace_back(source, dev + "/" + node);
  }
  syslog_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string path = dev + "/log";
  std::memcpy(addr.sun_path, path.c_str(), std::min(path.size() + 1, sizeof addr.sun_path - 1));
  if (syslog_ < 0 || bind(syslog_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (syslog_ >= 0) close(syslog_);
    syslog_ = -1;
    return false;
  }
  chmod(path.c_str(), 0666);
  if (pipe2(syslogStop_, O_CLOEXEC) != 0) {
    close(syslog_);
    syslog_ = -1;
    return false;
  }
  syslogReader_ = std::thread([this] { ReadSyslog(); });
  mounts_.emplace_back(dev, "/dev");
  return true;
}

void Sandbox::ReadSyslog() {
  std::vector<char> buf(65536);
  for (;;) {
    pollfd fds[2] = {{syslog_, POLLIN, 0}, {syslogStop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    ssize_t n;
    while ((n = recv(syslog_, buf.data(), buf.size(), MSG_DONTWAIT)) >= 0) {
      std::lock_guard<std::mutex> lk(syslogMu_);
      syslogMessages_.emplace_back(buf.data(), static_cast<size_t>(n));
    }
    if (fds[1].revents) return;
  }
}

std::vector<std::string> Sandbox::SyslogMessages() {
  std::lock_guard<std::mutex> lk(syslogMu_);
  return syslogMessages_;
}

bool Sandbox::WaitSyslog(const std::string& text, size_t count, std::chrono::milliseconds timeout) {
  return WaitFor(
      [&] {
        size_t seen = 0;
        for (const std::string& m : SyslogMessages()) seen += m.find(text) != std::string::npos;
        return seen >= count;
      },
      timeout);
}

void Sandbox::WriteConfig(const std::string& text) {
  std::string path = Path(kConfigFile);
  if (!isolated_) {
    // The machine's own file comes back afterwards.
    std::string before;
    bool saved = false;
    for (const auto& s : saved_) saved |= s.first == path;
    if (!saved && ReadFile(kConfigFile, &before))
      saved_.emplace_back(path, before);
    else if (!saved)
      written_.push_back(path);
  }
  std::ofstream(path, std::ios::trunc) << text;
}

bool Sandbox::ReadFile(const std::string& systemPath, std::string* text) const {
  std::ifstream in(Path(systemPath));
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

bool Sandbox::Exists(const std::string& systemPath) const {
  struct stat st;
  return stat(Path(systemPath).c_str(), &st) == 0;
}

// --- Daemon

Daemon::Daemon(Sandbox& sandbox) : sandbox_(sandbox) {}

Daemon::~Daemon() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    exited_ = true;
  }
  if (wake_[1] >= 0) {
    char c = 'q';
    ssize_t n = write(wake_[1], &c, 1);
    (void)n;
  }
  if (reader_.joinable()) reader_.join();
  for (int fd : {stdin_, out_[0], out_[1], stallWrite_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

bool Daemon::Start(std::vector<std::string> args) {
  Options options;
  options.args = std::move(args);
  return Start(options);
}

bool Daemon::Start(const Options& options) {
  const std::string binary = options.binary.empty() ? SimDaemonBinary() : options.binary;
  simSocket_ = sandbox_.root() + "/sim.sock";

  // Everything the child needs is built before the fork: after it the child
  // only makes system calls.
  std::vector<std::string> argStore{binary};
  argStore.insert(argStore.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    if (strncmp(*e, "VELMARD_SIM_SOCKET=", 19) != 0) envStore.push_back(*e);
  }
  envStore.push_back("VELMARD_SIM_SOCKET=" + simSocket_);
  std::vector<char*> argv, envp;
  for (auto& a : argStore) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& e : envStore) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const bool isolated = sandbox_.isolated();
  std::vector<std::pair<const char*, const char*>> mounts;
  for (auto& m : sandbox_.mounts()) mounts.emplace_back(m.first.c_str(), m.second.c_str());

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(wake_, O_CLOEXEC) != 0)
    return false;
  if (options.stallStdout) {
    // The smallest pipe, filled up: the daemon's first write blocks.
    fcntl(out[1], F_SETPIPE_SZ, 4096);
    fcntl(out[1], F_SETFL, O_NONBLOCK);
    std::string filler(65536, '#');
    ssize_t n;
    while ((n = write(out[1], filler.data(), filler.size())) > 0)
      stallBytes_ += static_cast<size_t>(n);
    fcntl(out[1], F_SETFL, 0);
    stalled_ = true;
    stallWrite_ = dup(out[1]);
  }

  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) ChildFail("dup2");
    if (isolated) {
      if (unshare(CLONE_NEWNS) != 0) ChildFail("unshare");
      if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        ChildFail("mount private");
      for (auto& m : mounts) {
        struct stat st;
        if (stat(m.second, &st) != 0) mkdir(m.second, 0755);
        if (mount(m.first, m.second, nullptr, MS_BIND | MS_REC, nullptr) != 0) ChildFail(m.second);
      }
    }
    execve(argv[0], argv.data(), envp.data());
    ChildFail(argv[0]);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  stdin_ = in[1];
  out_[0] = out[0];
  out_[1] = err[0];
  reader_ = std::thread([this] { ReadLoop(); });
  return true;
}

void Daemon::ReadLoop() {
  struct Done {
    Daemon* d;
    ~Done() {
      std::lock_guard<std::mutex> lk(d->mu_);
      d->readerDone_ = true;
      d->cv_.notify_all();
    }
  } done{this};
  bool open[2] = {true, true};
  size_t skip = stallBytes_;
  while (open[0] || open[1]) {
    pollfd fds[3];
    int n = 0;
    bool stalled;
    {
      std::lock_guard<std::mutex> lk(mu_);
      stalled = stalled_;
    }
    fds[n++] = {wake_[0], POLLIN, 0};
    int index[2] = {-1, -1};
    for (int s = 0; s < 2; ++s) {
      if (open[s] && !(s == kStdout && stalled)) {
        index[s] = n;
        fds[n++] = {out_[s], POLLIN, 0};
      }
    }
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) {
      char c;
      if (read(wake_[0], &c, 1) == 1 && c == 'q') return;
    }
    for (int s = 0; s < 2; ++s) {
      if (index[s] < 0 || !fds[index[s]].revents) continue;
      char buf[4096];
      ssize_t got = read(out_[s], buf, sizeof buf);
      if (got <= 0) {
        open[s] = false;
        continue;
      }
      std::string text(buf, static_cast<size_t>(got));
      if (s == kStdout && skip) {
        size_t drop = std::min(skip, text.size());
        text.erase(0, drop);
        skip -= drop;
      }
      std::lock_guard<std::mutex> lk(mu_);
      text_[s] += text;
      cv_.notify_all();
    }
  }
}

bool Daemon::Signal(int sig) {
  return pid_ > 0 && !exited_ && kill(pid_, sig) == 0;
}

void Daemon::ReleaseStdout() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    stalled_ = false;
  }
  if (stallWrite_ >= 0) close(stallWrite_);
  stallWrite_ = -1;
  char c = 'r';
  ssize_t n = write(wake_[1], &c, 1);
  (void)n;
}

bool Daemon::BlockedOnStdout() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/syscall");
  std::string nr, fd;
  in >> nr >> fd;
  return nr == std::to_string(SYS_write) && fd == "0x1";
}

static int ExitStatus(int status) {
  return WIFEXITED(status)     ? WEXITSTATUS(status)
         : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                               : -1;
}

static size_t CountIn(const std::string& text, const std::string& what) {
  size_t count = 0, start = 0, eol;
  while ((eol = text.find('\n', start)) != std::string::npos) {
    if (text.substr(start, eol - start).find(what) != std::string::npos) ++count;
    start = eol + 1;
  }
  return count;
}

bool Daemon::WaitLine(Stream stream, const std::string& text, size_t count,
                      std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, timeout, [&] { return CountIn(text_[stream], text) >= count; });
}

size_t Daemon::CountLines(Stream stream, const std::string& text) const {
  std::lock_guard<std::mutex> lk(mu_);
  return CountIn(text_[stream], text);
}

std::string Daemon::Output(Stream stream) const {
  std::lock_guard<std::mutex> lk(mu_);
  return text_[stream];
}

std::vector<std::string> Daemon::Lines(Stream stream) const {
  std::vector<std::string> lines;
  std::istringstream in(Output(stream));
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

int Daemon::WaitExit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  if (!exited_) {
    int status = 0;
    bool done = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!done) return -1;
    exited_ = true;
    status_ = ExitStatus(status);
    // Everything the daemon wrote before it ended is in the pipes: wait
    // until the reader has it (a child of the daemon may hold them open).
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait_for(lk, std::chrono::seconds(5), [this] { return readerDone_; });
  }
  return status_;
}

bool Daemon::Running() {
  if (exited_ || pid_ <= 0) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r != pid_) return true;
  exited_ = true;
  status_ = ExitStatus(status);
  return false;
}

// --- SimControl

SimControl::~SimControl() {
  if (fd_ >= 0) close(fd_);
}

bool SimControl::Connect(const std::string& path, std::chrono::milliseconds timeout) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return WaitFor(
      [&] {
        if (fd_ < 0) fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
        close(fd_);
        fd_ = -1;
        return false;
      },
      timeout);
}

bool SimControl::Ask(const std::string& line, std::vector<std::string>* data, std::string* error,
                     std::chrono::milliseconds timeout) {
  if (fd_ < 0) {
    if (error) *error = "not connected";
    return false;
  }
  std::string out = line + "\n";
  if (send(fd_, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
    if (error) *error = "send failed";
    return false;
  }
  if (data) data->clear();
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    size_t eol;
    while ((eol = pending_.find('\n')) != std::string::npos) {
      std::string l = pending_.substr(0, eol);
      pending_.erase(0, eol + 1);
      if (l == "ok") return true;
      if (l.rfind("error", 0) == 0) {
        if (error) *error = l.size() > 6 ? l.substr(6) : "";
        return false;
      }
      if (data) data->push_back(l);
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    pending_.append(buf, static_cast<size_t>(n));
  }
  if (error) *error = "no answer";
  return false;
}

namespace {

bool ParseEntry(const std::string& line, SimControl::Entry* e) {
  std::istringstream in(line);
  std::string word;
  if (!(in >> word >> e->ms) || word != "entry") return false;
  in.get();
  std::getline(in, e->text);
  return true;
}

}  // namespace

bool SimControl::Follow(const std::string& device) {
  std::vector<std::string> lines;
  if (!Ask("follow " + device, &lines)) return false;
  for (const std::string& l : lines) {
    Entry e{};
    if (ParseEntry(l, &e)) followed_.push_back(e);
  }
  return true;
}

bool SimControl::ReadFollowed(const std::function<bool()>& pred,
                              std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    size_t eol;
    while ((eol = pending_.find('\n')) != std::string::npos) {
      Entry e{};
      if (ParseEntry(pending_.substr(0, eol), &e)) followed_.push_back(e);
      pending_.erase(0, eol + 1);
    }
    if (pred()) return true;
    if (closed_ || fd_ < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      closed_ = true;
      continue;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

bool SimControl::WaitFollowed(const std::string& text, size_t count,
                              std::chrono::milliseconds timeout) {
  return ReadFollowed(
      [&] {
        size_t seen = 0;
        for (const Entry& e : followed_) seen += e.text == text;
        return seen >= count;
      },
      timeout);
}

const std::vector<SimControl::Entry>& SimControl::FollowToEnd(std::chrono::milliseconds timeout) {
  ReadFollowed([this] { return closed_; }, timeout);
  return followed_;
}

bool SimControl::WaitJournal(const std::string& device, const std::string& text, size_t count,
                             std::chrono::milliseconds timeout) {
  return Ask("wait " + device + " " + text + " " + std::to_string(count) + " " +
                 std::to_string(timeout.count()),
             nullptr, nullptr, timeout + std::chrono::seconds(5));
}

}  // namespace blackbox
