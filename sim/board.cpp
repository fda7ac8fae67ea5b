#include "sim/board.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>
#include <system_error>

#include "sim/devices.h"

namespace sim {

// Read by the interposed read/write before anything else, so that a process
// with no fault armed pays one atomic load per call.
std::atomic<int> g_faultsArmed{0};

// Set once a test adds a device: only then does a path outside the table
// need a look at the board.
std::atomic<bool> g_devicesAdded{false};

// Set while the daemon's thread is inside the board: a signal handler that
// writes then (the daemon's stop request does) must not take the lock again.
thread_local bool t_inBoard = false;

struct InBoard {
  InBoard() { t_inBoard = true; }
  ~InBoard() { t_inBoard = false; }
};

struct Board::DeviceSlot {
  std::string path;
  std::unique_ptr<Device> device;
  std::map<ino_t, std::unique_ptr<Port>> ports;
  std::vector<JournalEntry> journal;
  std::vector<std::string> opens;  // how each successful open asked for it
  int openFault = 0;
  int writeFault = 0, writeCount = 0;
  int readFault = 0, readCount = 0;
};

struct Board::Client {
  int fd = -1;
  std::string in;
  // A "wait" that is not yet satisfied holds the client's answer back.
  bool waiting = false;
  std::string waitPath, waitText;
  size_t waitCount = 0;
  std::chrono::steady_clock::time_point waitUntil;
  // After "follow": the device whose new journal entries go out at once.
  std::string follow;
};

namespace {

const struct {
  const char* name;
  int value;
} kErrnoNames[] = {
    {"EIO", EIO},       {"ENOENT", ENOENT},       {"EACCES", EACCES}, {"EAGAIN", EAGAIN},
    {"EBUSY", EBUSY},   {"ENODEV", ENODEV},       {"ENXIO", ENXIO},   {"EPIPE", EPIPE},
    {"EINVAL", EINVAL}, {"ENOTTY", ENOTTY},       {"EPERM", EPERM},   {"EINTR", EINTR},
    {"ENOSPC", ENOSPC}, {"ETIMEDOUT", ETIMEDOUT},
};

bool ParseCount(const std::string& text, long* value) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0) return false;
  *value = v;
  return true;
}

// "wait PATH TEXT COUNT TIMEOUT_MS": TEXT may be several words (journal
// lines with single spaces).
bool ParseWait(const std::vector<std::string>& w, long* count, long* ms) {
  const size_t n = w.size();
  return n >= 5 && ParseCount(w[n - 2], count) && ParseCount(w[n - 1], ms);
}

