// The controller's side of the board's services: commands written in value
// notation, and what comes back told in one short line.
#ifndef VELMARD_TESTS_HARDWARE_BOARD_MSGS_H
#define VELMARD_TESTS_HARDWARE_BOARD_MSGS_H

#include <sstream>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/modules/ACP.h"
#include "asn1/modules/LGCP.h"

namespace boardmsg {

// A message carrying the command, e.g. "clockCfg : { clkSel0 internal, ... }".
inline LGCP::Message Cmd(const std::string& command) {
  LGCP::Message m;
  if (!m.setFromValueNotation("{ pdu command : " + command + " }")) throw command;
  return m;
}

// A received message as "ok", "error N", "e1|bri T STATE slips bf carrier
// ais rai" (" named", " master" added when set), "cas PATH TS RX TX",
// "signal N" or "?" (undecodable).
inline std::string Describe(const std::vector<unsigned char>& body) {
  static const char* const kStates[] = {"normal", "lossBF",  "lossCarrier", "ais",
                                        "rai",    "unknown", "disabled"};
  LGCP::Message m;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  const char* b = reinterpret_cast<const char*>(body.data());
  if (!ASN1::decode(b, b + body.size(), &env, m, true)) return "?";
  std::ostringstream out;
  LGCP::PDU const& pdu = m.get_pdu();
  LGCP::Signal const& s = pdu.get_signal();
  if (pdu.currentSelection() == LGCP::PDU::e_response) {
    LGCP::Response const& r = pdu.get_response();
    if (r.currentSelection() == LGCP::Response::e_success) return "ok";
    out << "error " << r.get_error().asInt();
  } else if (s.currentSelection() == LGCP::Signal::e_trunkStatus) {
    ACP::TrunkStatus const& t = s.get_trunkStatus();
    out << (t.get_type().asInt() ? "bri " : "e1 ") << t.get_trunk().getValue() << " "
        << kStates[t.get_state().asInt() % 7] << " " << t.get_slips().getValue() << " "
        << t.get_lossBF().getValue() << " " << t.get_lossCarrier().getValue() << " "
        << t.get_lossAIS().getValue() << " " << t.get_lossRAI().getValue()
        << (t.get_name().empty() ? "" : " named") << (t.get_clockMaster() ? " master" : "");
  } else if (s.currentSelection() == LGCP::Signal::e_cas) {
    LGCP::CasSignalling const& c = s.get_cas();
    out << "cas " << c.get_channel().get_path().getValue() << " "
        << c.get_channel().get_timeslot().getValue() << " " << c.get_rx().getValue() << " "
        << c.get_tx().getValue();
  } else {
    out << "signal " << s.currentSelection();
  }
  return out.str();
}

}  // namespace boardmsg

#endif  // VELMARD_TESTS_HARDWARE_BOARD_MSGS_H
