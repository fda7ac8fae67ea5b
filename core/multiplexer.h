// The daemon's one poll() loop and what it polls.
//
// Everything runs in one thread inside Multiplexer::run on the global
// `multiplexer`: due timers, deferred calls (core/timer.h), and every
// attached EventHandler, normally an Event with a bound member callback.
#ifndef VELMARD_CORE_MULTIPLEXER_H
#define VELMARD_CORE_MULTIPLEXER_H

#include <poll.h>

#include <csignal>
#include <cstdint>
#include <ostream>
#include <string>

#include "core/dual_list.h"
#include "core/fd.h"
#include "core/profile.h"

class TimerEvent;
class Dpc;
class TimerPoolPlugin;

// Keeps a template parameter out of deduction: callback makers deduce the
// owner class from the member alone, so a base-class member can be bound
// with a derived `this`.
template <class T>
struct NonDeduced {
  typedef T type;
};

// Anything the loop polls.
class EventHandler : public F_dual_list_item<EventHandler> {
 public:
  EventHandler() = default;
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;
  // Detaches a handler still attached, so the loop never keeps a
  // pointer to a dead object.
  virtual ~EventHandler();

  // Fills the poll record before each poll.
  virtual void shedule_event(pollfd& p) = 0;
  // Called on every dispatch, with this handler's own returned events.
  virtual void svc_event(short revents) = 0;
  virtual std::string event_name() const { return "unknown"; }
  virtual bool is_named() const { return false; }

  void mux_attach();
  void mux_detach();
  void svc_event() { svc_event(revents); }

  bool attached = false;  // kept by Multiplexer::attach and detach
  short revents = 0;      // of the last poll
};

// A descriptor, a poll mask and a callback. The event polls its own
// duplicate of the descriptor, so the caller keeps and closes its Fd
// independently.
class Event : public EventHandler {
 public:
  class Handler {
   public:
    virtual ~Handler() {}
    virtual void Invoke(int fd, short revents) = 0;
  };

  template <class T>
  class THandler : public Handler {
   public:
    typedef void (T::*Action)(int, short);
    THandler(Action member, T* object) : member(member), object(object) {}
    void Invoke(int fd, short revents) override {
      if (member) (object->*member)(fd, revents);
    }
    Action member;
    T* object;
  };

  Event() = default;
  ~Event() override;

  // Takes ownership of the handler; the old one is deleted.
  void Bind(Handler* h);
  void UnBind();
  template <class T>
  void Bind(const std::string& eventName, typename THandler<T>::Action member, T* object) {
    name = eventName;
    Bind(new THandler<T>(member, object));
  }

  // Polls a duplicate of fd for the mask; re-scheduling moves the event
  // to the tail of the attach order.
  void Schedule(const Fd& fd, short events);
  // The same for a descriptor the caller owns (it is duplicated too).
  void Schedule(int fd, short events);
  // Detaches from the loop and closes the own descriptor.
  void Release();

  void shedule_event(pollfd& p) override;
  void svc_event(short revents) override;
  std::string event_name() const override { return name; }
  bool is_named() const override { return true; }

  bool scheduled() const { return fd.get() >= 0; }

  Handler* handler = nullptr;
  Fd fd;
  short events = 0;
  std::string name = "Unknown";
  unsigned count = 0;
  Measure measure;
};

// The names of the set poll bits joined by "|"; empty for 0.
std::string PollEventAsText(short events);

class Multiplexer {
 public:
  // The loop's plugin walk implements this, so a plugin unhooked during
  // the walk leaves it too.
  class TimerPollNotify {
   public:
    virtual ~TimerPollNotify() {}
    virtual void removeTimerPoolPlugin(TimerPoolPlugin* p) = 0;
  };

  // Constant-initialised and never destroyed: exit handlers of other
  // units still detach, reset and deactivate through it.
  constexpr Multiplexer() noexcept {}

  // Descriptor handlers.
  void attach(EventHandler* h);
  void detach(EventHandler* h);
  bool event_exists(EventHandler* h) const;

  // Runs until terminate(). With the watchdog, the board's watchdog is
  // started, pinged at least once a second and stopped on return.
  void run(bool watchdog, bool liveClock);
  // Safe from a signal handler: sets one flag.
  void terminate() { terminated = 1; }
  bool is_terminated() const { return terminated != 0; }
  // Pings the watchdog when it is open; also for code that blocks the
  // loop for a while (synchronous socket writes).
  void resetWD();
  void dump(std::ostream& out) const;

  // Timers (core/timer.h).
  void set(TimerEvent* t);
  void reset(TimerEvent* t);
  // Fires the due timers, runs the deferred calls and returns the wait
  // until the next timer: 0 when one is already due, -1 when none is
  // pending.
  int timers_schedule();
  unsigned timers_count() const;

  // Deferred calls (core/timer.h).
  void attach(Dpc* d);
  void dettach(Dpc* d);
  void execute_dpc();

  // Timer-pool plugins (core/timer.h).
  void hook(TimerPoolPlugin* p);
  void unhook(TimerPoolPlugin* p);
  // The smallest plugin deadline in ms; 2147483647 when none has one.
  int timerPoll_schedule();

 private:
  struct State;
  State& st() const;
  void build_pollset();
  [[noreturn]] static void hang();
  void dispatch();
  int next_timer_wait(uint32_t now);
  void open_watchdog();
  void close_watchdog();

  mutable State* state = nullptr;
  volatile sig_atomic_t terminated = 0;
  int watchdog = -1;
};

extern Multiplexer multiplexer;

#endif  // VELMARD_CORE_MULTIPLEXER_H
