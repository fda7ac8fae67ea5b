// Time-driven work of the loop: the Mux clock, one-shot millisecond timers,
// deferred calls and timer-pool plugins.
//
// Times are 32-bit wall-clock milliseconds compared by signed difference,
// so ordering survives the wrap as long as expiries lie within ~24 days.
#ifndef VELMARD_CORE_TIMER_H
#define VELMARD_CORE_TIMER_H

#include <sys/select.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/multiplexer.h"
#include "core/recycle.h"

namespace Mux {

struct timeval {
  uint32_t tv_sec = 0;
  uint32_t tv_usec = 0;
};

// The frozen time of a pass; all-zero means the clock is live.
extern timeval g_tv_time;

void mux_gettimeofday(timeval& tv);
int gettimeval(timeval& tv);
// Freezes the clock at the current wall-clock time.
void mux_settimeofday();

uint32_t milliseconds();  // wraps about every 49.7 days
uint32_t microseconds();  // wraps about every 71.6 minutes
// The same scales of one reading, for a caller that needs both.
inline uint32_t milliseconds(const timeval& tv) {
  return uint32_t((uint64_t(tv.tv_sec) * 1000000 + tv.tv_usec) / 1000);
}
inline uint32_t microseconds(const timeval& tv) {
  return uint32_t(uint64_t(tv.tv_sec) * 1000000 + tv.tv_usec);
}
uint32_t seconds();

void timevaladd(timeval& a, const timeval& b);
void timevalsub(timeval& a, const timeval& b);
void timevaladd2(const timeval& a, const timeval& b, timeval& out);
void timevalsub2(const timeval& a, const timeval& b, timeval& out);
void timevalset(timeval& tv, uint64_t ms);
void make_from_msec(timeval& tv, unsigned ms);
void make_from_usec(timeval& tv, unsigned us);
// Milliseconds from a to b; 0 when b is earlier than a.
int64_t timevaldiff(const timeval& a, const timeval& b);
int timevalcompare(const timeval& a, const timeval& b);
// Local time "%Y-%m-%d %H:%M:%S" and ".%06u" microseconds.
std::string timevaltostring(const timeval& tv);

struct timeval_timer {
  timeval start;
  int period = 0;

  void init(const timeval& tv, int periodMs) {
    start = tv;
    period = periodMs;
  }
  void init_now(const timeval& tv) { start = tv; }
  bool is_expired(const timeval& now) const;
  void inc();
};

// An fd_set with its highest descriptor (negative when empty).
struct Set {
  Set() { clear(); }
  void clear() {
    FD_ZERO(&set);
    maxfd = -1;
  }
  void add(int fd) {
    FD_SET(fd, &set);
    if (fd > maxfd) maxfd = fd;
  }
  void remove(int fd) { FD_CLR(fd, &set); }
  bool is_set(int fd) const { return FD_ISSET(fd, &set); }

  fd_set set;
  int maxfd;
};

int max_fd(const Set& a, const Set& b);
int max_fd(const Set& a, const Set& b, const Set& c);
int select(Set& r, Set& w, Set& e, timeval& tmo);
int select(Set& r, Set& w, Set& e);
int select(Set& r, Set& w);
int select(Set& r);
int select_rd(Set& r, timeval& tmo);
int select_wr(Set& w, timeval& tmo);

}  // namespace Mux

// One scheduled expiry; the event object is the list node.
class TimerEvent : public F_dual_list_item<TimerEvent> {
 public:
  TimerEvent() = default;
  TimerEvent(const TimerEvent&) = delete;
  TimerEvent& operator=(const TimerEvent&) = delete;
  virtual ~TimerEvent() { reset(); }
  virtual void fire() = 0;

  // Re-arming a timer makes one event and drops another: their blocks are
  // recycled rather than taken from the heap each time.
  static void* operator new(std::size_t n) { return Recycle::take(n); }
  static void operator delete(void* p, std::size_t n) noexcept { Recycle::give(p, n); }

  void schedule(unsigned ms);
  void reset();
  int compare(const TimerEvent* other) const { return int32_t(expire - other->expire); }

  uint32_t expire = 0;
};

// Holds at most one scheduled event, like an auto pointer: re-arming
// replaces (and so cancels) the pending event, destruction cancels it.
class Timer {
 public:
  Timer() = default;
  explicit Timer(TimerEvent* ev) : ev_(ev) {}
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() { delete ev_; }

