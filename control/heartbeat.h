// The controller's liveness watch.
//
// Bound first to the control server, it sees every dispatched command:
// each one restarts the watch, `ping` is answered here and goes no
// further, and a controller silent for the whole period is dropped, which
// makes every service clean up as for any disconnect.
#ifndef VELMARD_CONTROL_HEARTBEAT_H
#define VELMARD_CONTROL_HEARTBEAT_H

#include <ostream>

#include "control/ctrlsrv.h"
#include "core/timer.h"

class HeartBeatCtl : public CtrlSrv::Service {
 public:
  static constexpr unsigned defaultTimeout = 120000;  // ms

  static HeartBeatCtl* instance();

  explicit HeartBeatCtl(unsigned timeoutMs = defaultTimeout) : timeout_(timeoutMs) {}
  ~HeartBeatCtl() override {}

  void OnConnect() override {}
  void OnDisconnect() override { watch_.reset(); }
  bool OnCommand(LGCP::Command const& cmd) override;

  void ResetTimeOut();
  void OnHeartbeatTimeout(Timer*);
  bool Watching() const { return watch_.pending(); }

  void PutHeader(std::ostream& out) const { out << "heartbeat: "; }

 private:
  unsigned timeout_;
  Timer watch_;
};

#endif  // VELMARD_CONTROL_HEARTBEAT_H
