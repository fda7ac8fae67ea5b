#ifndef VELMARD_CORE_ASYNC_H
#define VELMARD_CORE_ASYNC_H

// Non-blocking helpers that run inside the event loop: pumping bytes from one
// descriptor to another until the source ends, and opening a TCP connection
// with a time-out. Each reports its end exactly once per start, through its
// handler, and the handler may destroy the object from inside that call.

#include "core/fd.h"
#include "core/multiplexer.h"
#include "core/timer.h"

#include <poll.h>

#include <cstdint>
#include <string>
#include <utility>

namespace ASync {

// A handler that calls a member function of its owner.
template <class Base, class T, class... Args>
class MemberHandler : public Base {
 public:
  typedef void (T::*Action)(Args...);
  MemberHandler(Action action, T* object) : mAction(action), mObject(object) {}
  void Invoke(Args... args) override { (mObject->*mAction)(std::move(args)...); }

 private:
  Action mAction;
  T* mObject;
};

class Copy {
 public:
  struct Status {
    enum Type {
      NotStarted = 0,
      Running = 1,
      SourceEnded = 2,  // the source ended while a write is pending
      Flushing = 3,     // waiting for the destination's flushed events
      Error = 4,
      Done = 5,
      Changed = 6,  // events or buffer size changed while running
    };
  };

  struct EventsParams {
    int src = POLLIN;
    int dst = POLLOUT;
    int flushed = POLLWRNORM;
  };

  class Handler {
   public:
    virtual ~Handler() {}
    virtual void Invoke(Status::Type status) = 0;
  };

  template <class T>
  using THandler = MemberHandler<Handler, T, Status::Type>;

  Copy();
  ~Copy();

  void Bind(Handler* handler);
  void UnBind();
  template <class T>
  void Bind(typename THandler<T>::Action action, T* object) {
    Bind(new THandler<T>(action, object));
  }

  void set_events(EventsParams const& events);
  void set_bufsize(unsigned size);

  void Start(Fd source, Fd destination);
  // Stops reading; what was read is still written before the copy ends.
  void Stop();

  Status::Type status() const { return mStatus; }
  int last_error() const { return mLastError; }
  uint32_t bytes_copied() const { return mBytesCopied; }

 private:
  typedef bool (Copy::*Step)();

  Copy(Copy const&) = delete;
  Copy& operator=(Copy const&) = delete;

  bool NotReady() { return false; }
  bool SrcReady();
  bool DstReady();
  void Progress();
  void GoReading();
  void GoWriting();
  bool SourceEnd();
  void FlushDestination();
  void Complete(Status::Type status);
  void OnSrcEvent(int fd, short revents);
  void OnDstEvent(int fd, short revents);

  Fd mSrc;
  Fd mDst;
  EventsParams mEvents;
  unsigned mBufSize = 0;
  unsigned char* mBuf = nullptr;
  int mLastError = 0;
  Step mStep = &Copy::NotReady;
  Handler* mHandler = nullptr;
  Event mSrcEvent;
  Event mDstEvent;
  uint32_t mBytesCopied = 0;
  unsigned char* mWritePos = nullptr;
  unsigned char* mEnd = nullptr;
  Status::Type mStatus = Status::NotStarted;
};

class Connect {
 public:
  struct Status {
    enum Type {
      Idle = 0,
      InProgress = 1,
      Failed = 2,
      Connected = 3,
      Stopped = 4,
    };
  };

  class Handler {
   public:
    virtual ~Handler() {}
    // The descriptor is the connected socket, or empty; the handler
    // copies it to keep the connection.
    virtual void Invoke(Status::Type status, Fd fd) = 0;
  };

  template <class T>
  using THandler = MemberHandler<Handler, T, Status::Type, Fd>;

  Connect();
  ~Connect();

  void Bind(Handler* handler);
  void UnBind();
  template <class T>
  void Bind(typename THandler<T>::Action action, T* object) {
    Bind(new THandler<T>(action, object));
  }

  // "a.b.c.d:port"; the time-out is in milliseconds.
  void Start(std::string const& address, unsigned timeout);
  void Stop();

  Status::Type status() const { return mStatus; }

 private:
  Connect(Connect const&) = delete;
  Connect& operator=(Connect const&) = delete;

  void OnSocketEvent(int fd, short revents);
  void OnTimeOut();
  void Complete(Status::Type status);

  Status::Type mStatus = Status::Idle;
  Fd mSocket;
  Event mEvent;
  Handler* mHandler = nullptr;
  Timer mTimer;
};

}  // namespace ASync

#endif  // VELMARD_CORE_ASYNC_H
