// The simulated board: stands in for the board's kernel drivers on a host.
//
// The daemon keeps calling open/ioctl/read/write exactly as on the board. The
// interposed open* hands out one end of an AF_UNIX SOCK_SEQPACKET pair for
// every modelled device path and the board keeps the other end, so a write of
// the daemon arrives here as one packet and a packet sent from here is what
// the daemon reads. Devices are recognised by the inode of the daemon's end,
// which every dup of the descriptor shares.
//
// One Board per process. Tests drive it in process through this API;
// velmard-sim also serves it on a control socket (see control commands in
// sim/README.md), from a thread of its own that also drains the device ends.
#ifndef VELMARD_SIM_BOARD_H
#define VELMARD_SIM_BOARD_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class Board;

// One open of a device: the board's end of the socket pair.
class Port {
 public:
  Port(Board& board, int fd, ino_t inode) : board_(board), fd_(fd), inode_(inode) {}
  int fd() const { return fd_; }
  ino_t inode() const { return inode_; }
  // Sends one packet to the daemon's end (a device event the daemon reads).
  bool Send(const std::string& bytes) const;
  // While held, the board leaves what the daemon writes in the socket: its
  // buffer fills, the daemon's writes get EAGAIN and its poll no longer
  // reports POLLOUT, as with a driver whose transmit queue is full.
  // Releasing the hold hands the queued packets to the device, in order.
  void Hold(bool on) { held_ = on; }
  bool held() const { return held_; }
  // The next read of the daemon on this open fails with err (0: none).
  void FailRead(int err);

 private:
  friend class Board;
  Board& board_;
  int fd_;
  ino_t inode_;
  bool held_ = false;
  int readFault_ = 0;
};

// A modelled device. One object per device path lives as long as the board;
// it sees every open of its path through the Port of that open. Every call
// runs with the board locked.
class Device {
 public:
  virtual ~Device() = default;
  // A packet the daemon wrote on one of its descriptors of this device.
  virtual void OnWrite(Port& port, const std::string& packet) = 0;
  // An ioctl on one of its descriptors: the result, or -1 with *err set.
  virtual int OnIoctl(Port& port, unsigned long request, void* arg, int* err);
  // A device event asked for by a test ("inject PATH WORDS..."): false with
  // a reason in *reply when the words make no sense for this device.
  virtual bool OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                        std::string* reply);
  // A test's look at or change of the device's state ("ctl PATH WORDS..."):
  // data lines in *reply, or false with a reason.
  virtual bool OnControl(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                         std::string* reply);
  // Non-zero: every open of the path fails with this errno (a device the
  // board does not have).
  virtual int OpenError() const { return 0; }
  // The daemon opened or closed (all copies of) one descriptor.
  virtual void OnOpen(Port&) {}
  virtual void OnClose(Port&) {}
  // Back to the power-on state.
  virtual void Reset() {}

  // Appends one line to the device's journal (what the daemon did to it).
  void Record(const std::string& text);

 private:
  friend class Board;
  Board* board_ = nullptr;
  std::string path_;
};

// The access mode of open flags and the two flags a driver node honours, as
// the board records them ("O_RDWR|O_NONBLOCK|O_CLOEXEC").
std::string OpenModeText(int flags);

// An errno given by name ("EIO") or number; false when it is neither.
bool ParseErrno(const std::string& text, int* value);
// A number in decimal, or hexadecimal after "0x"; false when it is not one.
bool ParseNumber(const std::string& text, long* value);

struct JournalEntry {
  uint64_t ms;  // milliseconds since the board started (monotonic)
  std::string text;
};

// An entry of the device table (sim/devices.cpp).
struct DeviceModel {
  const char* path;
  std::unique_ptr<Device> (*make)();
};

class Board {
 public:
  // The process's board, created on first use and never destroyed: its
  // thread may still be running while the process exits.
  static Board& instance();
  // True when the path names a modelled device (usable before any static
  // constructor ran: the table is constant).
  static bool Models(const char* path);

