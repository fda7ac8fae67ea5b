// The board's four E1 trunks: their synchronisation status, reported to the
// controller once a second as `trunkStatus` signals, the trunks that take
// their transmit clock from the line (`trunkCfg`), and channel-associated
// signalling (CAS) on trunk timeslots, driven by `ioctl` commands and
// reported as `cas` signals.
//
// Every signal goes through the control server, which first offers it to
// the other bound services: this is how the slots and the monitoring learn
// the state of the trunks.
#ifndef VELMARD_HARDWARE_E1CTL_H
#define VELMARD_HARDWARE_E1CTL_H

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "control/ctrlsrv.h"
#include "core/fd.h"
#include "core/multiplexer.h"
#include "core/timer.h"

// The CAS driver's channel record; events read from "/dev/e1-cas" are these.
struct cas_channel {
  int32_t trunk;
  int32_t channel;  // timeslot
  uint8_t rx;
  uint8_t tx;
  uint8_t reserved[2];
};
static_assert(sizeof(cas_channel) == 12 && offsetof(cas_channel, rx) == 8 &&
                  offsetof(cas_channel, tx) == 9,
              "cas_channel is the driver's 12-byte record");

// Copies trunk to path and channel to timeslot.
void Assign(LGCP::CasChannel& to, cas_channel const& from);

class E1Ctl : public CtrlSrv::Service {
 public:
  static constexpr int kTrunks = 4;
  static constexpr unsigned kStatusPeriod = 1000;  // ms

  static E1Ctl* instance();

  E1Ctl();
  ~E1Ctl() override;

  // Reports every trunk at once and starts the status cycle, which then
  // runs until exit; every trunk becomes a clock master again.
  void OnConnect() override;
  // Closes CAS on every trunk this controller opened.
  void OnDisconnect() override;
  // Takes `trunkCfg` and every `ioctl` the services before it left; both
  // are answered with success whatever the hardware did: CAS outcomes
  // reach the controller as `cas` signals.
  bool OnCommand(LGCP::Command const& cmd) override;

  void SendStatus();
  void SetTimer();
  void OnCheckStatus(Timer*);
  void SetMode(LGCP::TrunkCfg const& cfg);
  void UpdateTclk();
  void select_source(int value);
  // True when "/dev/maintenance" is open, opening it first when it is not.
  bool IsOpen();
  // True when "/dev/e1-cas" is open, opening it (and polling it) first.
  bool CheckOpenCas();
  void OnUpdateCas(int fd, short events);
  void SendCASSignal(int trunk, int channel, int rx, int tx);
  // A trunk-level report in rx: 0 open, 1 closed, negative the failed
  // request's result.
  void SendCASTrunkStatus(int trunk, int status);
  void HandleCas(LGCP::IoctlParams const& params);
  void HandleCasOpen(cas_channel const& ch, int bits);
  void HandleCasClose(cas_channel const& ch);
  void HandleCasSet(cas_channel const& ch, int bits);
  void HandleCasGet(cas_channel const& ch);

  void PutHeader(std::ostream& out) const { out << "E1: "; }

 private:
  // Sends (trunk, channel, rx, tx) as the get request returns them, or the
  // request's result in rx when it fails.
  void ReportBits(cas_channel const& ch);

  int maintenance_ = -1;
  Timer statusTimer_;
  Fd cas_;
  Event casEvent_;
  int casOpen_[kTrunks] = {0, 0, 0, 0};
  unsigned tclk_ = 0;
};

#endif  // VELMARD_HARDWARE_E1CTL_H
