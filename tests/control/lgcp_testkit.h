// Building and reading LGCP messages as the controller does, with the
// project's own codec (PER aligned).
#ifndef VELMARD_TESTS_CONTROL_LGCP_TESTKIT_H
#define VELMARD_TESTS_CONTROL_LGCP_TESTKIT_H

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "asn1/modules/LGCP.h"
#include "asn1/coder_env.h"

namespace lgcptest {

// Alternative indices of the CHOICEs the control channel uses.
enum Pdu { kCommand = 0, kResponse = 1, kSignal = 2 };
enum Cmd { kQuery = 0, kConnect = 2, kDisconnect = 3, kDestroy = 5, kPing = 12 };
enum Sig { kSigActivated = 5, kSigAbort = 7 };

inline ASN1::CHOICE& PduOf(LGCP::Message& m) {
  return *static_cast<ASN1::CHOICE*>(m.getField(2));
}
inline ASN1::CHOICE const& PduOf(LGCP::Message const& m) {
  return *static_cast<ASN1::CHOICE const*>(m.getField(2));
}

inline void SetSeq(LGCP::Message& m, int seq) {
  m.includeOptionalField(0, 0);
  static_cast<ASN1::INTEGER*>(m.getField(0))->setValue(seq);
}
inline void SetSlot(LGCP::Message& m, unsigned slot) {
  m.includeOptionalField(1, 1);
  static_cast<ASN1::INTEGER*>(m.getField(1))->setValue(int(slot));
}

// A command with the given alternative (NULL alternatives need no value;
// `connect` gets destination 0).
inline LGCP::Message Command(int alternative, std::optional<int> seq = {},
                             std::optional<unsigned> slot = {}) {
  LGCP::Message m;
  if (seq) SetSeq(m, *seq);
  if (slot) SetSlot(m, *slot);
  PduOf(m).select(kCommand);
  static_cast<ASN1::CHOICE*>(PduOf(m).getSelection())->select(alternative);
  return m;
}

inline LGCP::Message Ping(std::optional<int> seq = {}, std::optional<unsigned> slot = {}) {
  return Command(kPing, seq, slot);
}

// A controller-sent response (success) or signal (activated).
inline LGCP::Message NotACommand(int pdu, std::optional<int> seq = {}) {
  LGCP::Message m;
  if (seq) SetSeq(m, *seq);
  PduOf(m).select(pdu);
  static_cast<ASN1::CHOICE*>(PduOf(m).getSelection())
      ->select(pdu == kResponse ? 0 : int(kSigActivated));
  return m;
}

inline LGCP::Signal AbortSignal(int code) {
  LGCP::Signal s;
  s.select(kSigAbort);
  static_cast<ASN1::INTEGER*>(s.getSelection())->setValue(code);
  return s;
}

inline std::vector<unsigned char> Encode(LGCP::Message const& m) {
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  if (!ASN1::encode(m, &env, std::back_inserter(out))) return {};
  return std::vector<unsigned char>(out.begin(), out.end());
}

// What a reply or signal from the daemon says.
struct Seen {
  bool decoded = false;
  std::optional<int> seq;
  std::optional<unsigned> slot;
  int pdu = -1;
  bool success = false;
  int cause = -1;      // error cause, when an error
  int signal = -1;     // signal alternative, when a signal
  int abortCode = -1;  // the INTEGER of an `abort` signal

  bool IsSuccess() const { return pdu == kResponse && success; }
  bool IsError(int c) const { return pdu == kResponse && !success && cause == c; }
};

inline Seen Parse(std::vector<unsigned char> const& body) {
  Seen s;
  LGCP::Message m;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  char const* b = reinterpret_cast<char const*>(body.data());
  if (!ASN1::decode(b, b + body.size(), &env, m, true)) return s;
  s.decoded = true;
  if (m.hasOptionalField(0)) s.seq = static_cast<ASN1::INTEGER const*>(m.getField(0))->getValue();
  if (m.hasOptionalField(1))
    s.slot = unsigned(static_cast<ASN1::INTEGER const*>(m.getField(1))->getValue());
  ASN1::CHOICE const& pdu = PduOf(m);
  s.pdu = pdu.currentSelection();
  auto const* inner = static_cast<ASN1::CHOICE const*>(pdu.getSelection());
  if (s.pdu == kResponse) {
    s.success = inner->currentSelection() == 0;
    if (!s.success) s.cause = static_cast<ASN1::ENUMERATED const*>(inner->getSelection())->asInt();
  } else if (s.pdu == kSignal) {
    s.signal = inner->currentSelection();
    if (s.signal == kSigAbort)
      s.abortCode = static_cast<ASN1::INTEGER const*>(inner->getSelection())->getValue();
  }
  return s;
}

inline std::string Describe(Seen const& s) {
  std::string t = s.decoded ? "" : "undecodable ";
  t += "seq=" + (s.seq ? std::to_string(*s.seq) : std::string("none"));
  t += " slot=" + (s.slot ? std::to_string(*s.slot) : std::string("none"));
  t += " pdu=" + std::to_string(s.pdu);
  if (s.pdu == kResponse) t += s.success ? " success" : " error " + std::to_string(s.cause);
  if (s.pdu == kSignal) t += " signal " + std::to_string(s.signal);
  return t;
}

}  // namespace lgcptest

#endif  // VELMARD_TESTS_CONTROL_LGCP_TESTKIT_H
