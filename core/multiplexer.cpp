#include "core/multiplexer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <list>
#include <vector>

#include "core/ext.h"
#include "core/timer.h"

Multiplexer multiplexer;

namespace {

const char kWatchdogDevice[] = "/dev/misc/gw-wd";
const int kNoDeadline = INT_MAX;
// A wait longer than this means the wall clock was set back.
const uint32_t kMaxTimerWait = 7200000;
const uint32_t kClockRepairDelay = 1000;
const int kWatchdogMaxWait = 1000;
const uint32_t kWatchdogPingPeriod = 999;

}  // namespace

// Everything the loop owns. It lives on the heap from the first use on and
// is never freed, so the loop works during static initialisation and in
// every exit handler.
struct Multiplexer::State {
  F_sorted_list<TimerEvent> timers;
  F_dual_list<EventHandler> pending;    // attached since the last pass began
  F_dual_list<EventHandler> inService;  // already called in this dispatch
  F_dual_list<EventHandler> active;     // polled, in attach order
  std::vector<pollfd> pollfds;          // record i belongs to active handler i
  bool pollsetStale = false;            // an active handler left after the build

  std::list<Dpc*> dpcs;
  std::list<Dpc*> dpcRun;
  // Nodes of the working copy kept between runs, so a run allocates none.
  std::list<Dpc*> dpcSpare;

  Measure dpcMeasure;
  Measure eventMeasure;
  Measure timerMeasure;

  std::list<TimerPoolPlugin*> plugins;
  TimerPollNotify* walk = nullptr;
};

Multiplexer::State& Multiplexer::st() const {
  if (!state) state = new State;
  return *state;
}

// ---------------------------------------------------------- EventHandler

EventHandler::~EventHandler() {
  mux_detach();
}

void EventHandler::mux_attach() {
  if (!attached) multiplexer.attach(this);
}

void EventHandler::mux_detach() {
  if (attached) multiplexer.detach(this);
}

// ----------------------------------------------------------------- Event

Event::~Event() {
  delete handler;
  handler = nullptr;
  mux_detach();
}

void Event::Bind(Handler* h) {
  if (h == handler) return;
  delete handler;
  handler = h;
}

void Event::UnBind() {
  delete handler;
  handler = nullptr;
}

void Event::Schedule(const Fd& source, short mask) {
  if (scheduled()) mux_detach();
  if (&source != &fd) fd.reset(source.dup());
  events = mask;
  if (scheduled()) mux_attach();
}

void Event::Schedule(int source, short mask) {
  Fd view(source);
  Schedule(view, mask);
  view.release();
}

void Event::Release() {
  if (scheduled()) mux_detach();
  fd.close();
}

void Event::shedule_event(pollfd& p) {
  p.fd = fd.get();
  p.events = events;
}

void Event::svc_event(short r) {
  if (r & events) ++count;
  // The handler may destroy this event: nothing is touched after it.
  if (handler) handler->Invoke(fd.get(), r);
}

std::string PollEventAsText(short events) {
  static const struct {
    short bit;
    const char* text;
  } names[] = {
      {POLLIN, "|POLLIN"},         {POLLPRI, "|POLLPRI"},       {POLLOUT, "|POLLOUT"},
      {POLLERR, "|POLLERR"},       {POLLHUP, "|POLLHUP"},       {POLLNVAL, "|POLLNVAL"},
      {POLLRDNORM, "|POLLRDNORM"}, {POLLRDBAND, "|POLLRDBAND"}, {POLLWRNORM, "|POLLWRNORM"},
      {POLLWRBAND, "|POLLWRBAND"}, {POLLMSG, "|POLLMSG"},
  };
  std::string text;
  for (const auto& n : names)
    if (events & n.bit) text += n.text;
  return text.empty() ? text : text.substr(1);
}

// ------------------------------------------------------- attach / detach

void Multiplexer::attach(EventHandler* h) {
  if (event_exists(h)) {
    std::cerr << "duplicate multiplexer attach " << ext::quoted(h->event_name()) << " ignored."
              << std::endl;
    return;
  }
  st().pending.insert_to_tail(h);
  h->attached = true;
}

