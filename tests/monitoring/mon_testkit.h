// MON messages as an SNMP agent reads and answers them (PER aligned).
#pragma once

#include <iterator>

#include "asn1/coder_env.h"
#include "asn1/modules/MON.h"
#include "control/ctrl_testkit.h"

namespace montest {

// The command alternative of the next frame; -1: none, or an snmp-set with items.
inline int NextCommand(int fd, int limitMs) {
  std::vector<unsigned char> b;
  MON::Message m;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  if (!ctrltest::ReadFrame(fd, b, limitMs)) return -1;
  auto p = reinterpret_cast<char const*>(b.data());
  if (!ASN1::decode(p, p + b.size(), &env, m, true)) return -1;
  MON::Command const& c = m.get_pdu().get_command();
  if (c.currentSelection() == MON::Command::e_snmp_set && c.get_snmp_set().get_commands().size())
    return -1;
  return c.currentSelection();
}

inline std::vector<unsigned char> PingAnswer() {
  MON::Message m;
  m.get_pdu().select_response().select_ping().select_success();
  std::vector<unsigned char> out;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  env.encode(m, std::back_inserter(out));
  return out;
}

}  // namespace montest
