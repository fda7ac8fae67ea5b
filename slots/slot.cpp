#include "slots/slot.h"

#include <iostream>

#include "slots/answers.h"
#include "slots/factory.h"
#include "slots/slots.h"

Slot::Slot(unsigned number, SlotFactory* factory) : number_(number), factory_(factory) {}

Slot::~Slot() {
  Unlink();
  if (factory_) factory_->Forget(this);
}

void Slot::PutHeader(std::ostream& out) const {
  out << "slot " << number_ << ": ";
}

// ---------------------------------------------------------------------------
// Links

bool Slot::SwitchLink(Slot& src, Slot& dst, bool on) {
  bool sourceDoes = src.IGetConnectPriority() > dst.IGetConnectPriority();
  if (on) return sourceDoes ? src.IConnectOutput(dst) : dst.IConnectInput(src);
  return sourceDoes ? src.IDisconnectOutput(dst) : dst.IDisconnectInput(src);
}

bool Slot::IConnectOutput(Slot& dst) {
  return MuxConnect(*this, dst);
}

bool Slot::IConnectInput(Slot& src) {
  return MuxConnect(src, *this);
}

bool Slot::IDisconnectOutput(Slot& dst) {
  return MuxDisconnect(dst);
}

bool Slot::IDisconnectInput(Slot&) {
  return MuxDisconnect(*this);
}

bool Slot::Connect(Slot& dst) {
  if (!SwitchLink(*this, dst, true)) return false;
  if (dst.source_) dst.source_->receivers_.remove(&dst);
  dst.source_ = this;
  receivers_.push_back(&dst);
  return true;
}

bool Slot::Disconnect() {
  if (!source_) return true;
  Slot* src = source_;
  src->receivers_.remove(this);
  source_ = nullptr;
  return SwitchLink(*src, *this, false);
}

// A slot that goes away leaves no receiver listening to its channel.
void Slot::Unlink() {
  if (source_) source_->receivers_.remove(this);
  source_ = nullptr;
  while (!receivers_.empty()) {
    Slot* dst = receivers_.front();
    receivers_.pop_front();
    dst->source_ = nullptr;
    SwitchLink(*this, *dst, false);
  }
}

// ---------------------------------------------------------------------------
// Destroy

bool Slot::BeforeDestroy() {
  destroying_ = true;
  Unlink();
  inBeforeDestroy_ = true;
  bool done = IBeforeDestroy();
  inBeforeDestroy_ = false;
  return done || releasedEarly_;
}

// A release that completes inside the destroy hook itself counts as done
// at once: the table still holds the slot and deletes it on return.
void Slot::ReleaseDone() {
  if (inBeforeDestroy_) {
    releasedEarly_ = true;
    return;
  }
  Slots::instance()->on_release(this);
}

// ---------------------------------------------------------------------------
// Commands a slot kind does not take

CmdAnswer Slot::CmdActivate(TERM::TermActivateParams const&) {
  return LGCP::ErrorCause::unsupported;
}

CmdAnswer Slot::CmdDeactivate() {
  return LGCP::ErrorCause::unsupported;
}

CmdAnswer Slot::CmdUserData(std::vector<char> const&) {
  return LGCP::ErrorCause::unsupported;
}

CmdAnswer Slot::CmdIoctl(LGCP::IoctlParams const&) {
  return LGCP::ErrorCause::unsupported;
}

// ---------------------------------------------------------------------------
// Signals

void Slot::SendSignal(LGCP::Signal const& signal) {
  Slots::instance()->SendSignal(number_, signal);
}

void Slot::OnTonecEvent(LGCP::TonecEvent const& event) {
  LGCP::Signal s;
  s.select_tonec() = event;
  SendSignal(s);
}

void Slot::OnNumber(std::string const& number) {
  LGCP::Signal s;
  s.select_number() = number;
  SendSignal(s);
}

void Slot::OnModem(TERM::ModemProceeding const& proceeding) {
  LGCP::Signal s;
  s.select_modemProceeding() = proceeding;
  SendSignal(s);
}

void Slot::OnModem(TERM::ModemInformation const& information) {
  LGCP::Signal s;
  s.select_modemInformation() = information;
  SendSignal(s);
}

void Slot::OnActivated() {
  LGCP::Signal s;
  s.select_activated();
  SendSignal(s);
}

void Slot::OnDeactivated() {
  LGCP::Signal s;
  s.select_deactivated().setFromInt(SlotAnswers::deactivateCause);
  SendSignal(s);
}

void Slot::OnAbort(int cause) {
  LGCP::Signal s;
  s.select_abort().setValue(cause);
  SendSignal(s);
}

void Slot::OnUserData(std::vector<char> const& data) {
  LGCP::Signal s;
  s.select_userData() = data;
  SendSignal(s);
}

namespace {

void SetStream(LGCP::Stream& stream, bool active) {
  if (active)
    stream.select_active().setValue(SlotAnswers::activeStream);
  else
    stream.select_inactive();
}

}  // namespace

void Slot::OnChangeInputStream(bool active) {
  LGCP::Signal s;
  SetStream(s.select_receiver(), active);
  SendSignal(s);
}

void Slot::OnChangeOutputStream(bool active) {
  LGCP::Signal s;
  SetStream(s.select_transmitter(), active);
  SendSignal(s);
}

void Slot::OnIoctlResponse(LGCP::IoctlResponse const& response) {
  LGCP::Signal s;
  s.select_ioctl() = response;
  SendSignal(s);
}

void Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& request) {
  LGCP::Signal s;
  s.select_rtpExt() = request;
  SendSignal(s);
}

void Slot::OnVADEvent(LGCP::VADEvent const& event) {
  LGCP::Signal s;
  s.select_vad() = event;
  SendSignal(s);
}

void Slot::OnProtoVornEvent(VORNGW::ProtoVornPackets const& packets) {
  LGCP::Signal s;
  s.select_protoVorn() = packets;
  SendSignal(s);
}

void Slot::OnSDEvent(LGCP::SDEvent const& event) {
  LGCP::Signal s;
  s.select_sd() = event;
  SendSignal(s);
}

void Slot::OnRtpEvent(LGCP::RtpEvent const& event) {
  LGCP::Signal s;
  s.select_rtp() = event;
  SendSignal(s);
}
