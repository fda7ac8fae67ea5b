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

bool TakesMode(int flags) { return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE; }

int OpenDevice(const char* path, int flags) {
  int fd = sim::Board::instance().Open(path, flags);
  if (fd >= 0) g_deviceOpened.store(true);
  return fd;
}

}  // namespace

extern "C" {

int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);

int open(const char* path, int flags, ...) {
  int mode = 0;
  if (TakesMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, int);
    va_end(ap);
  }
  if (sim::Board::Models(path)) return OpenDevice(path, flags);
  static const OpenFn real = Next<OpenFn>("open");
  return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  int mode = 0;
  if (TakesMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, int);
    va_end(ap);
  }
  if (sim::Board::Models(path)) return OpenDevice(path, flags);
  static const OpenFn real = Next<OpenFn>("open64");
  return real(path, flags, mode);
}

int __open_2(const char* path, int flags) {
  if (sim::Board::Models(path)) return OpenDevice(path, flags);
  static const Open2Fn real = Next<Open2Fn>("__open_2");
  return real(path, flags);
}

int __open64_2(const char* path, int flags) {
  if (sim::Board::Models(path)) return OpenDevice(path, flags);
  static const Open2Fn real = Next<Open2Fn>("__open64_2");
  return real(path, flags);
}

int openat(int dirfd, const char* path, int flags, ...) {
  int mode = 0;
  if (TakesMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, int);
    va_end(ap);
  }
  // Device paths are absolute, so the directory descriptor plays no part.
  if (sim::Board::Models(path)) return OpenDevice(path, flags);
  static const OpenatFn real = Next<OpenatFn>("openat");
  return real(dirfd, path, flags, mode);
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
  if (sim::g_faultsArmed.load(std::memory_order_relaxed) > 0) {
    int saved = errno;
    if (int err = sim::Board::instance().TakeFault(fd, false)) {
      errno = err;
      return -1;
    }
    errno = saved;
  }
  static const ReadFn real = Next<ReadFn>("read");
  return real(fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
  if (sim::g_faultsArmed.load(std::memory_order_relaxed) > 0) {
    int saved = errno;
    if (int err = sim::Board::instance().TakeFault(fd, true)) {
      errno = err;
      return -1;
    }
    errno = saved;
  }
  static const WriteFn real = Next<WriteFn>("write");
  return real(fd, buf, count);
}

}  // extern "C"
