// The C library entry points the board takes over. The daemon links these in
// place of the C library's own (velmard-sim, the tests); velmard never does.
// Everything that is not a modelled device goes on to the next definition
// (the C library, or a sanitizer's interceptor in front of it).
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "sim/board.h"

namespace sim {
extern std::atomic<int> g_faultsArmed;
}  // namespace sim

namespace {

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using OpenatFn = int (*)(int, const char*, int, ...);
using IoctlFn = int (*)(int, unsigned long, ...);
using ReadFn = ssize_t (*)(int, void*, size_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);

// Set by the first modelled open: until then no descriptor can be a device
// and ioctl needs no look-up.
std::atomic<bool> g_deviceOpened{false};

bool TakesMode(int flags) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

int OpenDevice(const char* path, int flags) {
  int fd = sim::Board::instance().Open(path, flags);
  if (fd >= 0) g_deviceOpened.store(true);
  return fd;
}

// The mode argument is there only when the flags create a file.
int ModeArg(int flags, va_list ap) {
  return TakesMode(flags) ? va_arg(ap, int) : 0;
}

constexpr char kOpen[] = "open";
constexpr char kOpen64[] = "open64";
constexpr char kOpen2[] = "__open_2";
constexpr char kOpen64_2[] = "__open64_2";
constexpr char kOpenat[] = "openat";

// One open entry point: a modelled device, or the next definition of Name
// (looked up once per entry point, so the name is a template argument).
template <class Fn, const char* Name, class... Args>
int OpenOrNext(const char* path, int flags, Args... args) {
  if (sim::Board::Models(path)) return OpenDevice(path, flags);
  static const Fn real = Next<Fn>(Name);
  return real(args...);
}

constexpr char kRead[] = "read";
constexpr char kWrite[] = "write";

// One read or write: the fault a test armed for fd, or the next definition.
// A process with no fault armed pays one atomic load.
template <class Fn, const char* Name, class Buf>
ssize_t FaultOrNext(bool write, int fd, Buf buf, size_t count) {
  if (sim::g_faultsArmed.load(std::memory_order_relaxed) > 0) {
    int saved = errno;
    if (int err = sim::Board::instance().TakeFault(fd, write)) {
      errno = err;
      return -1;
    }
    errno = saved;
  }
  static const Fn real = Next<Fn>(Name);
  return real(fd, buf, count);
}

}  // namespace

extern "C" {

int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);

int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  int mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenOrNext<OpenFn, kOpen>(path, flags, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  int mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenOrNext<OpenFn, kOpen64>(path, flags, path, flags, mode);
}

int __open_2(const char* path, int flags) {
  return OpenOrNext<Open2Fn, kOpen2>(path, flags, path, flags);
}

int __open64_2(const char* path, int flags) {
  return OpenOrNext<Open2Fn, kOpen64_2>(path, flags, path, flags);
}

// Device paths are absolute, so the directory descriptor plays no part.
int openat(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  int mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenOrNext<OpenatFn, kOpenat>(path, flags, dirfd, path, flags, mode);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (g_deviceOpened.load(std::memory_order_relaxed)) {
    bool handled = false;
    int saved = errno;
    int r = sim::Board::instance().Ioctl(fd, request, arg, &handled);
    if (handled) return r;
    errno = saved;
  }
  static const IoctlFn real = Next<IoctlFn>("ioctl");
  return real(fd, request, arg);
}

ssize_t read(int fd, void* buf, size_t count) {
  return FaultOrNext<ReadFn, kRead>(false, fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
  return FaultOrNext<WriteFn, kWrite>(true, fd, buf, count);
}

}  // extern "C"