void Multiplexer::detach(EventHandler* h) {
  State& s = st();
  if (s.pending.contains(h)) {
    s.pending.remove(h);
  } else if (s.inService.contains(h)) {
    s.inService.remove(h);
  } else if (s.active.contains(h)) {
    s.active.remove(h);
    s.pollsetStale = true;
  } else {
    std::cerr << "indvalid Multiplexer::detach " << h->event_name() << std::endl;
    return;
  }
  h->attached = false;
}

bool Multiplexer::event_exists(EventHandler* h) const {
  const State& s = st();
  return s.pending.contains(h) || s.inService.contains(h) || s.active.contains(h);
}

// ------------------------------------------------------------------ run

void Multiplexer::run(bool withWatchdog, bool liveClock) {
  State& s = st();
  terminated = 0;
  if (withWatchdog) open_watchdog();
  if (!liveClock) Mux::mux_settimeofday();

  bool firstPass = true;
  uint32_t lastPing = 0;
  while (!terminated) {
    // 1-3. The wait: the nearer of the next timer and the plugins'
    // deadlines; -1 waits without limit.
    int wait = timers_schedule();
    int pluginWait = timerPoll_schedule();
    if (pluginWait != kNoDeadline && (wait < 0 || pluginWait < wait)) wait = pluginWait;

    // 4-5. Handlers attached since the last pass join the poll set.
    while (EventHandler* h = s.pending.remove_from_head()) s.active.insert_to_tail(h);
    build_pollset();

    // 6. Nothing could ever wake us up, unless a timer of this pass
    // already asked us to stop.
    if (wait < 0 && s.pollfds.empty() && !terminated) hang();

    // 7. The board resets itself when it hears nothing for too long.
    if (watchdog >= 0 && (wait < 0 || wait > kWatchdogMaxWait)) wait = kWatchdogMaxWait;

    // 8. Deferred calls again, just before sleeping. They may have
    // detached polled handlers or armed a nearer timer.
    execute_dpc();
    if (s.pollsetStale) build_pollset();
    // The clock is read only when there is a timer to measure against.
    int timerWait = s.timers.front() ? next_timer_wait(Mux::milliseconds()) : -1;
    if (timerWait >= 0 && (wait < 0 || timerWait < wait)) wait = timerWait;
    if (wait < 0 && s.pollfds.empty() && !terminated) hang();

    // 9-10. A stop requested by a timer or deferred call of this pass
    // need not wait for the poll.
    int ready = terminated ? 0 : ::poll(s.pollfds.data(), s.pollfds.size(), wait);
    int pollErrno = errno;
    if (!liveClock) Mux::mux_settimeofday();

    // 11. Ping at least once a second, and at once after the clock
    // went back.
    // Without a watchdog there is nothing to ping, nor a clock to read.
    if (watchdog >= 0) {
      uint32_t now = Mux::milliseconds();
      if (firstPass || now < lastPing || now - lastPing > kWatchdogPingPeriod) {
        firstPass = false;
        lastPing = now;
        resetWD();
      }
    }

    // 12.
    if (ready < 0) {
      if (pollErrno == EINTR) continue;
      std::cerr << "multiplexer poll failed: " << std::strerror(pollErrno) << std::endl;
      std::abort();
    }
    // 13.
    if (ready > 0) dispatch();
  }

  std::clog << "Mux: terminating..." << std::endl;
  close_watchdog();
}

void Multiplexer::build_pollset() {
  State& s = st();
  if (s.pollfds.size() != s.active.size()) s.pollfds.resize(s.active.size());
  size_t i = 0;
  for (EventHandler& h : s.active) {
    pollfd& p = s.pollfds[i++];
    p = pollfd();
    h.shedule_event(p);
  }
  s.pollsetStale = false;
}

void Multiplexer::hang() {
  std::cerr << "multiplexer: system hang detected!!!" << std::endl;
  std::abort();
}

