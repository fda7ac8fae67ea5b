#include "monitoring/defaults.h"

#include <arpa/inet.h>

#include <cstdlib>

namespace Monitoring {

IniFile::Symbol<AgentType> const agentTypeNames[] = {
    {"snmp", agentSnmp},
    {"web", agentWeb},
    {"console", agentConsole},
    {nullptr, agentSnmp},
};

bool SplitAgentHost(std::string const& text, std::string* address, unsigned short* port,
                    std::string* why) {
  std::string::size_type colon = text.find(':');
  std::string dotted = text.substr(0, colon);
  in_addr a;
  // inet_aton also takes "10.1" and "0x7f.1": only four decimal parts are
  // an address an operator meant.
  int dots = 0;
  for (char c : dotted) dots += c == '.';
  if (dots != 3 || ::inet_aton(dotted.c_str(), &a) == 0 ||
      dotted.find_first_not_of("0123456789.") != std::string::npos) {
    *why = "address is not a.b.c.d";
    return false;
  }
  unsigned long p = defaultAgentPort;
  if (colon != std::string::npos) {
    std::string digits = text.substr(colon + 1);
    p = digits.size() <= 5 ? std::strtoul(digits.c_str(), nullptr, 10) : 0;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || p == 0 ||
        p > 65535) {
      *why = "port is not 1..65535";
      return false;
    }
  }
  *address = dotted;
  *port = static_cast<unsigned short>(p);
  return true;
}

void MakeFullRefresh(MON::Message* msg) {
  msg->get_pdu().select_command().select_snmp_set();
}

}  // namespace Monitoring