  void reset(TimerEvent* ev = nullptr);
  TimerEvent* release() {
    TimerEvent* e = ev_;
    ev_ = nullptr;
    return e;
  }
  TimerEvent* get() const { return ev_; }
  bool pending() const { return ev_ != nullptr; }
  explicit operator bool() const { return ev_ != nullptr; }

  template <class T>
  void set(unsigned ms, void (T::*member)(), typename NonDeduced<T>::type* object);
  template <class T>
  void set(unsigned ms, void (T::*member)(Timer*), typename NonDeduced<T>::type* object);

 private:
  TimerEvent* ev_ = nullptr;
};

// When due: leaves its Timer (so the call may re-arm it), calls the member,
// deletes itself.
template <class T>
class ObjTimerEvent1 : public TimerEvent {
 public:
  ObjTimerEvent1(Timer* owner, void (T::*member)(), T* object, unsigned ms)
      : owner(owner), member(member), object(object) {
    schedule(ms);
  }
  void fire() override {
    if (owner && owner->get() == this) owner->release();
    (object->*member)();
    delete this;
  }
  Timer* owner;
  void (T::*member)();
  T* object;
};

// The same, calling the member with the owning Timer.
template <class T>
class ObjTimerEvent2 : public TimerEvent {
 public:
  ObjTimerEvent2(Timer* owner, void (T::*member)(Timer*), T* object, unsigned ms)
      : owner(owner), member(member), object(object) {
    schedule(ms);
  }
  void fire() override {
    if (owner && owner->get() == this) owner->release();
    (object->*member)(owner);
    delete this;
  }
  Timer* owner;
  void (T::*member)(Timer*);
  T* object;
};

class SimpleTimerEvent1 : public TimerEvent {
 public:
  SimpleTimerEvent1(Timer* owner, void (*function)(), unsigned ms)
      : owner(owner), function(function) {
    schedule(ms);
  }
  void fire() override;
  Timer* owner;
  void (*function)();
};

template <class T>
void Timer::set(unsigned ms, void (T::*member)(), typename NonDeduced<T>::type* object) {
  reset(new ObjTimerEvent1<T>(this, member, object, ms));
}

template <class T>
void Timer::set(unsigned ms, void (T::*member)(Timer*), typename NonDeduced<T>::type* object) {
  reset(new ObjTimerEvent2<T>(this, member, object, ms));
}

class DpcHandler {
 public:
  virtual void Invoke() = 0;
  virtual ~DpcHandler() {}
};

class DpcHandler1 : public DpcHandler {
 public:
  explicit DpcHandler1(void (*function)()) : function(function) {}
  void Invoke() override {
    if (function) function();
  }
  void (*function)();
};

template <class T>
class TDpcHandler : public DpcHandler {
 public:
  TDpcHandler(T* object, void (T::*member)()) : object(object), member(member) {}
  void Invoke() override {
    if (member) (object->*member)();
  }
  T* object;
  void (T::*member)();
};

// Deferred call: while active it runs twice on every loop pass (after the
// due timers and again just before the poll); active calls run in
// ascending order of their Dpc objects' addresses.
class Dpc {
 public:
  Dpc() = default;
  explicit Dpc(DpcHandler* h) : handler(h) {}
  Dpc(const Dpc&) = delete;
  Dpc& operator=(const Dpc&) = delete;
  ~Dpc();

  // Takes ownership of the handler; the old one is deleted.
  void Bind(DpcHandler* h);
  template <class T>
  void Bind(typename NonDeduced<T>::type* object, void (T::*member)()) {
    Bind(new TDpcHandler<T>(object, member));
  }
  void Activate();
  void Deactivate();
  bool IsActive() const { return active; }

  DpcHandler* handler = nullptr;
  bool active = false;
};

// Adds its own next deadline to the loop's wait.
class TimerPoolPlugin {
 public:
  virtual ~TimerPoolPlugin() { timerUnhook(); }
  // Milliseconds to the next deadline; negative: none.
  virtual int timerPoll() = 0;

  void timerHook();
  void timerUnhook();

  bool hooked = false;
};

#endif  // VELMARD_CORE_TIMER_H