// Every active handler is called in attach order with its own returned
// events, 0 included; each tests its own bits. A called handler already
// sits in the in-service list, so it may detach or delete itself.
void Multiplexer::dispatch() {
  State& s = st();
  size_t i = 0;
  for (EventHandler& h : s.active) h.revents = s.pollfds[i++].revents;

  // One clock reading ends a call's measure and starts the next one's.
  uint32_t now = s.active.empty() ? 0 : Mux::microseconds();
  while (!terminated && !s.active.empty()) {
    EventHandler* h = s.active.remove_from_head();
    s.inService.insert_to_tail(h);
    s.eventMeasure.begin_at(now);
    h->svc_event();
    now = Mux::microseconds();
    s.eventMeasure.end_at(now);
  }
  // A stop ends the dispatch early; the handlers not called keep their
  // place behind those called, so a later run polls them all in order.
  while (EventHandler* h = s.active.remove_from_head()) s.inService.insert_to_tail(h);
  s.active.merge(s.inService);
}

// -------------------------------------------------------------- watchdog

void Multiplexer::open_watchdog() {
  int fd = ::open(kWatchdogDevice, O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << "Mux: fail to open watchdog: " << std::strerror(errno) << std::endl;
    return;
  }
  if (::write(fd, "START", 5) != 5) {
    std::cerr << "Mux: fail to activate watchdog: " << std::strerror(errno) << std::endl;
    ::close(fd);
    return;
  }
  watchdog = fd;
}

void Multiplexer::resetWD() {
  if (watchdog < 0) return;
  if (::write(watchdog, "PING", 4) != 4)
    std::cerr << "Mux: ping watchdog failed: " << std::strerror(errno) << std::endl;
}

void Multiplexer::close_watchdog() {
  if (watchdog < 0) return;
  if (::write(watchdog, "STOP", 4) != 4)
    std::cerr << "Mux: stop watchdog failed: " << std::strerror(errno) << std::endl;
  ::close(watchdog);
  watchdog = -1;
}

// ------------------------------------------------------------------ dump

void Multiplexer::dump(std::ostream& out) const {
  const State& s = st();
  out << "dpc transition measurement (min/max/cur/counter): " << s.dpcMeasure << std::endl;
  out << "event transition measurement (min/max/cur/counter): " << s.eventMeasure << std::endl;
  out << "timer transition measurement (min/max/cur/counter): " << s.timerMeasure << std::endl;

  Profile::dump(out);

  ext::Table table(40, 30, 10, 10, 5, 60);
  ext::Table::Sentry t(out, table);
  t << ext::delimeter << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow
    << "count" << ext::nextrow << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure"
    << ext::nextrow << ext::delimeter;
  for (const EventHandler& h : s.active) {
    if (!h.is_named()) continue;
    const Event* e = dynamic_cast<const Event*>(&h);
    if (!e) continue;
    t << ext::beginrow << e->event_name() << ext::nextrow << PollEventAsText(e->events)
      << ext::nextrow << e->count << ext::nextrow << (e->handler ? "attached" : "unattached")
      << ext::nextrow << e->fd.get() << ext::nextrow << e->measure << ext::nextrow;
  }
  t << ext::delimeter;
  out << std::endl;
}

// ---------------------------------------------------------------- timers

void Multiplexer::set(TimerEvent* t) {
  reset(t);
  st().timers.insert_to_tail_by_grown(t);
}

void Multiplexer::reset(TimerEvent* t) {
  State& s = st();
  if (s.timers.contains(t)) s.timers.remove(t);
}

unsigned Multiplexer::timers_count() const {
  return st().timers.count();
}

int Multiplexer::timers_schedule() {
  State& s = st();
  uint32_t now = Mux::milliseconds();
  // Timers armed by a fire() enter the list in order and fire in this
  // same loop when already due against now.
  while (TimerEvent* t = s.timers.front()) {
    if (int32_t(now - t->expire) < 0) break;
    s.timers.remove(t);
    s.timerMeasure.begin();
    t->fire();
    s.timerMeasure.end();
  }
  execute_dpc();
  return next_timer_wait(now);
}

