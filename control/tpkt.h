// TPKT framing (RFC 1006): a 4-byte header (version 3, reserved 0, 16-bit
// big-endian length counting the header) before each message.
//
// Going down the header is pushed into headroom reserved in advance; going
// up a byte-driven state machine cuts the stream into message bodies,
// survives messages split across reads, resynchronises on garbage one byte
// at a time and drops a frame left unfinished for frame_timeout_ms.
#ifndef VELMARD_CONTROL_TPKT_H
#define VELMARD_CONTROL_TPKT_H

#include "control/protocol.h"
#include "core/timer.h"

class Tpkt_protocol : public Protocol {
 public:
  enum { header_size = 4, max_body = 0xFFFF - header_size };
  static constexpr unsigned frame_timeout_ms = 3000;

  enum State : u32 {
    st_idle = 0,
    st_reserved = 1,
    st_length_hi = 2,
    st_length_lo = 3,
    st_body = 4,
    st_ignore = 5,
  };

  Tpkt_protocol();
  ~Tpkt_protocol() override;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;

  void on_timeout(Timer*);
  void reset();
  void next_state(State s) { state_ = s; }
  State state() const { return state_; }
  bool frame_pending() const { return timer_.pending(); }

 private:
  // Each consumes input bytes; false when the layer was reset or destroyed
  // while a body was being delivered, so the rest of the input is stale.
  bool on_byte_idle(Packet& in);
  bool on_byte_reserved(Packet& in);
  bool on_byte_length_hi(Packet& in);
  bool on_byte_length_lo(Packet& in);
  bool on_body(Packet& in);
  bool on_ignore(Packet& in);
  bool deliver();

  Protocol_name_str name_str_;
  u32 expected_;
  Timer timer_;
  State state_;
  Packet body_;
  // Guards the receive loop against a reset or destruction from inside the
  // upper layer's handling of a delivered body.
  u32 epoch_;
  bool* destroyed_;
};

#endif  // VELMARD_CONTROL_TPKT_H
