#include "control/strm.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "core/ext.h"
#include "core/timer.h"

StrmProtocol::StrmProtocol()
    : text_("StrmProtocol"), name_str_("StrmProtocol"), send_queue_mode_(false), failed_writes_(0) {
  event_.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this);
}

StrmProtocol::StrmProtocol(Fd fd) : StrmProtocol() {
  attach(std::move(fd));
}

StrmProtocol::~StrmProtocol() {
  release();
}

void StrmProtocol::attach(Fd fd) {
  release();
  fd_ = std::move(fd);
  int queued = 0;
  send_queue_mode_ = fd_ && ioctl(fd_.get(), SIOCOUTQ, &queued) == 0 && queued > 0;
}

void StrmProtocol::release() {
  if (!fd_) return;
  event_.Release();
  fd_.close();
}

int StrmProtocol::sendbuf_space() const {
  int v = 0;
  socklen_t len = sizeof v;
  if (getsockopt(fd_.get(), SOL_SOCKET, SO_SNDBUF, &v, &len) < 0) return -1;
  return v;
}

int StrmProtocol::recvbuf_space() const {
  int v = 0;
  socklen_t len = sizeof v;
  if (getsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &v, &len) < 0) return -1;
  return v;
}

int StrmProtocol::inq_space() const {
  int v = 0;
  if (ioctl(fd_.get(), SIOCINQ, &v) < 0) return -1;
  return v;
}

int StrmProtocol::outq_space() const {
  int v = 0;
  if (ioctl(fd_.get(), SIOCOUTQ, &v) < 0) return -1;
  return v;
}

int StrmProtocol::free_space() const {
  int outq = outq_space();
  if (send_queue_mode_) return outq;
  return sendbuf_space() - outq;
}

void StrmProtocol::local_prepare_head(Packet& p) {
  p.reserve_head(0);
}

void StrmProtocol::local_prepare_tail(Packet& p) {
  p.reserve_tail(0);
}

void StrmProtocol::local_activate() {
  if (!fd_) {
    on_deactivate(new Protocol_status_error(this, "fd not attached"));
    return;
  }
  event_.Schedule(fd_, POLLIN);
  on_activate();
}

void StrmProtocol::local_deactivate() {
  release();
  on_deactivate(new Protocol_status_success(this, "success"));
}

void StrmProtocol::on_event(int, short revents) {
  if (revents & POLLERR)
    on_error(std::string("pollerr: ") + std::strerror(errno));
  else if (revents & POLLHUP)
    on_error(std::string("pollhup: ") + std::strerror(errno));
  else if (revents & POLLIN)
    do_read();
}

void StrmProtocol::on_error(std::string const& text) {
  release();
  on_deactivate(new Protocol_status_error(this, text));
}

void StrmProtocol::do_read() {
  Packet p;
  p.reserve_head(0);
  read_measure_.begin();
  ssize_t n = recv(fd_.get(), p.tail_space(), p.tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL);
  read_measure_.end();
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    on_error(std::string("read error: ") + std::strerror(errno));
    return;
  }
  p.extend_tail(unsigned(n));
  on_message(p);
}

void StrmProtocol::report_write_failure(char const* what, int error) {
  std::cerr << ext::header(this) << what << ", sendbuf=" << sendbuf_space()
            << ", recvbuf=" << recvbuf_space() << ", free=" << free_space()
            << ", inq=" << inq_space() << ", outq=" << outq_space();
  if (error) std::cerr << ", error=" << std::strerror(error);
  std::cerr << std::endl;
  ++failed_writes_;
}

void StrmProtocol::message(Packet& p) {
  p.passert(!p.is_null(), "null packet");
  // One reading serves the time-out and the measure.
  Mux::timeval now;
  Mux::mux_gettimeofday(now);
  u32 start = Mux::milliseconds(now);
  write_measure_.begin_at(Mux::microseconds(now));

  // Sending with MSG_NOSIGNAL: a vanished peer is a write error here, not a
  // signal that depends on the process's SIGPIPE disposition.
  u8 const* at = p.data();
  unsigned left = p.length();
  while (left > 0) {
    ssize_t n = send(fd_.get(), at, left, MSG_NOSIGNAL);
    if (n > 0) {
      at += n;
      left -= unsigned(n);
      continue;
    }
    int error = n < 0 ? errno : EIO;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EWOULDBLOCK) {
      u32 spent = Mux::milliseconds() - start;
      if (spent < write_timeout_ms) {
        pollfd pfd = {fd_.get(), POLLOUT, 0};
        multiplexer.resetWD();
        int r = poll(&pfd, 1, int(write_timeout_ms - spent));
        int poll_error = errno;
        multiplexer.resetWD();
        if (r == 1 || (r < 0 && poll_error == EINTR)) continue;
      }
      write_measure_.end();
      report_write_failure("write timeout", 0);
      on_error("write timeout");
      return;
    }
    write_measure_.end();
    report_write_failure("write error", error);
    on_error(std::string("write error: ") + std::strerror(error));
    return;
  }
  write_measure_.end();
}

void StrmProtocol::PutHeader(std::ostream& out) const {
  out << "SockStream[" << service_name_ << "]: ";
}
