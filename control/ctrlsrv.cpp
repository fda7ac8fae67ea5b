#include "control/ctrlsrv.h"

#include <iostream>
#include <iterator>
#include <vector>

#include "asn1/coder_env.h"
#include "core/ext.h"

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {

void SetSeq(LGCP::Message& msg, int32_t seq) {
  msg.includeOptionalField(LGCP::Message::o_seq, LGCP::Message::f_seq);
  msg.set_seq(seq);
}

void SetSlot(LGCP::Message& msg, uint32_t slot) {
  msg.includeOptionalField(LGCP::Message::o_slot, LGCP::Message::f_slot);
  msg.set_slot(slot);
}

}  // namespace

// ---------------------------------------------------------------------------
// Service

bool Service::CheckServer() const {
  if (server_) return true;
  std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
  return false;
}

void Service::Success() {
  if (CheckServer()) server_->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (CheckServer()) server_->Error(cause);
}

void Service::OfferSignal(LGCP::Signal const& signal) {
  for (Service* s : server_->GetServices())
    if (s != this) s->OnSignal(signal);
}

void Service::SendSignal(LGCP::Signal const& signal) {
  if (!CheckServer()) return;
  OfferSignal(signal);
  server_->SendSignal(signal);
}

void Service::SendSignal(unsigned int slot, LGCP::Signal const& signal) {
  if (!CheckServer()) return;
  OfferSignal(signal);
  server_->SendSignal(slot, signal);
}

unsigned Service::GetSlot() const {
  return CheckServer() ? server_->GetSlot() : Server::noSlot;
}

bool Service::IsSlotPresent() const {
  return CheckServer() && server_->IsSlotPresent();
}

unsigned Service::delayResponse() {
  return CheckServer() ? server_->delayResponse() : Server::noSlot;
}

void Service::delayedSuccess(unsigned int slot, unsigned int token) {
  if (CheckServer()) server_->delayedSuccess(slot, token);
}

bool Service::CheckServerConnection(bool& connected) const {
  if (!server_) return false;
  return server_->CheckServerConnection(connected);
}

// ---------------------------------------------------------------------------
// Server

Server::Server() {}

Server::~Server() {
  Deactivate();
  services_.clear();
}

void Server::Bind(Service* service) {
  services_.push_back(service);
  service->server_ = this;
}

bool Server::Activate(Control::Service* endpoint) {
  Deactivate();
  if (!endpoint) return false;
  transport_ = endpoint;
  transport_->service_name("server");
  transport_->Bind(this);
  return transport_->Activate();
}

void Server::Deactivate() {
  if (!transport_) return;
  transport_->Deactivate();
  OnDisconnect();
  transport_->UnBind();
  delete transport_;
  transport_ = nullptr;
}

void Server::OnConnect() {
  std::clog << ext::header(this) << "controller connect." << std::endl;
  for (Service* s : services_) s->OnConnect();
  SetAvgStatTimer();
}

void Server::OnDisconnect() {
  for (Service* s : services_) s->OnDisconnect();
  avgStatTimer_.reset();
  // Late answers belong to the connection their commands came on: those
  // still pending are forgotten, and dropped should they come after all.
  delayed_.clear();
}

void Server::SetAvgStatTimer() {
  avgStatTimer_.set(5000, &Server::OnUpdateAvgStat, this);
}

void Server::OnMessage(char const* data, int len) {
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  LGCP::Message msg;
  char const* end = data + (len > 0 ? len : 0);
  if (ASN1::decode(data, end, &env, msg, true)) {
    OnMessage(msg);
  } else {
    std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl
              << " msg: " << ext::OutBufInHex(data, end) << std::endl;
  }
  slot_ = noSlot;
}

