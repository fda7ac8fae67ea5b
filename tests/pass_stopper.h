// Ends one pass of the daemon's loop: attached after the handlers under
// test, it is always ready, so the poll never blocks, and its turn comes
// once every handler before it had its own (one read each).
#ifndef VELMARD_TESTS_PASS_STOPPER_H
#define VELMARD_TESTS_PASS_STOPPER_H

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "core/multiplexer.h"

class PassStopper : public EventHandler {
 public:
  PassStopper() : ready_(::eventfd(1, EFD_CLOEXEC)) {}
  ~PassStopper() override { ::close(ready_); }
  void shedule_event(pollfd& p) override {
    p.fd = ready_;
    p.events = POLLIN;
  }
  void svc_event(short) override { multiplexer.terminate(); }

 private:
  int ready_;
};

#endif  // VELMARD_TESTS_PASS_STOPPER_H
