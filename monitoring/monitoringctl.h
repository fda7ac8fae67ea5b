// The monitoring service: the board state the controller and the SNMP
// agents are told about.
//
// Bound last to the control server, it answers `display`, tells a newly
// connected controller the power state, keeps the state of each E1 framer
// from the trunk status signals of the other services, and owns the links
// to the SNMP agents of the configuration file.
#ifndef VELMARD_MONITORING_MONITORINGCTL_H
#define VELMARD_MONITORING_MONITORINGCTL_H

#include <ostream>

#include "control/ctrlsrv.h"
#include "core/inifile.h"
#include "core/timer.h"
#include "monitoring/snmpagent.h"

// The last reported state of one E1 framer.
class FramerDataHolder {
 public:
  // True when the report differs from the one held (the first one always
  // does).
  bool Update(ACP::TrunkStatus const& status);

  bool known = false;
  ACP::TrunkState::NamedNumber state = ACP::TrunkState::unknown;
  int slips = 0;
  int lossBF = 0;
  int lossCarrier = 0;
  int lossAIS = 0;
  int lossRAI = 0;
  bool clockMaster = false;
};

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
 public:
  // E1 framers, numbered 1..framerCount after their trunks 0..framerCount-1.
  static constexpr int framerCount = 4;

  static MonitoringCtl* instance();

  MonitoringCtl();

  // One agent link per occurrence of section "snmpagent"; none when the
  // file did not open or lacks the section.
  void Configure(IniFile::File& file);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;
  void OnSignal(LGCP::Signal const& signal) override;

  void OnAgentConnect(SnmpAgentInstance& agent) override;

  void sendPowerStatus();
  void doPowerCheck();
  void doControllerCheck();

  // Framer 1..framerCount; null for any other number.
  FramerDataHolder const* GetFramer(int number) const;
  bool IsControllerPresent() const { return controllerPresent_; }
  LGCP::POWERStatus::NamedNumber GetPowerState() const { return power_; }
  unsigned GetFramerRefreshes() const { return framerRefreshes_; }
  SnmpAgentCtrl& GetAgents() { return agents_; }

  void PutHeader(std::ostream& out) const { out << "monitoring: "; }

 private:
  void OnFramerRefresh();

  SnmpAgentCtrl agents_;
  FramerDataHolder framers_[framerCount];
  bool framerChanged_[framerCount] = {};
  Dpc framerRefresh_;
  unsigned framerRefreshes_ = 0;
  bool controllerPresent_ = false;
  LGCP::POWERStatus::NamedNumber power_ = LGCP::POWERStatus::unknown;
};

#endif  // VELMARD_MONITORING_MONITORINGCTL_H
