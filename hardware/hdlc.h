// HDLC channels of the board's multi-channel controller ("/dev/mcc/ctl").
// One read of the device is one received frame, one write one transmitted
// frame. The channel's controller side is switched onto TDM timeslots by
// HwMux. Link layers see a channel through GenericHDLC and get its events
// through HDLC::Notify.
#ifndef VELMARD_HARDWARE_HDLC_H
#define VELMARD_HARDWARE_HDLC_H

#include <cstdint>
#include <memory>
#include <ostream>

#include "control/packet.h"
#include "core/multiplexer.h"

// The device a link layer transmits on.
class GenericHDLC {
 public:
  virtual ~GenericHDLC() {}
  // True when the frame was taken (an empty one counts as taken).
  virtual bool hdlc_transmit(Packet& packet) = 0;
  virtual bool is_open() const = 0;
  virtual bool is_ready() const = 0;
};

class HDLC : public GenericHDLC {
 public:
  // The channel's user. Calls come from inside the loop's dispatch; the
  // user may transmit, deactivate or re-activate the channel from them.
  class Notify {
   public:
    struct Cause {
      enum Type { ReadError = 0 };
    };
    virtual ~Notify() {}
    virtual void on_hdlc_receive(Packet& frame) = 0;
    // The channel failed and is closed already.
    virtual void on_hdlc_error(Cause::Type cause) = 0;
    // The channel takes frames again.
    virtual void on_hdlc_ready() = 0;
  };

  // Modes: the controller channel receives from the first timeslot and
  // transmits to it (0, 1) or to the second timeslot (2).
  enum Mode { kMode0 = 0, kMode1 = 1, kMode2 = 2 };

  HDLC();
  ~HDLC() override;

  // Points the user at a shared stub that drops every event.
  void unbind();
  // Opens the channel, allocates it in the mode and switches it onto the
  // timeslots; an open channel is closed first. False, closed, on failure.
  bool activate();
  // Closes the channel. The TDM connections stay; the owner releases them.
  void deactivate();

  bool hdlc_transmit(Packet& packet) override;
  bool is_open() const override { return event.fd.get() >= 0; }
  bool is_ready() const override { return ready; }

  void on_event(int fd, short revents);
  void PutHeader(std::ostream& out) const;

  bool ready = false;
  int logSub = 0;      // second number of the log header
  int timeslot = -1;   // received from; transmitted to in modes 0 and 1
  int timeslot2 = -1;  // transmitted to in mode 2
  int mode = kMode0;
  unsigned txFrames = 0;
  unsigned txRefused = 0;  // transmitted while closed
  unsigned txErrors = 0;
  unsigned spare = 0;
  unsigned rxFrames = 0;
  Event event;
  uintptr_t cookie = 0;  // the owner's, never read here
  unsigned logId = 0;    // first number of the log header
  Notify* notify = nullptr;

 private:
  void do_read();
  // Bumped by every activate, deactivate and the destructor: a dispatch
  // that sees it change knows its channel (or the whole object, deleted by
  // its user from a callback) is gone. Shared, so it outlives the object.
  std::shared_ptr<unsigned> generation = std::make_shared<unsigned>(0);
};

#endif