int Multiplexer::next_timer_wait(uint32_t now) {
  State& s = st();
  TimerEvent* first = s.timers.front();
  if (!first) return -1;
  if (int32_t(first->expire - now) <= 0) return 0;
  uint32_t wait = first->expire - now;
  if (wait <= kMaxTimerWait) return int(wait);

  // The first timer lies more than two hours ahead: the wall clock was
  // set back. Rather than sleep for hours, let every timer run soon.
  std::cerr << "******** RUNTIME ERROR CONDITION *************"
            << "Multiplexer::timers_schedule() invalid wait time detected!" << std::endl
            << "now = " << now << std::endl
            << "first = " << first->expire << std::endl
            << "count = " << s.timers.count() << std::endl;
  for (TimerEvent& t : s.timers) t.expire = now + kClockRepairDelay;
  return int(kClockRepairDelay);
}

// -------------------------------------------------------- deferred calls

void Multiplexer::attach(Dpc* d) {
  State& s = st();
  s.dpcs.push_back(d);
  s.dpcs.sort();
  s.dpcs.unique();
}

void Multiplexer::dettach(Dpc* d) {
  State& s = st();
  s.dpcs.remove(d);
  s.dpcRun.remove(d);
}

void Multiplexer::execute_dpc() {
  State& s = st();
  // A call deactivated during the run leaves the copy and does not run;
  // one activated during the run first runs in the next run.
  if (s.dpcRun.empty()) {
    s.dpcRun.splice(s.dpcRun.end(), s.dpcSpare);
    auto at = s.dpcRun.begin();
    for (Dpc* d : s.dpcs) {
      if (at != s.dpcRun.end())
        *at++ = d;
      else
        s.dpcRun.push_back(d);
    }
    s.dpcSpare.splice(s.dpcSpare.end(), s.dpcRun, at, s.dpcRun.end());
  } else {
    s.dpcRun = s.dpcs;
  }
  // One clock reading ends a call's measure and starts the next one's.
  bool timing = false;
  uint32_t now = 0;
  while (!s.dpcRun.empty()) {
    Dpc* d = s.dpcRun.front();
    s.dpcSpare.splice(s.dpcSpare.begin(), s.dpcRun, s.dpcRun.begin());
    if (!d->handler) continue;
    if (!timing) now = Mux::microseconds();
    s.dpcMeasure.begin_at(now);
    d->handler->Invoke();
    now = Mux::microseconds();
    s.dpcMeasure.end_at(now);
    timing = true;
  }
}

// --------------------------------------------------------------- plugins

namespace {

class PluginWalk : public Multiplexer::TimerPollNotify {
 public:
  explicit PluginWalk(std::list<TimerPoolPlugin*>& plugins) : plugins(plugins) {}
  void removeTimerPoolPlugin(TimerPoolPlugin* p) override {
    plugins.remove(p);
    pending.remove(p);
  }
  std::list<TimerPoolPlugin*>& plugins;
  std::list<TimerPoolPlugin*> pending;
};

}  // namespace

void Multiplexer::hook(TimerPoolPlugin* p) {
  st().plugins.push_back(p);
}

void Multiplexer::unhook(TimerPoolPlugin* p) {
  State& s = st();
  if (s.walk)
    s.walk->removeTimerPoolPlugin(p);
  else
    s.plugins.remove(p);
}

int Multiplexer::timerPoll_schedule() {
  State& s = st();
  PluginWalk walk(s.plugins);
  s.walk = &walk;
  walk.pending.swap(s.plugins);
  int result = kNoDeadline;
  while (!walk.pending.empty()) {
    TimerPoolPlugin* p = walk.pending.front();
    walk.pending.pop_front();
    s.plugins.push_back(p);
    int d = p->timerPoll();
    if (d >= 0 && d < result) result = d;
  }
  s.walk = nullptr;
  return result;
}
