#include "core/fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

Fd& Fd::operator=(const Fd& other) {
  if (this != &other) reset(other.dup());
  return *this;
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

Fd::~Fd() {
  if (fd >= 0) ::close(fd);
}

int Fd::dup() const {
  if (fd < 0) return -1;
  // Children started by fork and exec must not inherit the daemon's
  // sockets and devices.
  return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int Fd::close() {
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  int rc = ::close(fd);
  fd = -1;
  return rc;
}

bool Fd::NonBlock() const {
  return fd >= 0 && NonBlockMode(fd);
}

void Fd::reset(int newFd) {
  if (fd >= 0 && fd != newFd) ::close(fd);
  fd = newFd;
}

static bool ChangeStatusFlags(int fd, int set, int clear) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFL, (flags | set) & ~clear) >= 0;
}

bool NonBlockMode(int fd) {
  return ChangeStatusFlags(fd, O_NONBLOCK, 0);
}

bool BlockMode(int fd) {
  return ChangeStatusFlags(fd, 0, O_NONBLOCK);
}

void SetCloexec(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags < 0) return;
  ::fcntl(fd, F_SETFD, on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC));
}
