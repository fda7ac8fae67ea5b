#include "hardware/hdlc.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "core/ext.h"
#include "core/fd.h"
#include "core/traces.h"
#include "hardware/board_ioc.h"
#include "hardware/hwmux.h"

namespace {

// MCC_ALLOCATE's record: the channel mode code, then words whose meaning
// is the driver's.
struct MccAllocate {
  int32_t mode;
  int32_t maxFrame;
  int32_t word2;
  int32_t word3;
  int32_t word4;
};
static_assert(sizeof(MccAllocate) == 20, "MCC_ALLOCATE record");
static_assert(offsetof(MccAllocate, maxFrame) == 4, "maxFrame");
static_assert(offsetof(MccAllocate, word4) == 16, "word4");

// The driver's channel mode code of each mode, by mode.
constexpr int kModeCodes[] = {3, 0, 1};
static_assert(HDLC::kMode0 == 0 && HDLC::kMode2 == 2, "modes index kModeCodes");

}  // namespace

// The event's callback is bound once: an activation allocates nothing
// before it polls the channel.
HDLC::HDLC() {
  unbind();
  event.Bind("HDLC::OnEvent", &HDLC::on_event, this);
}

// The event leaves the loop and closes the device by itself.
HDLC::~HDLC() {
  ++*generation;
}

void HDLC::unbind() {
  struct Stub : Notify {
    void on_hdlc_receive(Packet&) override {}
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}
  };
  static Stub stub;
  notify = &stub;
}

void HDLC::PutHeader(std::ostream& out) const {
  out << "hdlc"
      << " [" << logId << "/" << logSub << "]: ";
}

bool HDLC::activate() {
  deactivate();
  txFrames = txRefused = txErrors = spare = rxFrames = 0;
  if (mode < kMode0 || mode > kMode2) {
    std::cerr << ext::header(this) << "bad mode " << mode << std::endl;
    return false;
  }
  Fd dev(::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!dev) {
    std::cerr << ext::header(this) << "fail to open MCC device: " << std::strerror(errno)
              << std::endl;
    return false;
  }
  MccAllocate alloc{kModeCodes[mode], 512, 0, 1, 4};
  if (::ioctl(dev.get(), Hardware::Ioc::MCC_ALLOCATE, &alloc) < 0) {
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(errno) << std::endl;
    return false;
  }
  const int ch = ::ioctl(dev.get(), Hardware::Ioc::MCC_TIMESLOT, 0);
  if (ch < 0) {
    std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << std::strerror(errno) << std::endl;
    return false;
  }
  // Polled before it is switched: a channel that cannot be polled leaves
  // the switch as the other failures do.
  event.Schedule(dev, POLLIN | POLLOUT);
  if (!is_open()) {
    std::cerr << ext::header(this) << "fail to poll MCC device: " << std::strerror(errno)
              << std::endl;
    return false;
  }
  HwMux& mux = HwMux::instance();
  mux.Connect(ch, mode == kMode2 ? timeslot2 : timeslot);
  mux.Connect(timeslot, ch);
  if (traces.signalling_hdlc) std::clog << ext::header(this) << "activated" << std::endl;
  return true;
}

void HDLC::deactivate() {
  ++*generation;
  event.Release();
  ready = false;
  if (traces.signalling_hdlc) std::clog << ext::header(this) << "deactivated" << std::endl;
}

void HDLC::on_event(int, short revents) {
  const std::shared_ptr<unsigned> alive = generation;
  const unsigned before = *alive;
  // An error or hang-up without data is read too: the read reaches its
  // error or end-of-file path instead of the loop spinning on the event.
  if (revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) do_read();
  // A read error, or the user from inside on_hdlc_receive, may have closed
  // or re-opened the channel: these events were not about the channel
  // that is there now.
  if (*alive != before) return;
  if ((revents & POLLOUT) && !ready) {
    ready = true;
    event.events = POLLIN;
    notify->on_hdlc_ready();
  }
}

void HDLC::do_read() {
  if (traces.signalling_hdlc) std::clog << ext::header(this) << "do_read" << std::endl;
  if (!is_open()) {
    std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
    return;
  }
  Packet frame;
  frame.reserve_head(0);
  const ssize_t n = ::read(event.fd.get(), frame.tail_space(), frame.tailroom());
  if (n > 0) {
    frame.extend_tail(static_cast<unsigned>(n));
    if (traces.signalling_hdlc)
      std::clog << "HDLC[" << logId << "]: rx " << frame.text() << std::endl;
    ++rxFrames;
    notify->on_hdlc_receive(frame);
    return;
  }
  // End of file is an error too: retrying on a stale errno would spin.
  const int err = n < 0 ? errno : 0;
  if (err == EAGAIN) return;
  std::cerr << ext::header(this) << "read error: " << (err ? std::strerror(err) : "end of file")
            << std::endl;
  deactivate();
  notify->on_hdlc_error(Notify::Cause::ReadError);
}

bool HDLC::hdlc_transmit(Packet& packet) {
  if (packet.length() == 0) return true;
  if (!is_open()) {
    ++txRefused;
    return false;
  }
  if (traces.signalling_hdlc)
    std::clog << "HDLC[" << logId << "]: tx " << packet.text() << std::endl;
  for (;;) {
    if (::write(event.fd.get(), packet.data(), packet.length()) >= 0) {
      ++txFrames;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      // The next POLLOUT makes the channel ready again.
      ready = false;
      event.events = POLLIN | POLLOUT;
      return false;
    }
    ++txErrors;
    return false;
  }
}
