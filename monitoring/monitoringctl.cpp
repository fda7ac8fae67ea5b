#include "monitoring/monitoringctl.h"

#include <iostream>

#include "core/ext.h"
#include "core/traces.h"
#include "monitoring/defaults.h"

bool FramerDataHolder::Update(ACP::TrunkStatus const& status) {
  FramerDataHolder next;
  next.known = true;
  next.state = status.get_state().getValue();
  next.slips = status.get_slips().getValue();
  next.lossBF = status.get_lossBF().getValue();
  next.lossCarrier = status.get_lossCarrier().getValue();
  next.lossAIS = status.get_lossAIS().getValue();
  next.lossRAI = status.get_lossRAI().getValue();
  next.clockMaster = status.get_clockMaster().getValue();
  bool changed = !known || next.state != state || next.slips != slips || next.lossBF != lossBF ||
                 next.lossCarrier != lossCarrier || next.lossAIS != lossAIS ||
                 next.lossRAI != lossRAI || next.clockMaster != clockMaster;
  *this = next;
  return changed;
}

MonitoringCtl* MonitoringCtl::instance() {
  static MonitoringCtl monitoring;
  return &monitoring;
}

MonitoringCtl::MonitoringCtl() {
  framerRefresh_.Bind(this, &MonitoringCtl::OnFramerRefresh);
}

void MonitoringCtl::Configure(IniFile::File& file) {
  agents_.CreateInstances(file["snmpagent"]);
  agents_.Bind(this);
}

void MonitoringCtl::OnConnect() {
  doPowerCheck();
  sendPowerStatus();
  doControllerCheck();
}

void MonitoringCtl::OnDisconnect() {
  doControllerCheck();
}

bool MonitoringCtl::OnCommand(LGCP::Command const& cmd) {
  if (cmd.currentSelection() != LGCP::Command::e_display) return false;
  if (traces.monitoring_internal) std::clog << ext::header(this) << "display " << cmd << std::endl;
  Success();
  return true;
}

void MonitoringCtl::OnSignal(LGCP::Signal const& signal) {
  if (signal.currentSelection() != LGCP::Signal::e_trunkStatus) return;
  ACP::TrunkStatus const& status = signal.get_trunkStatus();
  // The SPI line interfaces report BRI trunks 0..7 on the same signal;
  // they have no framer here, and their numbers must not reach the E1 ones.
  if (status.get_type().getValue() != ACP::TrunkType::e1) return;
  int trunk = status.get_trunk().getValue();
  if (trunk < 0 || trunk >= framerCount) return;
  if (!framers_[trunk].Update(status)) return;
  framerChanged_[trunk] = true;
  framerRefresh_.Activate();
}

void MonitoringCtl::OnFramerRefresh() {
  framerRefresh_.Deactivate();
  ++framerRefreshes_;
  for (int i = 0; i < framerCount; ++i) {
    if (!framerChanged_[i]) continue;
    framerChanged_[i] = false;
    if (traces.monitoring_internal)
      std::clog << ext::header(this) << "framer " << i + 1 << " state "
                << ACP::TrunkState(framers_[i].state) << std::endl;
  }
}

FramerDataHolder const* MonitoringCtl::GetFramer(int number) const {
  if (number < 1 || number > framerCount) return nullptr;
  return &framers_[number - 1];
}

void MonitoringCtl::OnAgentConnect(SnmpAgentInstance& agent) {
  MON::Message refresh;
  Monitoring::MakeFullRefresh(&refresh);
  agent.Send(refresh);
}

void MonitoringCtl::doPowerCheck() {
  power_ = Monitoring::powerState;
}

void MonitoringCtl::sendPowerStatus() {
  LGCP::Signal signal;
  signal.select_power() = power_;
  SendSignal(signal);
}

void MonitoringCtl::doControllerCheck() {
  bool connected = false;
  controllerPresent_ = CheckServerConnection(connected) && connected;
}
