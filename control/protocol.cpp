#include "control/protocol.h"

#include <cstring>

namespace {

char* copy_text(char const* text) {
  if (!text) text = "(no name)";
  std::size_t n = std::strlen(text) + 1;
  char* copy = new char[n];
  std::memcpy(copy, text, n);
  return copy;
}

}  // namespace

Protocol_name_str::Protocol_name_str(char const* text) : text_(copy_text(text)) {}

Protocol_name_str::Protocol_name_str(Protocol_name_str const& o)
    : Protocol_name(), text_(copy_text(o.text_)) {}

Protocol_name_str::~Protocol_name_str() {
  delete[] text_;
}

bool Protocol_name_str::compare(Protocol_name const& other) const {
  return other.kind() == kind() && std::strcmp(other.name(), text_) == 0;
}

// ---------------------------------------------------------------------------

Protocol::Protocol() : family_(nullptr) {
  this->next = nullptr;
  this->prev = nullptr;
}

Protocol::~Protocol() {
  if (family_) family_->unlink(this);
}

void Protocol::local_prepare_head(Packet& p) {
  p.reserve_head(0);
}

void Protocol::local_prepare_tail(Packet& p) {
  p.reserve_tail(0);
}

Protocol_status Protocol::local_initialize() {
  return new Protocol_status_success(this, "success");
}

void Protocol::local_activate() {
  on_activate();
}

void Protocol::local_deactivate() {
  on_deactivate(new Protocol_status_success(this, "success"));
}

void Protocol::transmit(Packet& p) {
  if (lower())
    lower()->message(p);
  else if (family_)
    family_->transmit(p);
}

void Protocol::on_message(Packet& p) {
  if (upper())
    upper()->receive(p);
  else if (family_)
    family_->on_message(p);
}

void Protocol::on_activate() {
  if (upper())
    upper()->local_activate();
  else if (family_)
    family_->on_activated(this);
}

void Protocol::on_deactivate(Protocol_status status) {
  if (status.is_null()) SmartPtrAssertion();
  if (status.get()->success()) {
    if (lower())
      lower()->deactivate();
    else if (family_)
      family_->on_deactivated(this, status);
  } else {
    if (upper())
      upper()->on_deactivate(status);
    else if (family_)
      family_->on_deactivated(this, status);
  }
}

void Protocol::on_status(Protocol_status status) {
  if (upper())
    upper()->on_status(status);
  else if (family_)
    family_->on_status(status);
}

void Protocol::message(Packet&) {}

void Protocol::receive(Packet&) {}

void Protocol::activate() {
  if (lower())
    lower()->activate();
  else
    local_activate();
}

void Protocol::deactivate() {
  local_deactivate();
}

void Protocol::prepare_head(Packet& p) {
  descend_prepare_head(p);
  local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
  descend_prepare_tail(p);
  local_prepare_tail(p);
}

void Protocol::descend_prepare_head(Packet& p) {
  if (lower()) lower()->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
  if (lower()) lower()->prepare_tail(p);
}

Protocol_status Protocol::initialize() {
  if (lower()) {
    Protocol_status st = lower()->initialize();
    if (st.is_null()) SmartPtrAssertion();
    if (!st.get()->success()) return st;
  }
  return local_initialize();
}

// ---------------------------------------------------------------------------

ProtocolsList::~ProtocolsList() {
  while (Protocol* p = top()) {
    unlink(p);
    p->family_ = nullptr;
    delete p;
  }
}

void ProtocolsList::unlink(Protocol* p) {
  F_dual_list<Protocol>::remove(p);
  p->next = nullptr;
  p->prev = nullptr;
  p->family_ = nullptr;
}

Protocol* ProtocolsList::add_protocol_head(Protocol* p) {
  if (p->family_) p->family_->unlink(p);
  this->insert_to_head(p);
  p->family_ = this;
  return p;
}

Protocol* ProtocolsList::add_protocol_tail(Protocol* p) {
  if (p->family_) p->family_->unlink(p);
  this->insert_to_tail(p);
  p->family_ = this;
  return p;
}

Protocol* ProtocolsList::search(Protocol_name const& name) const {
  for (Protocol* p = bottom(); p; p = p->upper())
    if (p->compare_name(name)) return p;
  return nullptr;
}

// ---------------------------------------------------------------------------

void ProtocolsFamily::local_prepare_head(Packet& p) {
  if (top()) top()->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
  if (top()) top()->prepare_tail(p);
}

Protocol_status ProtocolsFamily::local_initialize() {
  if (!top()) return new Protocol_initialize_error(this);
  return top()->initialize();
}

void ProtocolsFamily::local_activate() {
  if (top()) top()->activate();
}

void ProtocolsFamily::local_deactivate() {
  if (top()) top()->deactivate();
}

void ProtocolsFamily::message(Packet& p) {
  if (top()) top()->message(p);
}

void ProtocolsFamily::receive(Packet& p) {
  if (bottom()) bottom()->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* p) {
  if (p && p == top()) on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Protocol_status status) {
  on_deactivate(status);
}
