// The conventions of the SNMP agent feed that no peer dictates, gathered
// here so that each is decided once: the agent address form and its default
// port, the agent type names, what a newly connected agent is sent and the
// power state reported to the controller. README.md ("Configuration")
// documents the same values for the operator.
#ifndef VELMARD_MONITORING_DEFAULTS_H
#define VELMARD_MONITORING_DEFAULTS_H

#include <string>

#include "asn1/modules/LGCP.h"
#include "asn1/modules/MON.h"
#include "core/inireader.h"

namespace Monitoring {

// Port of an agent whose "host" names no port.
constexpr unsigned short defaultAgentPort = 20161;

// Splits "a.b.c.d[:port]" into the dotted address and the port. False, with
// the reason in *why, for anything else: a name to resolve, a port that is
// not a number in 1..65535, trailing text.
bool SplitAgentHost(std::string const& text, std::string* address, unsigned short* port,
                    std::string* why);

// The kinds of agent a link may feed, named by the occurrence's "name".
enum AgentType : int { agentSnmp = 0, agentWeb = 1, agentConsole = 2 };

// "snmp", "web", "console"; the Reader also takes the bare numbers.
extern IniFile::Symbol<AgentType> const agentTypeNames[];

// The board reports no power supply state to this daemon.
constexpr LGCP::POWERStatus::NamedNumber powerState = LGCP::POWERStatus::unknown;

// What a newly connected agent is sent first: one snmp-set command. The
// daemon keeps no published items, so the set is empty; it still tells the
// agent that everything it holds is the whole picture.
void MakeFullRefresh(MON::Message* msg);

}  // namespace Monitoring

#endif  // VELMARD_MONITORING_DEFAULTS_H
