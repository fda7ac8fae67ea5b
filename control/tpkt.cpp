#include "control/tpkt.h"

#include <iostream>

#include "core/profile.h"

Tpkt_protocol::Tpkt_protocol()
    : name_str_("TPKT"), expected_(0), state_(st_idle), epoch_(0), destroyed_(nullptr) {}

Tpkt_protocol::~Tpkt_protocol() {
  if (destroyed_) *destroyed_ = true;
}

void Tpkt_protocol::local_prepare_head(Packet& p) {
  p.reserve_head(header_size);
}

void Tpkt_protocol::local_prepare_tail(Packet& p) {
  p.reserve_tail(0);
}

void Tpkt_protocol::local_activate() {
  reset();
}

void Tpkt_protocol::local_deactivate() {
  reset();
  on_deactivate(new Protocol_status_success(this, "TPKT deactivated"));
}

void Tpkt_protocol::reset() {
  timer_.reset();
  body_ = nullptr;
  state_ = st_idle;
  ++epoch_;
}

void Tpkt_protocol::on_timeout(Timer*) {
  std::clog << " TPKT packet timeout." << std::endl;
  reset();
}

void Tpkt_protocol::message(Packet& p) {
  static Profile::Point point("Tpkt_protocol::message");
  point.begin();
  unsigned body = p.length();
  // The length field counts the header in 16 bits: a longer body would wrap
  // it and desynchronise the peer for the rest of the connection.
  if (body > max_body) {
    point.end();
    std::clog << name().name() << " TPKT message too big, length = " << body
              << " max = " << unsigned(max_body) << ", dropped." << std::endl;
    return;
  }
  p.push16_b(static_cast<unsigned short>(body + header_size));
  p.push8(0);
  p.push8(3);
  point.end();
  transmit(p);
}

void Tpkt_protocol::receive(Packet& p) {
  bool destroyed = false;
  bool* outer = destroyed_;
  destroyed_ = &destroyed;
  bool go_on = true;
  while (go_on && p.length() > 0) {
    switch (state_) {
      case st_idle:
        go_on = on_byte_idle(p);
        break;
      case st_reserved:
        go_on = on_byte_reserved(p);
        break;
      case st_length_hi:
        go_on = on_byte_length_hi(p);
        break;
      case st_length_lo:
        go_on = on_byte_length_lo(p);
        break;
      case st_body:
        go_on = on_body(p);
        break;
      case st_ignore:
        go_on = on_ignore(p);
        break;
      default:
        state_ = st_idle;
        break;
    }
    if (destroyed) {
      if (outer) *outer = true;
      return;
    }
  }
  destroyed_ = outer;
  if (!go_on) return;
  if (state_ == st_idle)
    timer_.reset();
  else
    timer_.set(frame_timeout_ms, &Tpkt_protocol::on_timeout, this);
}

bool Tpkt_protocol::on_byte_idle(Packet& in) {
  if (in.pull8() == 3)
    state_ = st_reserved;
  else
    std::clog << name().name() << " bad TPKT packet start." << std::endl;
  return true;
}

bool Tpkt_protocol::on_byte_reserved(Packet& in) {
  if (in.pull8() == 0) {
    state_ = st_length_hi;
  } else {
    std::clog << name().name() << " bad TPKT reserved." << std::endl;
    state_ = st_idle;
  }
  return true;
}

bool Tpkt_protocol::on_byte_length_hi(Packet& in) {
  expected_ = in.pull8();
  state_ = st_length_lo;
  return true;
}

bool Tpkt_protocol::on_byte_length_lo(Packet& in) {
  expected_ = expected_ * 256 + in.pull8();
  if (expected_ < header_size) {
    std::clog << "TPKT too small " << expected_ << std::endl;
    state_ = st_idle;
    return true;
  }
  expected_ -= header_size;
  body_ = nullptr;
  body_.reserve_head(0);
  if (expected_ > body_.tailroom()) {
    std::clog << "TPKT length too big, received = " << expected_ << " max = " << body_.tailroom()
              << std::endl;
    state_ = st_ignore;
    return true;
  }
  state_ = st_body;
  // A frame with an empty body is complete with its header: waiting for a
  // further byte would delay it, or lose it to the frame timer.
  if (expected_ == 0) return deliver();
  return true;
}

bool Tpkt_protocol::on_body(Packet& in) {
  unsigned n = in.length();
  if (n > expected_) n = expected_;
  body_.put(in.data(), n);
  in.pull(nullptr, n);
  expected_ -= n;
  if (expected_ == 0) return deliver();
  return true;
}

bool Tpkt_protocol::on_ignore(Packet& in) {
  unsigned n = in.length();
  if (n > expected_) n = expected_;
  in.pull(nullptr, n);
  expected_ -= n;
  if (expected_ == 0) state_ = st_idle;
  return true;
}

bool Tpkt_protocol::deliver() {
  Packet frame = body_;
  body_ = nullptr;
  state_ = st_idle;
  u32 epoch = epoch_;
  bool* destroyed = destroyed_;
  on_message(frame);
  if (destroyed && *destroyed) return false;  // members are gone
  return epoch == epoch_;
}
