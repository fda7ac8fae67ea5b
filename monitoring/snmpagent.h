// The links to the external SNMP agent processes.
//
// Each occurrence of section "snmpagent" is one agent: a reconnecting TCP
// client carrying TPKT frames of PER-aligned MON::Messages. The daemon
// pushes item values and pings; the agent answers. A link that hears
// nothing from its agent for 30 s is dropped and reconnects.
#ifndef VELMARD_MONITORING_SNMPAGENT_H
#define VELMARD_MONITORING_SNMPAGENT_H

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "asn1/modules/MON.h"
#include "control/control.h"
#include "core/inifile.h"
#include "core/timer.h"
#include "monitoring/defaults.h"

class SnmpAgentInstance;

// Told when an agent link comes up, so that the agent gets the whole state.
class ISnmpAgentNotify {
 public:
  virtual ~ISnmpAgentNotify() {}
  virtual void OnAgentConnect(SnmpAgentInstance& agent) = 0;
};

class SnmpAgentInstance : public Control::Notify {
 public:
  typedef Monitoring::AgentType MonitoringAddressType;

  static constexpr unsigned pingPeriod = 5000;     // ms between pings
  static constexpr unsigned silenceLimit = 30000;  // ms without a word from the agent

  SnmpAgentInstance() {}
  ~SnmpAgentInstance() override;

  // Checks the occurrence and starts connecting. An occurrence the Reader
  // refuses, or whose host is no address, leaves the link idle; the reason
  // is on the standard error stream.
  void Activate(IniFile::SubSection& occurrence);
  void SetNotify(ISnmpAgentNotify* notify) { notify_ = notify; }

  // Control::Notify
  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(char const* data, int len) override;

  // Sends only while connected; each send arms the next ping and checks
  // that the agent has spoken lately.
  void Send(MON::Message const& msg);

  bool IsActive() const { return bool(connector_); }
  bool IsConnected() const;
  std::string const& GetName() const { return name_; }
  MonitoringAddressType GetType() const { return type_; }
  std::string const& GetAddress() const { return address_; }
  unsigned short GetPort() const { return port_; }

  void PutHeader(std::ostream& out) const { out << name_; }

 private:
  void OnPingTimer();
  void Stamp();

  std::string name_;
  std::string host_;
  MonitoringAddressType type_ = Monitoring::agentSnmp;
  std::string address_;
  unsigned short port_ = 0;
  std::unique_ptr<Control::ConnectorNet> connector_;
  ISnmpAgentNotify* notify_ = nullptr;
  Timer pingTimer_;
  uint32_t lastHeard_ = 0;
};

// Every agent link of the configuration, in file order.
class SnmpAgentCtrl {
 public:
  SnmpAgentCtrl() {}

  // One link per occurrence of the section; links made before are dropped.
  void CreateInstances(IniFile::Section& section);
  // Links already up when the listener arrives are reported to it at once.
  void Bind(ISnmpAgentNotify* notify);
  // To every connected agent.
  void Send(MON::Message const& msg);

  size_t count() const { return instances_.size(); }
  SnmpAgentInstance& at(size_t i) { return *instances_.at(i); }

 private:
  std::vector<std::unique_ptr<SnmpAgentInstance>> instances_;
};

#endif  // VELMARD_MONITORING_SNMPAGENT_H