std::string WaitText(const std::vector<std::string>& w) {
  std::string text = w[2];
  for (size_t i = 3; i + 2 < w.size(); ++i) text += " " + w[i];
  return text;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

// Journal lines travel as text lines: bytes that are not printable are
// written as \xHH.
std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

void SetCloexecNonblock(int fd) {
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool SendAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string OpenModeText(int flags) {
  int mode = flags & O_ACCMODE;
  std::string text = mode == O_RDONLY ? "O_RDONLY" : mode == O_WRONLY ? "O_WRONLY" : "O_RDWR";
  if (flags & O_NONBLOCK) text += "|O_NONBLOCK";
  if (flags & O_CLOEXEC) text += "|O_CLOEXEC";
  return text;
}

bool ParseErrno(const std::string& text, int* value) {
  for (const auto& e : kErrnoNames) {
    if (text == e.name) {
      *value = e.value;
      return true;
    }
  }
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0 || v > 4095) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ParseNumber(const std::string& text, long* value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || errno == ERANGE) return false;
  *value = v;
  return true;
}

void Port::FailRead(int err) {
  if ((readFault_ != 0) != (err != 0)) g_faultsArmed.fetch_add(err ? 1 : -1);
  readFault_ = err;
}

bool Port::Send(const std::string& bytes) const {
  ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  return n == static_cast<ssize_t>(bytes.size());
}

int Device::OnIoctl(Port&, unsigned long, void*, int* err) {
  *err = ENOTTY;
  return -1;
}

bool Device::OnInject(const std::vector<Port*>&, const std::vector<std::string>&,
                      std::string* reply) {
  *reply = "device takes no events";
  return false;
}

bool Device::OnControl(const std::vector<Port*>&, const std::vector<std::string>&,
                       std::string* reply) {
  *reply = "device takes no commands";
  return false;
}

void Device::Record(const std::string& text) {
  if (!board_) return;
  Board::DeviceSlot* slot = board_->Find(path_);
  if (!slot) return;
  JournalEntry entry{board_->Now(), Printable(text)};
  slot->journal.push_back(entry);
  for (auto& c : board_->clients_) {
    if (c->fd < 0 || c->follow != path_) continue;
    if (!SendAll(c->fd, "entry " + std::to_string(entry.ms) + " " + entry.text + "\n")) {
      close(c->fd);
      c->fd = -1;
    }
  }
  board_->changed_.notify_all();
}

Board& Board::instance() {
  // Never destroyed: the board thread may outlive the static destructors.
  static Board* board = new Board;
  return *board;
}

bool Board::Models(const char* path) {
  if (!path) return false;
  for (const DeviceModel& model : DeviceTable()) {
    if (std::strcmp(model.path, path) == 0) return true;
  }
  if (!g_devicesAdded.load()) return false;
  Board& b = instance();
  std::lock_guard<std::mutex> lk(b.mu_);
  return b.Find(path) != nullptr;
}

bool Board::Add(const std::string& path, std::unique_ptr<Device> device) {
  std::lock_guard<std::mutex> lk(mu_);
  if (Find(path) || !device) return false;
  auto slot = std::make_unique<DeviceSlot>();
  slot->path = path;
  slot->device = std::move(device);
  slot->device->board_ = this;
  slot->device->path_ = path;
  slots_.push_back(std::move(slot));
  g_devicesAdded.store(true);
  return true;
}

Board::Board() : start_(std::chrono::steady_clock::now()) {
  for (const DeviceModel& model : DeviceTable()) {
    auto slot = std::make_unique<DeviceSlot>();
    slot->path = model.path;
    slot->device = model.make();
    slot->device->board_ = this;
    slot->device->path_ = model.path;
    slots_.push_back(std::move(slot));
  }
  // A socket pair rather than a pipe: send/recv are not interposed, so waking
  // the thread never comes back into the board.
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wake_) != 0)
    wake_[0] = wake_[1] = -1;
  pthread_atfork(&Board::AtForkPrepare, &Board::AtForkParent, &Board::AtForkChild);
  std::atexit(&Board::AtExit);
}

// The daemon's last writes (the watchdog's "STOP") may still sit in the
// device ends when it exits; hand them to the journal and its followers
// before the process and its board are gone.
void Board::AtExit() {
  Board& b = instance();
  std::lock_guard<std::mutex> lk(b.mu_);
  b.DrainLocked();
}

// A fork (daemon(3) above all) must not copy the board while its thread is
// in the middle of a change, nor while the thread holds any lock outside the
// board: the sanitizers' allocator and thread registry have no fork handlers,
// so a lock the thread holds at the fork stays held for ever in the child,
// and the child's first allocation of that size hangs. A thread that was
// just created is inside such code (its start-up allocates) before it ever
// takes the board lock, so holding the board lock is not enough: the fork
// waits until the thread is parked on a condition variable, where it holds
// nothing. The child has no thread and starts its own at its next device
// call.
void Board::AtForkPrepare() {
  Board& b = instance();
  // The lock stays held until the fork is over: a signal handler that
  // writes meanwhile must not wait for it.
  t_inBoard = true;
  std::unique_lock<std::mutex> lk(b.mu_);
  ++b.forks_;
  if (b.threadRunning_) {
    b.Wake();
    b.parking_.wait(lk, [&b] { return b.parked_; });
  }
  lk.release();  // held across the fork, released by the handlers below
}

