// The board's commands as a controller builds them, and what it receives
// told in one short line, for tests that compare whole exchanges.
#ifndef VELMARD_TESTS_HARDWARE_BOARD_MSGS_H
#define VELMARD_TESTS_HARDWARE_BOARD_MSGS_H

#include <sstream>
#include <string>

#include "asn1/modules/ACP.h"
#include "asn1/modules/LGCP.h"

namespace boardmsg {

inline LGCP::Message Wrap(LGCP::Command const& cmd, int seq) {
  LGCP::Message m;
  m.includeOptionalField(LGCP::Message::o_seq, LGCP::Message::f_seq);
  m.set_seq(seq);
  m.get_pdu().select_command() = cmd;
  return m;
}

// mode: BpcTestMode alternative (read 0, write 1, disconnect 2).
inline LGCP::Command TestBpc(unsigned bus, int seed, int mode, unsigned start, unsigned length) {
  LGCP::Command c;
  LGCP::BpcTestParams& p = c.select_testBpc();
  p.set_bus(bus);
  p.set_seed(seed);
  if (mode >= 0) p.get_mode().select(mode);
  p.set_timeslot_start(start);
  p.set_timeslot_length(length);
  return c;
}

inline LGCP::Command ClockCfg(int clkSel0, int bextEn, int source) {
  LGCP::Command c;
  LGCP::ClockCfg& cfg = c.select_clockCfg();
  cfg.get_clkSel0().setFromInt(clkSel0);
  cfg.get_bextEn().setFromInt(bextEn);
  cfg.set_source(source);
  return c;
}

inline LGCP::Command TrunkCfg(int trunk, int mode) {
  LGCP::Command c;
  c.select_trunkCfg().set_trunk(trunk);
  c.get_trunkCfg().get_mode().setFromInt(mode);
  return c;
}

// cmd: CasCommandSignal alternative (open 0, close 1, set 2, get 3).
inline LGCP::Command Cas(int path, int timeslot, int cmd, int bits = 0) {
  LGCP::Command c;
  LGCP::CasCommand& cas = c.select_ioctl().select_cas();
  cas.get_channel().set_path(path);
  cas.get_channel().set_timeslot(timeslot);
  LGCP::CasCommandSignal& s = cas.get_cmd();
  s.select(cmd);
  if (cmd == LGCP::CasCommandSignal::e_open) s.get_open().setValue(bits);
  if (cmd == LGCP::CasCommandSignal::e_set) s.get_set().setValue(bits);
  return c;
}

// "success", "error N", "trunk T STATE slips S ... e1|bri", "cas P T rx R
// tx X", or "signal N".
inline std::string Describe(LGCP::Message const& m) {
  std::ostringstream out;
  LGCP::PDU const& pdu = m.get_pdu();
  if (pdu.currentSelection() == LGCP::PDU::e_response) {
    LGCP::Response const& r = pdu.get_response();
    if (r.currentSelection() == LGCP::Response::e_success) return "success";
    out << "error " << r.get_error().asInt();
  } else if (pdu.currentSelection() != LGCP::PDU::e_signal) {
    out << "pdu " << pdu.currentSelection();
  } else if (pdu.get_signal().currentSelection() == LGCP::Signal::e_trunkStatus) {
    ACP::TrunkStatus const& t = pdu.get_signal().get_trunkStatus();
    static const char* const states[] = {"normal", "lossBF",  "lossCarrier", "ais",
                                         "rai",    "unknown", "disabled"};
    int s = t.get_state().asInt();
    out << "trunk " << t.get_trunk().getValue() << " "
        << (s >= 0 && s < 7 ? states[s] : std::to_string(s).c_str()) << " slips "
        << t.get_slips().getValue() << " bf " << t.get_lossBF().getValue() << " carrier "
        << t.get_lossCarrier().getValue() << " ais " << t.get_lossAIS().getValue() << " rai "
        << t.get_lossRAI().getValue() << " name '" << static_cast<std::string const&>(t.get_name())
        << "' master " << t.get_clockMaster().getValue() << " "
        << (t.get_type().asInt() == ACP::TrunkType::bri ? "bri" : "e1");
  } else if (pdu.get_signal().currentSelection() == LGCP::Signal::e_cas) {
    LGCP::CasSignalling const& c = pdu.get_signal().get_cas();
    out << "cas " << c.get_channel().get_path().getValue() << " "
        << c.get_channel().get_timeslot().getValue() << " rx " << c.get_rx().getValue() << " tx "
        << c.get_tx().getValue();
  } else {
    out << "signal " << pdu.get_signal().currentSelection();
  }
  return out.str();
}

}  // namespace boardmsg

#endif  // VELMARD_TESTS_HARDWARE_BOARD_MSGS_H