  // --- Called by the interposed C library entry points.
  // Opens a modelled device: the daemon's descriptor, or -1 with errno set.
  int Open(const char* path, int flags);
  // handled = false when fd is not a modelled device.
  int Ioctl(int fd, unsigned long request, void* arg, bool* handled);
  // A fault injected for the next read or write on fd: the errno to fail
  // with, or 0 to let the call through.
  int TakeFault(int fd, bool write);
  // True while the calling thread is inside one of the calls above.
  static bool Busy();

  // --- The test API (also reached through the control socket).
  std::vector<JournalEntry> Journal(const std::string& path);
  void ClearJournal(const std::string& path);
  // Waits until the device's journal holds at least count entries equal to
  // text; false on time-out.
  bool WaitJournal(const std::string& path, const std::string& text, size_t count,
                   std::chrono::milliseconds timeout);
  // The next opens of path fail with err (0: they succeed again).
  bool FailOpen(const std::string& path, int err);
  // The next count writes (or reads) on descriptors of path fail with err.
  bool FailIo(const std::string& path, bool write, int err, int count);
  bool Inject(const std::string& path, const std::vector<std::string>& words, std::string* reply);
  // How each successful open of path since the last reset asked for the
  // device, in order: "O_RDONLY", "O_WRONLY" or "O_RDWR", then "|O_NONBLOCK"
  // and "|O_CLOEXEC" when given (OpenModeText).
  std::vector<std::string> Opens(const std::string& path);
  // Descriptors of the daemon that are open on path right now.
  int OpenCount(const std::string& path);
  std::vector<std::string> Paths() const;
  // Milliseconds since the board started, the journal's clock.
  uint64_t Now() const;
  // Models one more device path, for a test that needs a device of its own.
  // False when the path is modelled already.
  bool Add(const std::string& path, std::unique_ptr<Device> device);
  // Power-on state: journals, faults and device state cleared (open
  // descriptors stay open).
  void Reset();
  // Runs f on the device of path, the board locked: the typed test API of
  // a device (its class's own methods). The path must be modelled.
  template <class D, class F>
  auto With(const std::string& path, F&& f) {
    std::lock_guard<std::mutex> lk(mu_);
    DrainLocked();
    WakeOnExit wake{*this};  // a released hold is drained by the thread
    return f(static_cast<D&>(DeviceLocked(path)));
  }
  // A device command line, as "ctl PATH WORDS..." on the control socket.
  std::string Control(const std::string& path, const std::string& words);

  // Serves the control protocol on an AF_UNIX stream socket at path and
  // starts the board thread. False when the socket cannot be made.
  bool ServeControl(const std::string& path);
  // One control command line, answered as on the control socket.
  std::string Command(const std::string& line);

 private:
  struct DeviceSlot;
  struct Client;
  struct WakeOnExit {
    Board& board;
    ~WakeOnExit() { board.Wake(); }
  };
  Board();
  DeviceSlot* Find(const std::string& path);
  Device& DeviceLocked(const std::string& path);
  Port* PortOf(int fd, DeviceSlot** slot);
  void StartThreadLocked();
  void ThreadMain();
  void Wake();
  void ServicePortLocked(DeviceSlot& slot, Port& port);
  void ClosePortLocked(DeviceSlot& slot, ino_t inode);
  void DrainLocked();
  void ResetLocked();
  void ServeClientLocked(Client& client);
  std::string CommandLocked(const std::string& line);
  static void AtForkPrepare();
  static void AtForkParent();
  static void AtForkChild();
  static void AtExit();

  friend class Device;
  friend class Port;

  void ParkForForkLocked(std::unique_lock<std::mutex>& lk);

  mutable std::mutex mu_;
  std::condition_variable changed_;
  // Fork hand-shake: the board thread parks while forks_ > 0.
  std::condition_variable parking_;
  int forks_ = 0;
  bool parked_ = false;
  std::chrono::steady_clock::time_point start_;
  std::vector<std::unique_ptr<DeviceSlot>> slots_;
  std::vector<std::unique_ptr<Client>> clients_;
  int listener_ = -1;
  std::string listenerPath_;
  int wake_[2] = {-1, -1};
  bool threadRunning_ = false;
  std::vector<char> rx_;  // one packet from a device end
};

}  // namespace sim

#endif  // VELMARD_SIM_BOARD_H
