#include "core/timer.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace Mux {

timeval g_tv_time;

static void wallclock(timeval& tv) {
  ::timeval now;
  ::gettimeofday(&now, nullptr);
  tv.tv_sec = uint32_t(now.tv_sec);
  tv.tv_usec = uint32_t(now.tv_usec);
}

void mux_gettimeofday(timeval& tv) {
  if (g_tv_time.tv_sec || g_tv_time.tv_usec)
    tv = g_tv_time;
  else
    wallclock(tv);
}

int gettimeval(timeval& tv) {
  mux_gettimeofday(tv);
  return 0;
}

void mux_settimeofday() {
  wallclock(g_tv_time);
}

uint32_t milliseconds() {
  timeval tv;
  mux_gettimeofday(tv);
  return milliseconds(tv);
}

uint32_t microseconds() {
  timeval tv;
  mux_gettimeofday(tv);
  return microseconds(tv);
}

uint32_t seconds() {
  timeval tv;
  mux_gettimeofday(tv);
  return tv.tv_sec;
}

void timevaladd(timeval& a, const timeval& b) {
  a.tv_sec += b.tv_sec;
  a.tv_usec += b.tv_usec;
  a.tv_sec += a.tv_usec / 1000000;
  a.tv_usec %= 1000000;
}

void timevalsub(timeval& a, const timeval& b) {
  int64_t u = int64_t(a.tv_usec) - int64_t(b.tv_usec) + 1000000;
  a.tv_sec = uint32_t(a.tv_sec - b.tv_sec - 1 + uint32_t(u / 1000000));
  a.tv_usec = uint32_t(u % 1000000);
}

void timevaladd2(const timeval& a, const timeval& b, timeval& out) {
  out = a;
  timevaladd(out, b);
}

void timevalsub2(const timeval& a, const timeval& b, timeval& out) {
  out = a;
  timevalsub(out, b);
}

void timevalset(timeval& tv, uint64_t ms) {
  tv.tv_sec = uint32_t(ms / 1000);
  tv.tv_usec = uint32_t(ms % 1000) * 1000;
}

void make_from_msec(timeval& tv, unsigned ms) {
  timevalset(tv, ms);
}

void make_from_usec(timeval& tv, unsigned us) {
  tv.tv_sec = us / 1000000;
  tv.tv_usec = us % 1000000;
}

int timevalcompare(const timeval& a, const timeval& b) {
  if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? -1 : 1;
  if (a.tv_usec != b.tv_usec) return a.tv_usec < b.tv_usec ? -1 : 1;
  return 0;
}

int64_t timevaldiff(const timeval& a, const timeval& b) {
  if (timevalcompare(b, a) < 0) return 0;
  return int64_t(b.tv_sec - a.tv_sec) * 1000 + (int64_t(b.tv_usec) - int64_t(a.tv_usec)) / 1000;
}

std::string timevaltostring(const timeval& tv) {
  time_t t = time_t(tv.tv_sec);
  struct tm lt;
  char date[64] = "";
  if (::localtime_r(&t, &lt)) ::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &lt);
  char text[96];
  std::snprintf(text, sizeof text, "%s.%06lu", date, static_cast<unsigned long>(tv.tv_usec));
  return text;
}

bool timeval_timer::is_expired(const timeval& now) const {
  return period >= 1 && timevaldiff(start, now) > period;
}

void timeval_timer::inc() {
  timeval p;
  make_from_msec(p, unsigned(period));
  timevaladd(start, p);
}

int max_fd(const Set& a, const Set& b) {
  return std::max(a.maxfd, b.maxfd);
}

int max_fd(const Set& a, const Set& b, const Set& c) {
  return std::max(max_fd(a, b), c.maxfd);
}

static fd_set* active_set(Set* s) {
  return s && s->maxfd >= 0 ? &s->set : nullptr;
}

static int do_select(Set* r, Set* w, Set* e, const timeval* tmo) {
  int top = -1;
  for (Set* s : {r, w, e})
    if (s) top = std::max(top, s->maxfd);
  ::timeval tv;
  if (tmo) {
    tv.tv_sec = tmo->tv_sec;
    tv.tv_usec = tmo->tv_usec;
  }
  return ::select(top + 1, active_set(r), active_set(w), active_set(e), tmo ? &tv : nullptr);
}

int select(Set& r, Set& w, Set& e, timeval& tmo) {
  return do_select(&r, &w, &e, &tmo);
}
int select(Set& r, Set& w, Set& e) {
  return do_select(&r, &w, &e, nullptr);
}
int select(Set& r, Set& w) {
  return do_select(&r, &w, nullptr, nullptr);
}
int select(Set& r) {
  return do_select(&r, nullptr, nullptr, nullptr);
}
int select_rd(Set& r, timeval& tmo) {
  return do_select(&r, nullptr, nullptr, &tmo);
}
int select_wr(Set& w, timeval& tmo) {
  return do_select(nullptr, &w, nullptr, &tmo);
}

}  // namespace Mux

// ---------------------------------------------------------------- timers

void TimerEvent::schedule(unsigned ms) {
  expire = Mux::milliseconds() + ms;
  multiplexer.set(this);
}

void TimerEvent::reset() {
  multiplexer.reset(this);
}

void Timer::reset(TimerEvent* ev) {
  if (ev == ev_) return;
  TimerEvent* old = ev_;
  ev_ = ev;
  delete old;
}

void SimpleTimerEvent1::fire() {
  if (owner && owner->get() == this) owner->release();
  if (function) function();
  delete this;
}

// -------------------------------------------------------- deferred calls

Dpc::~Dpc() {
  Deactivate();
  delete handler;
}

void Dpc::Bind(DpcHandler* h) {
  if (h == handler) return;
  delete handler;
  handler = h;
}

void Dpc::Activate() {
  if (!active) multiplexer.attach(this);
  active = true;
}

void Dpc::Deactivate() {
  if (active) multiplexer.dettach(this);
  active = false;
}

// --------------------------------------------------------------- plugins

void TimerPoolPlugin::timerHook() {
  if (hooked) return;
  multiplexer.hook(this);
  hooked = true;
}

void TimerPoolPlugin::timerUnhook() {
  if (!hooked) return;
  multiplexer.unhook(this);
  hooked = false;
}
