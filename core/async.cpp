#include "core/async.h"

#include "core/inet.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ASync {

namespace {

short const kFailEvents = POLLERR | POLLHUP | POLLNVAL;
unsigned const kDefaultBufSize = 1024;

}  // namespace

// ---------------------------------------------------------------- Copy

Copy::Copy() {}

Copy::~Copy() {
  delete[] mBuf;
  delete mHandler;
}

void Copy::Bind(Handler* handler) {
  delete mHandler;
  mHandler = handler;
}

void Copy::UnBind() {
  Bind(nullptr);
}

void Copy::set_events(EventsParams const& events) {
  mEvents = events;
  Complete(Status::Changed);
}

void Copy::set_bufsize(unsigned size) {
  delete[] mBuf;
  mBuf = new unsigned char[size];
  mBufSize = size;
  mWritePos = mEnd = mBuf;
  Complete(Status::Changed);
}

void Copy::Start(Fd source, Fd destination) {
  mStatus = Status::Running;
  mSrc = std::move(source);
  mDst = std::move(destination);
  mSrcEvent.Release();
  mDstEvent.Release();

  mSrcEvent.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
  mDstEvent.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
  if (!mBuf) {
    mBuf = new unsigned char[kDefaultBufSize];
    mBufSize = kDefaultBufSize;
  }
  mWritePos = mEnd = mBuf;

  mSrcEvent.Schedule(mSrc, 0);
  mDstEvent.Schedule(mDst, 0);

  mLastError = 0;
  mBytesCopied = 0;
  mStep = &Copy::SrcReady;
  Progress();
}

void Copy::Stop() {
  if (mStatus != Status::Running) return;
  if (SourceEnd()) Progress();
}

// The handler may destroy this object inside a step; a step that completes
// returns false at once, so nothing is touched afterwards.
void Copy::Progress() {
  while ((this->*mStep)()) {
  }
}

void Copy::GoReading() {
  mSrcEvent.events = short(mEvents.src);
  mDstEvent.events = 0;
  mStep = &Copy::SrcReady;
}

void Copy::GoWriting() {
  mSrcEvent.events = 0;
  mDstEvent.events = short(mEvents.dst);
  mStep = &Copy::DstReady;
}

bool Copy::SrcReady() {
  ssize_t n = ::read(mSrc.get(), mBuf, mBufSize);
  if (n > 0) {
    mWritePos = mBuf;
    mEnd = mBuf + n;
    GoWriting();
    return true;
  }
  if (n == 0) return SourceEnd();
  if (errno == EINTR) return true;
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    GoReading();
    return false;
  }
  if (mBytesCopied == 0) {
    Complete(Status::Error);
    return false;
  }
  // A read error after some data counts as the end of the source.
  return SourceEnd();
}

bool Copy::DstReady() {
  ssize_t n = ::write(mDst.get(), mWritePos, size_t(mEnd - mWritePos));
  if (n < 0) {
    if (errno == EINTR) return true;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      mSrcEvent.events = 0;
      mDstEvent.events = short(mEvents.dst);
      return false;
    }
    mLastError = errno;
    Complete(Status::Error);
    return false;
  }
  if (n == 0) {
    mLastError = 0;
    Complete(Status::Error);
    return false;
  }
  mBytesCopied += uint32_t(n);
  mWritePos += n;
  if (mWritePos < mEnd) return true;
  if (mStatus == Status::SourceEnded) {
    FlushDestination();
    return false;
  }
  GoReading();
  return true;
}

// End of the source: a pending write still goes out first.
bool Copy::SourceEnd() {
  mSrcEvent.Release();
  mSrc.close();
  if (mStep == &Copy::DstReady) {
    mStatus = Status::SourceEnded;
    return true;
  }
  FlushDestination();
  return false;
}

void Copy::FlushDestination() {
  if (mEvents.flushed != 0) {
    mDstEvent.events = short(mEvents.flushed);
    mStep = &Copy::NotReady;
    mStatus = Status::Flushing;
  } else {
    Complete(Status::Done);
  }
}

void Copy::Complete(Status::Type status) {
  if (mStatus != Status::Running && mStatus != Status::SourceEnded && mStatus != Status::Flushing)
    return;
  // The events keep their callbacks: one of them may be the caller, and
  // the next Start binds them again anyway.
  mSrcEvent.Release();
  mDstEvent.Release();
  mStatus = status;
  mSrc.close();
  mDst.close();
  mStep = &Copy::NotReady;
  if (mHandler) mHandler->Invoke(status);
}

void Copy::OnSrcEvent(int, short revents) {
  if (revents & mEvents.src) {
    Progress();
  } else if (revents & kFailEvents) {
    // Poll keeps reporting a hang-up; the next read tells the end or
    // the error.
    mSrcEvent.Release();
    Progress();
  }
}

void Copy::OnDstEvent(int, short revents) {
  if (revents & kFailEvents) {
    mLastError = 0;
    Complete(Status::Error);
    return;
  }
  switch (mStatus) {
    case Status::Running:
    case Status::SourceEnded:
      if (revents & mEvents.dst) Progress();
      break;
    case Status::Flushing:
      if (revents & mEvents.flushed) Complete(Status::Done);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------- Connect

Connect::Connect() {}

Connect::~Connect() {
  delete mHandler;
  mTimer.reset();
}

void Connect::Bind(Handler* handler) {
  delete mHandler;
  mHandler = handler;
}

void Connect::UnBind() {
  Bind(nullptr);
}

// Every way out completes or schedules the event, so the event of an
// earlier start needs no release here.
void Connect::Start(std::string const& address, unsigned timeout) {
  mTimer.reset();
  mSocket.close();
  mStatus = Status::InProgress;

  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (s < 0) {
    Complete(Status::Failed);
    return;
  }
  mSocket.reset(s);
  // Text that is no address must not turn into a connect to 0.0.0.0.
  INet4::Addr addr;
  if (!addr.Assign(address.c_str())) {
    Complete(Status::Failed);
    return;
  }
  if (::connect(s, addr.get(), INet4::Addr::length()) == 0) {
    Complete(Status::Connected);
    return;
  }
  if (errno != EINPROGRESS) {
    Complete(Status::Failed);
    return;
  }
  mEvent.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
  mEvent.Schedule(mSocket, POLLOUT);
  mTimer.set(timeout, &Connect::OnTimeOut, this);
}

void Connect::Stop() {
  Complete(Status::Stopped);
}

void Connect::OnSocketEvent(int, short revents) {
  if (revents & kFailEvents) {
    Complete(Status::Failed);
    return;
  }
  if (revents & POLLOUT) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(mSocket.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
      Complete(Status::Failed);
    else
      Complete(Status::Connected);
  }
}

void Connect::OnTimeOut() {
  Complete(Status::Failed);
}

void Connect::Complete(Status::Type status) {
  if (mStatus != Status::InProgress) return;
  mStatus = status;
  Fd connected;
  if (status == Status::Connected) connected = mSocket;
  mSocket.close();
  mEvent.Release();
  mTimer.reset();
  // Last: the handler may destroy this object.
  if (mHandler) mHandler->Invoke(status, std::move(connected));
}

}  // namespace ASync
