#include "core/syslog.h"

#include "core/timer.h"

#include <errno.h>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace {

char const kDefaultIdent[] = "syslog-zr";
char const kLogPath[] = "/dev/log";

// Appends at most what still fits before the last byte, which is kept for
// the terminating zero; pos never passes size - 1.
void Append(char* buf, unsigned size, unsigned& pos, char const* text, unsigned len) {
  if (pos + 1 >= size) return;
  if (len > size - 1 - pos) len = size - 1 - pos;
  std::memcpy(buf + pos, text, len);
  pos += len;
  buf[pos] = '\0';
}

}  // namespace

SysLogManager::SysLogManager()
    : mSocketType(SOCK_DGRAM),
      mSocket(-1),
      mConnected(false),
      mOptions(0),
      mIdent(kDefaultIdent),
      mFacility(LOG_USER),
      mMask(0xff),
      mBatchBytes(0),
      mBatchCount(0) {
  ResetAddress();
  std::memset(mMessage, 0, sizeof mMessage);
  std::memset(&mHeader, 0, sizeof mHeader);
}

SysLogManager::~SysLogManager() {}

void SysLogManager::ResetAddress() {
  std::memset(&mAddr, 0, sizeof mAddr);
  mAddr.sun_family = AF_UNIX;
  std::strncpy(mAddr.sun_path, kLogPath, sizeof mAddr.sun_path - 1);
}

void SysLogManager::openlog(char const* ident, int options, int facility) {
  if (ident) mIdent = ident;
  mOptions = options;
  if (facility != 0 && (facility & ~LOG_FACMASK) == 0) mFacility = facility;
  connect();
}

void SysLogManager::connect() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (mSocket == -1) {
      ResetAddress();
      if (!(mOptions & LOG_NDELAY)) return;
      // Close-on-exec: children get the log through descriptors 1
      // and 2, never through a stray copy of the client's own socket.
      mSocket = ::socket(AF_UNIX, mSocketType | SOCK_CLOEXEC, 0);
      if (mSocket == -1) return;
    }
    if (mSocket >= 0 && !mConnected) {
      if (::connect(mSocket, reinterpret_cast<sockaddr const*>(&mAddr), sizeof mAddr) == 0) {
        mConnected = true;
        return;
      }
      int err = errno;
      ::close(mSocket);
      mSocket = -1;
      if (err != EPROTOTYPE) return;
      // The log socket takes only the other kind of connection.
      mSocketType = (mSocketType == SOCK_DGRAM) ? SOCK_STREAM : SOCK_DGRAM;
      continue;
    }
    return;
  }
}

void SysLogManager::disconnect() {
  if (mSocket >= 0) ::close(mSocket);
  mSocket = -1;
  mConnected = false;
}

void SysLogManager::closelog() {
  disconnect();
  mIdent = kDefaultIdent;
  mSocketType = SOCK_DGRAM;
  clear_batch();
}

void SysLogManager::syslog(int priority, char const* format, ...) {
  if (!(mMask & (1 << (priority & LOG_PRIMASK)))) return;
  if ((priority & LOG_FACMASK) == 0) priority |= mFacility;

  unsigned const size = sizeof mMessage;
  unsigned pos = 0;
  char tmp[64];
  int n = std::snprintf(tmp, sizeof tmp, "<%d>", priority);
  Append(mMessage, size, pos, tmp, unsigned(n));

  time_t now = time_t(Mux::seconds());
  struct tm tm;
  if (localtime_r(&now, &tm)) {
    size_t len = std::strftime(tmp, sizeof tmp, "%h %e %T ", &tm);
    Append(mMessage, size, pos, tmp, unsigned(len));
  }

  unsigned const textStart = pos;
  if (!mIdent.empty()) Append(mMessage, size, pos, mIdent.data(), unsigned(mIdent.size()));
  if (mOptions & LOG_PID) {
    n = std::snprintf(tmp, sizeof tmp, "[%d]", int(getpid()));
    Append(mMessage, size, pos, tmp, unsigned(n));
  }
  if (!mIdent.empty()) Append(mMessage, size, pos, ": ", 2);

  if (pos + 1 < size) {
    va_list ap;
    va_start(ap, format);
    n = std::vsnprintf(mMessage + pos, size - pos, format, ap);
    va_end(ap);
    if (n > 0) pos += (unsigned(n) < size - pos) ? unsigned(n) : size - 1 - pos;
  }
  mMessage[pos] = '\0';

  if (mOptions & LOG_PERROR) {
    struct iovec v[2];
    v[0].iov_base = mMessage + textStart;
    v[0].iov_len = pos - textStart;
    int cnt = 1;
    if (pos == textStart || mMessage[pos - 1] != '\n') {
      v[1].iov_base = const_cast<char*>("\n");
      v[1].iov_len = 1;
      cnt = 2;
    }
    ssize_t r = ::writev(STDERR_FILENO, v, cnt);
    (void)r;
  }

  if (!mConnected) {
    mOptions |= LOG_NDELAY;
    connect();
  }
  // A failed send has already been retried once on a fresh connection
  // (see sendmsg), so a message that still fails is given up here.
  if (mConnected && add(mMessage, pos + 1)) return;

  disconnect();
  if (mOptions & LOG_CONS) {
    int fd = ::open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      dprintf(fd, "%s\r\n", mMessage + textStart);
      ::close(fd);
    }
  }
}

bool SysLogManager::add(char const* data, unsigned length) {
  std::memcpy(mBatch + mBatchBytes, data, length);
  mVector[mBatchCount].iov_base = mBatch + mBatchBytes;
  mVector[mBatchCount].iov_len = length;
  ++mBatchCount;
  mBatchBytes += length;

  if (mBatchCount >= kBatchMessages || mBatchBytes > kBatchThreshold) return sendmsg() >= 0;
  return true;
}

int SysLogManager::send_batch() {
  // A connected stream socket refuses a peer address (EISCONN), so only
  // the datagram socket names its peer.
  if (mSocketType == SOCK_DGRAM) {
    mHeader.msg_name = &mAddr;
    mHeader.msg_namelen = sizeof mAddr;
  } else {
    mHeader.msg_name = nullptr;
    mHeader.msg_namelen = 0;
  }
  mHeader.msg_iov = mVector;
  mHeader.msg_iovlen = size_t(mBatchCount);
  mHeader.msg_control = nullptr;
  mHeader.msg_controllen = 0;
  mHeader.msg_flags = 0;
  ssize_t r;
  do r = ::sendmsg(mSocket, &mHeader, MSG_NOSIGNAL);
  while (r < 0 && errno == EINTR);
  return int(r);
}

int SysLogManager::sendmsg() {
  int r = 0;
  if (mBatchCount > 0 && mBatchBytes > 0 && mSocket >= 0) {
    r = send_batch();
    if (r < 0) {
      // The log service may have been restarted: one new connection
      // and one more try for the same batch, then give it up and
      // leave the client unconnected so the next message tries anew.
      disconnect();
      mOptions |= LOG_NDELAY;
      connect();
      if (mConnected) r = send_batch();
      if (r < 0) disconnect();
    }
  }
  clear_batch();
  return r;
}

void SysLogManager::clear_batch() {
  mBatchBytes = 0;
  mBatchCount = 0;
}

namespace {
alignas(SysLogManager) unsigned char sManagerStorage[sizeof(SysLogManager)];
}

SysLogManager& syslogManager = *new (sManagerStorage) SysLogManager;
