#ifndef VELMARD_CORE_SYSLOG_H
#define VELMARD_CORE_SYSLOG_H

// The daemon's own client of the local syslog service. It speaks like
// openlog(3)/syslog(3) (same option bits, same text of a message) but
// collects messages into a batch that leaves in one sendmsg(2): the log
// streams send it at the end of each flush, so the lines of one flush make
// one datagram instead of one system call each.

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <cstdint>
#include <string>

class SysLogManager {
 public:
  enum {
    kMessageSize = 1024,  // one message with its terminating zero
    kBatchSize = 16384,
    kBatchMessages = 256,
    kBatchThreshold = 12288,  // a batch past this many bytes goes at once
  };

  SysLogManager();
  ~SysLogManager();

  void openlog(char const* ident, int options, int facility);
  void closelog();
  void syslog(int priority, char const* format, ...) __attribute__((format(printf, 3, 4)));
  // Sends the batch now; the result of sendmsg(2), 0 when nothing was sent.
  int sendmsg();

  int socket() const { return mSocket; }
  int socket_type() const { return mSocketType; }
  bool connected() const { return mConnected; }
  unsigned batch_count() const { return unsigned(mBatchCount); }
  unsigned batch_bytes() const { return mBatchBytes; }

 private:
  SysLogManager(SysLogManager const&) = delete;
  SysLogManager& operator=(SysLogManager const&) = delete;

  void ResetAddress();
  void connect();
  void disconnect();
  bool add(char const* data, unsigned length);
  int send_batch();
  void clear_batch();

  int mSocketType;
  int mSocket;
  bool mConnected;
  int mOptions;
  std::string mIdent;
  int mFacility;
  int mMask;
  struct sockaddr_un mAddr;
  char mMessage[kMessageSize];
  char mBatch[kBatchSize];
  uint32_t mBatchBytes;
  struct msghdr mHeader;
  struct iovec mVector[kBatchMessages];
  int mBatchCount;
};

// The one client. It is never destroyed: the standard streams are flushed,
// and exit handlers log, after the destructors of ordinary globals have run.
extern SysLogManager& syslogManager;

#endif  // VELMARD_CORE_SYSLOG_H