void Board::AtForkParent() {
  Board& b = instance();
  --b.forks_;
  b.parking_.notify_all();
  t_inBoard = false;
  b.mu_.unlock();
}

void Board::AtForkChild() {
  Board& b = instance();
  b.forks_ = 0;
  b.parked_ = false;
  b.threadRunning_ = false;
  // The parent's parked thread is still counted as a waiter in these: they
  // would never let a notify in the child through.
  new (&b.parking_) std::condition_variable;
  new (&b.changed_) std::condition_variable;
  // The wake-up pair is shared with the parent: the parent's thread could
  // swallow the byte meant to wake ours, which would then never park for
  // the next fork.
  if (b.wake_[0] >= 0) close(b.wake_[0]);
  if (b.wake_[1] >= 0) close(b.wake_[1]);
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, b.wake_) != 0)
    b.wake_[0] = b.wake_[1] = -1;
  t_inBoard = false;
  b.mu_.unlock();
}

void Board::ParkForForkLocked(std::unique_lock<std::mutex>& lk) {
  if (forks_ == 0) return;
  parked_ = true;
  parking_.notify_all();
  parking_.wait(lk, [this] { return forks_ == 0; });
  parked_ = false;
}

Board::DeviceSlot* Board::Find(const std::string& path) {
  for (auto& slot : slots_) {
    if (slot->path == path) return slot.get();
  }
  return nullptr;
}

uint64_t Board::Now() const {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start_)
                                   .count());
}