void Server::OnMessage(LGCP::Message const& msg) {
  answer_ = 0;
  if (msg.hasOptionalField(LGCP::Message::o_seq)) {
    seqPresent_ = true;
    seq_ = msg.get_seq().getValue();
  } else {
    seqPresent_ = false;
  }
  LGCP::PDU const& pdu = msg.get_pdu();
  if (pdu.currentSelection() != LGCP::PDU::e_command) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  if (msg.hasOptionalField(LGCP::Message::o_slot)) {
    slot_ = static_cast<uint32_t>(msg.get_slot().getValue());
    if (slot_ > maxSlot) {
      slot_ = noSlot;
      Error(LGCP::ErrorCause::invalidSlot);
      return;
    }
  } else {
    slot_ = noSlot;
  }
  LGCP::Command const& cmd = pdu.get_command();
  bool taken = false;
  for (Service* s : services_)
    if ((taken = s->OnCommand(cmd))) break;
  if (!taken) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
  } else if (answer_ == 0) {
    std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl;
    Error(LGCP::ErrorCause::internal);
  }
}

void Server::AssignSeq(LGCP::Message& msg) const {
  if (seqPresent_) {
    SetSeq(msg, seq_);
  } else {
    msg.removeOptionalField(LGCP::Message::o_seq);
  }
}

void Server::AssignSlot(LGCP::Message& msg) const {
  if (slot_ != noSlot) {
    SetSlot(msg, slot_);
  } else {
    msg.removeOptionalField(LGCP::Message::o_slot);
  }
}

void Server::Success() {
  if (answer_ != 0) return;
  LGCP::Message msg;
  AssignSeq(msg);
  AssignSlot(msg);
  msg.get_pdu().select_response().select_success();
  SendMsg(msg);
  answer_ = 1;
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (answer_ == 2) return;
  LGCP::Message msg;
  AssignSeq(msg);
  AssignSlot(msg);
  msg.get_pdu().select_response().select_error() = cause;
  SendMsg(msg);
  answer_ = 2;
}

unsigned Server::delayResponse() {
  answer_ = 1;
  // Tokens are kept per command, so a late answer cannot pick up the
  // sequence number of whatever command came last.
  unsigned token = nextToken_++;
  if (nextToken_ == noSlot) nextToken_ = 0;
  delayed_[token] = Delayed{seqPresent_, seq_};
  return token;
}

void Server::delayedSuccess(unsigned int slot, unsigned int token) {
  auto it = delayed_.find(token);
  if (it == delayed_.end()) {
    // Its command came on a connection that has ended (or it was answered
    // already): the controller now connected never sent it.
    std::cerr << ext::header(this) << "late answer for slot " << slot
              << " dropped: its controller is gone." << std::endl;
    return;
  }
  LGCP::Message msg;
  if (it->second.seqPresent) SetSeq(msg, it->second.seq);
  delayed_.erase(it);
  SetSlot(msg, slot);
  msg.get_pdu().select_response().select_success();
  SendMsg(msg);
}

void Server::SendSignal(LGCP::Signal const& signal) {
  LGCP::Message msg;
  AssignSlot(msg);
  msg.get_pdu().select_signal() = signal;
  SendMsg(msg);
}

void Server::SendSignal(unsigned int slot, LGCP::Signal const& signal) {
  LGCP::Message msg;
  SetSlot(msg, slot);
  msg.get_pdu().select_signal() = signal;
  SendMsg(msg);
}

void Server::SendMsg(LGCP::Message& msg) {
  std::vector<char> own;
  bool reuse = !sendBufferBusy_;
  std::vector<char>& out = reuse ? sendBuffer_ : own;
  out.clear();
  out.reserve(200);
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  if (!ASN1::encode(msg, &env, std::back_inserter(out))) {
    std::cerr << ext::header(this) << "send fail: encode error!" << msg << std::endl;
    return;
  }
  if (!transport_) {
    std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
    return;
  }
  if (reuse) sendBufferBusy_ = true;
  transport_->Send(out.data(), int(out.size()));
  if (reuse) sendBufferBusy_ = false;
}

bool Server::CheckServerConnection(bool& connected) const {
  if (!transport_) return false;
  connected = transport_->GetState() == Control::Service::State::Connected;
  return true;
}

void Server::OnHeartbeatTimeout() {
  if (transport_) transport_->Disconnect();
}

void Server::PutHeader(std::ostream& out) const {
  if (!transport_)
    out << "ctrl [null]: ";
  else if (transport_->GetState() == Control::Service::State::Connected)
    out << "ctrl [" << transport_->GetConnectionName() << "]: ";
  else
    out << "ctrl [not connected]: ";
}

}  // namespace CtrlSrv
