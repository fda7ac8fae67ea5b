#ifndef VELMARD_CORE_DAEMON_H
#define VELMARD_CORE_DAEMON_H

// Daemon mode: detach with daemon(3) and reroute the three standard streams
// (standard output for notices, standard error for errors, std::clog for
// traces) either to the daemon's own syslog client or to hourly log files.

#include <streambuf>
#include <fstream>
#include <memory>
#include <string>

// The owned put area that the log stream buffers share: a full area or a
// flush hands the bytes to sync().
class AreaStreamBuf : public std::streambuf {
 public:
  ~AreaStreamBuf() override;

 protected:
  // reserved: bytes at the end of every area kept out of use.
  explicit AreaStreamBuf(std::streamsize reserved) : mReserved(reserved) {}

  // Takes ownership of the array; a size below 2 is ignored.
  std::streambuf* setbuf(char* buffer, std::streamsize size) override;
  int overflow(int c) override;

  char* mArea = nullptr;

 private:
  std::streamsize mReserved;
};

// Line-cutting stream buffer over the platform's syslog(3). The last byte of
// its area holds the zero that ends the text.
class SysLogStreamBuf : public AreaStreamBuf {
 public:
  SysLogStreamBuf(int facility, int severity);

  int priority() const { return mPriority; }

 protected:
  int sync() override;

  template <class Send, class Flush>
  int SyncLines(Send send, Flush flush);

  int mPriority;
};

// The buffer in use: lines go to syslogManager, and the lines of one flush
// leave together in one send.
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
 public:
  ManagedSysLogStreamBuf(int facility, int severity);

 protected:
  int sync() override;
};

// Hourly log files "<dir>/%Y_%m_%d-%H.log", each line prefixed with the
// minute, second and microseconds of the flush that wrote it.
class LogFileStreamBuf : public AreaStreamBuf {
 public:
  explicit LogFileStreamBuf(std::string const& directory);
  ~LogFileStreamBuf() override;

 protected:
  int sync() override;

 private:
  void NewFile();
  void OpenFor(struct tm const& tm);
  void Write(char const* data, std::streamsize len);

  std::unique_ptr<std::filebuf> mFile;
  std::string mDirectory;
  int mHour = -1;
  bool mInLine = false;
};

namespace Daemon {

struct Params {
  unsigned mode = 0;  // 0 syslog, 1 log files, other: detach only
  bool nochdir = false;
  std::string name = "unknown";  // syslog identity, or log-file directory
};

class Sentry {
 public:
  explicit Sentry(Params const& params);
  ~Sentry();

 private:
  Sentry(Sentry const&) = delete;
  Sentry& operator=(Sentry const&) = delete;

  unsigned mMode;
  std::unique_ptr<LogFileStreamBuf> mLogBuf;
};

// Detaches and reroutes the streams on the first call only.
void Init(Params const& params);

}  // namespace Daemon

// Daemon mode as the start-up enters it: syslog mode, identity "vld-" and
// the build tag.
void RunDaemon();

#endif  // VELMARD_CORE_DAEMON_H