void Board::Wake() {
  if (wake_[1] < 0) return;
  char c = 0;
  (void)send(wake_[1], &c, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void Board::StartThreadLocked() {
  if (threadRunning_) return;
  threadRunning_ = true;
  // The daemon's signals must reach the daemon's thread, as on the board,
  // where there is no other: they interrupt its poll.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  try {
    std::thread([this] { ThreadMain(); }).detach();
  } catch (const std::system_error&) {
    // No thread: a fork must not wait for it to park.
    threadRunning_ = false;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// The board thread: drains every device end as soon as the daemon writes,
// and serves the control clients. It never calls an interposed function.
void Board::ThreadMain() {
  std::unique_lock<std::mutex> lk(mu_);
  for (;;) {
    ParkForForkLocked(lk);
    std::vector<pollfd> fds;
    fds.push_back({wake_[0], POLLIN, 0});
    if (listener_ >= 0) fds.push_back({listener_, POLLIN, 0});
    const size_t firstClient = fds.size();
    for (auto& c : clients_) fds.push_back({c->fd, POLLIN, 0});
    for (auto& slot : slots_) {
      // A held port is only watched for the daemon's close.
      for (auto& p : slot->ports)
        fds.push_back({p.second->fd(), static_cast<short>(p.second->held() ? 0 : POLLIN), 0});
    }
    int timeout = -1;
    const auto now = std::chrono::steady_clock::now();
    for (auto& c : clients_) {
      if (!c->waiting) continue;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c->waitUntil - now).count();
      int ms = static_cast<int>(std::max<long long>(0, left) + 1);
      if (timeout < 0 || ms < timeout) timeout = ms;
    }

    lk.unlock();
    int n = poll(fds.data(), fds.size(), timeout);
    lk.lock();
    if (n < 0 && errno != EINTR) {
      lk.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      lk.lock();
      continue;
    }

    char buf[64];
    while (recv(wake_[0], buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
    DrainLocked();
    if (listener_ >= 0 && fds.size() > 1 && fds[1].fd == listener_ && (fds[1].revents & POLLIN)) {
      int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        // Answers go out whole with a blocking send; a client that stops
        // reading for two seconds is dropped.
        timeval tv{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        auto c = std::make_unique<Client>();
        c->fd = fd;
        clients_.push_back(std::move(c));
      }
    }
    std::vector<int> readable;
    for (size_t i = firstClient; i < firstClient + clients_.size() && i < fds.size(); ++i) {
      if (fds[i].revents) readable.push_back(fds[i].fd);
    }
    for (int fd : readable) {
      for (auto& c : clients_) {
        if (c->fd == fd) {
          ServeClientLocked(*c);
          break;
        }
      }
    }
    // Answer the waits that are satisfied or out of time.
    for (auto& c : clients_) {
      if (!c->waiting || c->fd < 0) continue;
      DeviceSlot* slot = Find(c->waitPath);
      size_t seen = 0;
      if (slot) {
        for (auto& e : slot->journal) seen += e.text == c->waitText;
      }
      if (seen >= c->waitCount) {
        c->waiting = false;
        if (!SendAll(c->fd, "ok\n")) {
          close(c->fd);
          c->fd = -1;
        }
      } else if (std::chrono::steady_clock::now() >= c->waitUntil) {
        c->waiting = false;
        if (!SendAll(c->fd, "error timeout\n")) {
          close(c->fd);
          c->fd = -1;
        }
      }
      if (c->fd >= 0 && !c->waiting) ServeClientLocked(*c);  // commands queued behind the wait
    }
    clients_.erase(
        std::remove_if(clients_.begin(), clients_.end(), [](auto& c) { return c->fd < 0; }),
        clients_.end());
    changed_.notify_all();
  }
}

bool Board::Busy() {
  return t_inBoard;
}

int Board::Open(const char* path, int flags) {
  InBoard inBoard;
  std::lock_guard<std::mutex> lk(mu_);
  // Closes the daemon made before this open reach the journal before it.
  DrainLocked();
  DeviceSlot* slot = Find(path);
  if (!slot) {
    errno = ENOENT;
    return -1;
  }
  if (int absent = slot->device->OpenError()) {
    errno = absent;
    return -1;
  }
  if (slot->openFault) {
    errno = slot->openFault;
    return -1;
  }
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return -1;
  // The daemon's end gets the open flags a driver node would honour.
  if (!(flags & O_CLOEXEC)) fcntl(sv[0], F_SETFD, 0);
  if (flags & O_NONBLOCK) fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK);
  SetCloexecNonblock(sv[1]);
  struct stat st;
  if (fstat(sv[0], &st) != 0) {
    int e = errno;
    close(sv[0]);
    close(sv[1]);
    errno = e;
    return -1;
  }
  slot->opens.push_back(OpenModeText(flags));
  auto port = std::make_unique<Port>(*this, sv[1], st.st_ino);
  Port& ref = *port;
  slot->ports[st.st_ino] = std::move(port);
  slot->device->OnOpen(ref);
  StartThreadLocked();
  Wake();
  return sv[0];
}

void Board::ServicePortLocked(DeviceSlot& slot, Port& port) {
  if (rx_.empty()) rx_.resize(65536);
  if (port.held()) {
    // What the daemon wrote stays queued, unless it is gone: then the
    // device still gets it, in order, before the close.
    pollfd p{port.fd(), 0, 0};
    if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLHUP)) return;
  }
  for (;;) {
    ssize_t n = recv(port.fd(), rx_.data(), rx_.size(), MSG_DONTWAIT);
    if (n > 0) {
      slot.device->OnWrite(port, std::string(rx_.data(), static_cast<size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // End of file: every copy of the daemon's descriptor is closed.
    ClosePortLocked(slot, port.inode());
    return;
  }
}

void Board::ClosePortLocked(DeviceSlot& slot, ino_t inode) {
  auto it = slot.ports.find(inode);
  if (it == slot.ports.end()) return;
  slot.device->OnClose(*it->second);
  it->second->FailRead(0);
  close(it->second->fd());
  slot.ports.erase(it);
}

void Board::DrainLocked() {
  for (auto& slot : slots_) {
    std::vector<Port*> ports;
    for (auto& p : slot->ports) ports.push_back(p.second.get());
    for (Port* p : ports) ServicePortLocked(*slot, *p);
  }
}

Device& Board::DeviceLocked(const std::string& path) {
  DeviceSlot* slot = Find(path);
  if (!slot) {
    std::fprintf(stderr, "sim: no device %s\n", path.c_str());
    std::abort();
  }
  return *slot->device;
}

std::string Board::Control(const std::string& path, const std::string& words) {
  return Command("ctl " + path + " " + words);
}

Port* Board::PortOf(int fd, DeviceSlot** slotOut) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return nullptr;
  for (auto& slot : slots_) {
    auto it = slot->ports.find(st.st_ino);
    if (it == slot->ports.end()) continue;
    // The inode may belong to a new socket once the old one is closed:
    // settle what the daemon wrote and closed before trusting it.
    ServicePortLocked(*slot, *it->second);
    it = slot->ports.find(st.st_ino);
    if (it == slot->ports.end()) return nullptr;
    if (slotOut) *slotOut = slot.get();
    return it->second.get();
  }
  return nullptr;
}

int Board::Ioctl(int fd, unsigned long request, void* arg, bool* handled) {
  InBoard inBoard;
  std::lock_guard<std::mutex> lk(mu_);
  DeviceSlot* slot = nullptr;
  Port* port = PortOf(fd, &slot);
  *handled = port != nullptr;
  if (!port) return -1;
  StartThreadLocked();
  int err = 0;
  int r = slot->device->OnIoctl(*port, request, arg, &err);
  changed_.notify_all();
  if (r < 0) errno = err ? err : EINVAL;
  return r;
}

int Board::TakeFault(int fd, bool write) {
  if (t_inBoard) return 0;
  InBoard inBoard;
  std::lock_guard<std::mutex> lk(mu_);
  DeviceSlot* slot = nullptr;
  Port* port = PortOf(fd, &slot);
  if (!port) return 0;
  if (!write && port->readFault_) {
    int err = port->readFault_;
    port->FailRead(0);
    return err;
  }
  int& count = write ? slot->writeCount : slot->readCount;
  if (count <= 0) return 0;
  --count;
  g_faultsArmed.fetch_sub(1);
  return write ? slot->writeFault : slot->readFault;
}

std::vector<JournalEntry> Board::Journal(const std::string& path) {
  std::lock_guard<std::mutex> lk(mu_);
  DrainLocked();
  DeviceSlot* slot = Find(path);
  return slot ? slot->journal : std::vector<JournalEntry>{};
}

void Board::ClearJournal(const std::string& path) {
  std::lock_guard<std::mutex> lk(mu_);
  DrainLocked();
  if (DeviceSlot* slot = Find(path)) slot->journal.clear();
}

bool Board::WaitJournal(const std::string& path, const std::string& text, size_t count,
                        std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lk(mu_);
  for (;;) {
    DrainLocked();
    DeviceSlot* slot = Find(path);
    if (!slot) return false;
    size_t seen = 0;
    for (auto& e : slot->journal) seen += e.text == text;
    if (seen >= count) return true;
    // Woken by the board thread; the short period covers a process where
    // the thread has not started (nothing opened yet).
    auto next = std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    if (changed_.wait_until(lk, next) == std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= until) {
      DrainLocked();
      seen = 0;
      for (auto& e : slot->journal) seen += e.text == text;
      return seen >= count;
    }
  }
}

bool Board::FailOpen(const std::string& path, int err) {
  std::lock_guard<std::mutex> lk(mu_);
  DeviceSlot* slot = Find(path);
  if (!slot) return false;
  slot->openFault = err;
  return true;
}

bool Board::FailIo(const std::string& path, bool write, int err, int count) {
  std::lock_guard<std::mutex> lk(mu_);
  DeviceSlot* slot = Find(path);
  if (!slot || count < 0) return false;
  int& old = write ? slot->writeCount : slot->readCount;
  g_faultsArmed.fetch_add(count - old);
  old = count;
  (write ? slot->writeFault : slot->readFault) = err;
  return true;
}

bool Board::Inject(const std::string& path, const std::vector<std::string>& words,
                   std::string* reply) {
  std::lock_guard<std::mutex> lk(mu_);
  DrainLocked();
  DeviceSlot* slot = Find(path);
  if (!slot) {
    *reply = "no such device";
    return false;
  }
  std::vector<Port*> ports;
  for (auto& p : slot->ports) ports.push_back(p.second.get());
  return slot->device->OnInject(ports, words, reply);
}

std::vector<std::string> Board::Opens(const std::string& path) {
  std::lock_guard<std::mutex> lk(mu_);
  DeviceSlot* slot = Find(path);
  return slot ? slot->opens : std::vector<std::string>();
}

int Board::OpenCount(const std::string& path) {
  std::lock_guard<std::mutex> lk(mu_);
  DrainLocked();
  DeviceSlot* slot = Find(path);
  return slot ? static_cast<int>(slot->ports.size()) : 0;
}

std::vector<std::string> Board::Paths() const {
  std::vector<std::string> paths;
  for (auto& slot : slots_) paths.push_back(slot->path);
  return paths;
}

void Board::Reset() {
  std::lock_guard<std::mutex> lk(mu_);
  DrainLocked();
  ResetLocked();
}

void Board::ResetLocked() {
  for (auto& slot : slots_) {
    g_faultsArmed.fetch_sub(slot->writeCount + slot->readCount);
    slot->journal.clear();
    slot->opens.clear();
    slot->openFault = slot->writeFault = slot->writeCount = slot->readFault = slot->readCount = 0;
    for (auto& p : slot->ports) {
      p.second->FailRead(0);
      p.second->Hold(false);
    }
    slot->device->Reset();
  }
  Wake();  // released holds are watched for input again
}

bool Board::ServeControl(const std::string& path) {
  std::lock_guard<std::mutex> lk(mu_);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
    int e = errno;
    close(fd);
    errno = e;
    return false;
  }
  if (listener_ >= 0) close(listener_);
  listener_ = fd;
  listenerPath_ = path;
  StartThreadLocked();
  Wake();
  return true;
}

void Board::ServeClientLocked(Client& c) {
  char buf[4096];
  for (;;) {
    ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      c.in.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      close(c.fd);
      c.fd = -1;
      return;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  size_t eol;
  while (!c.waiting && (eol = c.in.find('\n')) != std::string::npos) {
    std::string line = c.in.substr(0, eol);
    c.in.erase(0, eol + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> w = Words(line);
    long count = 0, ms = 0;
    if (!w.empty() && w[0] == "wait") {
      std::string bad;
      if (!ParseWait(w, &count, &ms))
        bad = "error usage: wait PATH TEXT COUNT TIMEOUT_MS\n";
      else if (!Find(w[1]))
        bad = "error no such device: " + w[1] + "\n";
      if (!bad.empty()) {
        if (!SendAll(c.fd, bad)) break;
        continue;
      }
      c.waiting = true;
      c.waitPath = w[1];
      c.waitText = WaitText(w);
      c.waitCount = static_cast<size_t>(count);
      c.waitUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
      break;  // answered by the thread loop
    }
    if (w.size() == 2 && w[0] == "follow" && Find(w[1])) {
      std::string answer;
      for (auto& e : Find(w[1])->journal)
        answer += "entry " + std::to_string(e.ms) + " " + e.text + "\n";
      c.follow = w[1];
      if (!SendAll(c.fd, answer + "ok\n")) {
        close(c.fd);
        c.fd = -1;
        return;
      }
      continue;
    }
    if (!SendAll(c.fd, CommandLocked(line))) {
      close(c.fd);
      c.fd = -1;
      return;
    }
  }
}

std::string Board::Command(const std::string& line) {
  std::vector<std::string> w = Words(line);
  if (!w.empty() && w[0] == "wait") {
    long count = 0, ms = 0;
    if (!ParseWait(w, &count, &ms)) return "error usage: wait PATH TEXT COUNT TIMEOUT_MS\n";
    return WaitJournal(w[1], WaitText(w), static_cast<size_t>(count), std::chrono::milliseconds(ms))
               ? "ok\n"
               : "error timeout\n";
  }
  std::lock_guard<std::mutex> lk(mu_);
  return CommandLocked(line);
}

// One command line of the control protocol: data lines, then "ok" or
// "error" and a reason.
std::string Board::CommandLocked(const std::string& line) {
  std::vector<std::string> w = Words(line);
  if (w.empty()) return "error empty command\n";
  DrainLocked();
  const std::string& cmd = w[0];
  DeviceSlot* slot = w.size() > 1 ? Find(w[1]) : nullptr;
  std::ostringstream out;
  int err = 0;
  long count = 0;
  if (cmd == "devices" && w.size() == 1) {
    for (auto& s : slots_) out << "device " << s->path << "\n";
  } else if (cmd == "now" && w.size() == 1) {
    out << "now " << Now() << "\n";
  } else if (cmd == "reset" && w.size() == 1) {
    ResetLocked();
  } else if (w.size() > 1 && !slot) {
    return "error no such device: " + w[1] + "\n";
  } else if (cmd == "journal" && w.size() == 2) {
    for (auto& e : slot->journal) out << "entry " << e.ms << " " << e.text << "\n";
  } else if (cmd == "clear" && w.size() == 2) {
    slot->journal.clear();
  } else if (cmd == "opened" && w.size() == 2) {
    out << "opened " << slot->ports.size() << "\n";
  } else if (cmd == "opens" && w.size() == 2) {
    for (auto& o : slot->opens) out << "open " << o << "\n";
  } else if (cmd == "fail-open" && w.size() == 3) {
    if (!ParseErrno(w[2], &err)) return "error bad errno: " + w[2] + "\n";
    slot->openFault = err;
  } else if ((cmd == "fail-write" || cmd == "fail-read") && w.size() == 4) {
    if (!ParseErrno(w[2], &err)) return "error bad errno: " + w[2] + "\n";
    if (!ParseCount(w[3], &count) || count > 1000000) return "error bad count: " + w[3] + "\n";
    const bool write = cmd == "fail-write";
    int& old = write ? slot->writeCount : slot->readCount;
    g_faultsArmed.fetch_add(static_cast<int>(count) - old);
    old = static_cast<int>(count);
    (write ? slot->writeFault : slot->readFault) = err;
  } else if ((cmd == "inject" || cmd == "ctl") && w.size() >= 2) {
    std::vector<Port*> ports;
    for (auto& p : slot->ports) ports.push_back(p.second.get());
    std::string reply;
    const std::vector<std::string> words(w.begin() + 2, w.end());
    bool ok = cmd == "inject" ? slot->device->OnInject(ports, words, &reply)
                              : slot->device->OnControl(ports, words, &reply);
    // A hold the command released: its packets reach the device now.
    DrainLocked();
    Wake();
    if (!ok) return "error " + reply + "\n";
    if (!reply.empty()) out << reply << (reply.back() == '\n' ? "" : "\n");
  } else {
    return "error unknown command: " + line + "\n";
  }
  out << "ok\n";
  return out.str();
}

namespace {

// velmard-sim serves the control socket from the start, before the daemon
// opens any device, when its environment names one.
struct ControlFromEnvironment {
  ControlFromEnvironment() {
    const char* path = std::getenv("VELMARD_SIM_SOCKET");
    if (!path || !*path) return;
    if (!Board::instance().ServeControl(path)) {
      std::fprintf(stderr, "sim: cannot serve control socket %s: %s\n", path, std::strerror(errno));
    }
  }
} controlFromEnvironment;

}  // namespace

}  // namespace sim
