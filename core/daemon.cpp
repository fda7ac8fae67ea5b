#include "core/daemon.h"

#include "core/syslog.h"
#include "core/version.h"

#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>

// ---------------------------------------------------------------- AreaStreamBuf

AreaStreamBuf::~AreaStreamBuf() {
  delete[] mArea;
}

std::streambuf* AreaStreamBuf::setbuf(char* buffer, std::streamsize size) {
  if (size < 2) return this;
  sync();
  delete[] mArea;
  mArea = buffer;
  setp(buffer, buffer + size - mReserved);
  return this;
}

int AreaStreamBuf::overflow(int c) {
  sync();
  if (c == traits_type::eof()) return 0;
  if (pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

// ---------------------------------------------------------------- SysLogStreamBuf

SysLogStreamBuf::SysLogStreamBuf(int facility, int severity)
    : AreaStreamBuf(1), mPriority(facility | severity) {
  setbuf(new char[1024], 1024);
}

// Sends each line of the put area; a partial line waits for its end unless
// a line before it is sent now or the area is full.
template <class Send, class Flush>
int SysLogStreamBuf::SyncLines(Send send, Flush flush) {
  if (!pbase()) return 0;
  char* begin = pbase();
  char* end = pptr();
  *end = '\0';
  if (std::memchr(begin, '\n', size_t(end - begin))) {
    char* p = begin;
    while (char* nl = static_cast<char*>(std::memchr(p, '\n', size_t(end - p)))) {
      *nl = '\0';
      send(p);
      p = nl + 1;
    }
    if (p < end) send(p);
    flush();
    setp(begin, epptr());
  } else if (end == epptr()) {
    send(begin);
    flush();
    setp(begin, epptr());
  }
  return 0;
}

int SysLogStreamBuf::sync() {
  int pri = mPriority;
  return SyncLines([pri](char const* line) { ::syslog(pri, "%s", line); }, [] {});
}

// ---------------------------------------------------------------- ManagedSysLogStreamBuf

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int severity)
    : SysLogStreamBuf(facility, severity) {
  setbuf(new char[16384], 16384);
}

int ManagedSysLogStreamBuf::sync() {
  int pri = mPriority;
  return SyncLines([pri](char const* line) { syslogManager.syslog(pri, "%s", line); },
                   [] { syslogManager.sendmsg(); });
}

// ---------------------------------------------------------------- LogFileStreamBuf

LogFileStreamBuf::LogFileStreamBuf(std::string const& directory)
    : AreaStreamBuf(0), mFile(new std::filebuf), mDirectory(directory) {
  setbuf(new char[16], 16);
  NewFile();
  mInLine = false;
}

// What is still in the put area is dropped; the file's own buffer is
// written when it closes.
LogFileStreamBuf::~LogFileStreamBuf() {
  mFile.reset();
}

void LogFileStreamBuf::OpenFor(struct tm const& tm) {
  mFile->close();
  mHour = tm.tm_hour;
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y_%m_%d-%H", &tm);
  char path[256];
  std::snprintf(path, sizeof path, "%s/%s.log", mDirectory.c_str(), stamp);
  mFile->open(path, std::ios::out | std::ios::trunc | std::ios::binary);
}

void LogFileStreamBuf::NewFile() {
  time_t now = time(nullptr);
  struct tm tm;
  if (!localtime_r(&now, &tm)) return;
  OpenFor(tm);
}

void LogFileStreamBuf::Write(char const* data, std::streamsize len) {
  if (len > 0 && mFile->is_open()) mFile->sputn(data, len);
}

int LogFileStreamBuf::sync() {
  if (!pbase()) return 0;
  char* p = pbase();
  char* end = pptr();

  if (mInLine) {
    char* nl = static_cast<char*>(std::memchr(p, '\n', size_t(end - p)));
    if (!nl) {
      Write(p, end - p);
      setp(pbase(), epptr());
      return 0;
    }
    Write(p, nl + 1 - p);
    mInLine = false;
    p = nl + 1;
  }

  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t secs = tv.tv_sec;
  struct tm tm;
  localtime_r(&secs, &tm);
  if (tm.tm_hour != mHour) OpenFor(tm);

  char prefix[32];
  int plen = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", tm.tm_min, tm.tm_sec,
                           long(tv.tv_usec));

  while (p < end) {
    Write(prefix, plen);
    char* nl = static_cast<char*>(std::memchr(p, '\n', size_t(end - p)));
    if (!nl) {
      Write(p, end - p);
      mInLine = true;
      break;
    }
    Write(p, nl + 1 - p);
    p = nl + 1;
  }
  setp(pbase(), epptr());
  return 0;
}

// ---------------------------------------------------------------- Daemon

namespace Daemon {

Sentry::Sentry(Params const& params) : mMode(params.mode) {
  if (::daemon(params.nochdir ? 1 : 0, 0) != 0) {
    std::cerr << "daemon() fail!" << std::endl;
    std::exit(2);
  }

  if (mMode == 0) {
    std::string ident = params.name.substr(0, 79);
    syslogManager.openlog(ident.c_str(), LOG_NDELAY, 0);
    // The buffers are never freed: the streams flush into them up to
    // the very end of the process.
    std::cout.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_NOTICE));
    std::cerr.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_ERR));
    std::clog.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_DEBUG));
    std::cin.tie(&std::cout);
    // Bytes written straight to 1 and 2, also by child processes,
    // reach the log socket as they are.
    int s = syslogManager.socket();
    if (s >= 0) {
      ::dup2(s, STDOUT_FILENO);
      ::dup2(s, STDERR_FILENO);
    }
  } else if (mMode == 1) {
    mLogBuf.reset(new LogFileStreamBuf(params.name));
    std::cout.rdbuf(mLogBuf.get());
    std::cerr.rdbuf(mLogBuf.get());
    std::clog.rdbuf(mLogBuf.get());
  }
}

Sentry::~Sentry() {
  if (mMode == 1) {
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    std::clog.rdbuf(nullptr);
    mLogBuf.reset();
  }
}

void Init(Params const& params) {
  static Sentry sentry(params);
  (void)sentry;
}

}  // namespace Daemon

void RunDaemon() {
  Daemon::Params params;
  std::ostringstream tag;
  Version::current.put(tag);
  params.name = "vld-" + tag.str();
  Daemon::Init(params);
}
