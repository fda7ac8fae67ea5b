#include "monitoring/snmpagent.h"

#include <iostream>
#include <iterator>

#include "asn1/coder_env.h"
#include "core/ext.h"
#include "core/inireader.h"
#include "core/traces.h"

// A deactivated connector tells its user nothing more.
SnmpAgentInstance::~SnmpAgentInstance() {
  if (connector_) connector_->Deactivate();
}

void SnmpAgentInstance::Activate(IniFile::SubSection& occurrence) {
  IniFile::Reader reader("snmpagent: ", std::cerr);
  reader.required.add(&host_, "host");
  reader.required.add(&name_, "name");
  reader.required.add(&type_, "name", Monitoring::agentTypeNames);
  if (!reader.parse(occurrence)) return;

  // A host the connector could not read would have it knock at 0.0.0.0
  // forever; such a link stays idle instead, and says why.
  std::string why;
  if (!Monitoring::SplitAgentHost(host_, &address_, &port_, &why)) {
    std::cerr << "snmpagent: required key \"host\" has invalid value=\"" << host_ << "\" (" << why
              << "), line " << occurrence["host"].first()->line() << std::endl;
    return;
  }
  connector_.reset(new Control::ConnectorNet(address_, port_));
  connector_->service_name(name_);
  connector_->Bind(this);
  connector_->Activate();
}

bool SnmpAgentInstance::IsConnected() const {
  return connector_ && connector_->GetState() == Control::Service::State::Connected;
}

void SnmpAgentInstance::Stamp() {
  lastHeard_ = Mux::milliseconds();
}

void SnmpAgentInstance::OnConnect() {
  std::clog << ext::header(this) << ": connected." << std::endl;
  Stamp();
  if (notify_) notify_->OnAgentConnect(*this);
}

// A link that is down has nothing to ping: only the connector's retry is
// left on the loop.
void SnmpAgentInstance::OnDisconnect() {
  std::clog << ext::header(this) << ": connection lost, reset snmpagent instance" << std::endl;
  pingTimer_.reset();
}

void SnmpAgentInstance::OnMessage(char const* data, int len) {
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  MON::Message msg;
  if (!ASN1::decode(data, data + (len > 0 ? len : 0), &env, msg, true)) {
    std::cerr << ext::header(this) << ": receive : decode error!" << std::endl;
    return;
  }
  // Whatever the agent says proves it alive, a ping answer above all: a
  // link that only counted its connect time would drop a healthy agent
  // every 30 s.
  Stamp();
  if (traces.monitoring_internal)
    std::clog << ext::header(this) << ": receive " << msg << std::endl;
}

void SnmpAgentInstance::Send(MON::Message const& msg) {
  if (!IsConnected()) return;
  std::vector<char> out;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  if (!ASN1::encode(msg, &env, std::back_inserter(out))) {
    std::cerr << ext::header(this) << ": encode MON message fail!!!" << std::endl;
    return;
  }
  if (traces.monitoring_internal) std::clog << ext::header(this) << ": send " << msg << std::endl;
  connector_->Send(out.data(), int(out.size()));
  pingTimer_.set(pingPeriod, &SnmpAgentInstance::OnPingTimer, this);
  // Signed, as all loop times: a clock set back is no silence.
  if (int32_t(Mux::milliseconds() - lastHeard_) > int32_t(silenceLimit)) {
    std::cerr << ext::header(this) << ": ping timeout !!!" << std::endl;
    connector_->Disconnect();
  }
}

void SnmpAgentInstance::OnPingTimer() {
  MON::Message ping;
  ping.get_pdu().select_command().select_ping();
  Send(ping);
}

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
  instances_.clear();
  for (IniFile::SubSection& occurrence : section) {
    instances_.emplace_back(new SnmpAgentInstance);
    instances_.back()->Activate(occurrence);
  }
}

void SnmpAgentCtrl::Bind(ISnmpAgentNotify* notify) {
  for (auto& agent : instances_) {
    agent->SetNotify(notify);
    if (notify && agent->IsConnected()) notify->OnAgentConnect(*agent);
  }
}

void SnmpAgentCtrl::Send(MON::Message const& msg) {
  for (auto& agent : instances_) agent->Send(msg);
}
