#include "control/tracers.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <iterator>

#include "core/fd.h"

namespace {

// The length field holds the body and the 4 header bytes in 16 bits.
constexpr unsigned max_frame_body = 0xFFFF - 4;

int listen_socket(unsigned short port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  int on = 1;
  INet4::Addr any;
  any.SetPort(port);
  if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ||
      bind(s, any.get(), INet4::Addr::length()) < 0 || listen(s, 1) < 0 || !NonBlockMode(s)) {
    ::close(s);
    return -1;
  }
  return s;
}

// One frame in one gathered send: header, then the body.
ssize_t send_frame(int fd, void const* data, unsigned len) {
  unsigned total = len + 4;
  unsigned char header[4] = {3, 0, static_cast<unsigned char>(total >> 8),
                             static_cast<unsigned char>(total)};
  iovec iov[2];
  iov[0].iov_base = header;
  iov[0].iov_len = sizeof header;
  iov[1].iov_base = const_cast<void*>(data);
  iov[1].iov_len = len;
  msghdr msg = {};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  return sendmsg(fd, &msg, MSG_NOSIGNAL);
}

enum class Rx { wait, close, frame };

// Reads towards the next complete body; the buffer holds the header first,
// then the body, both from its start.
template <class C>
Rx read_frame(C& c, int fd) {
  for (;;) {
    ssize_t n = recv(fd, c.buffer + c.received, c.needed - c.received, MSG_NOSIGNAL);
    if (n == 0) return Rx::close;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return Rx::wait;
      return Rx::close;
    }
    c.received += unsigned(n);
    if (c.received < c.needed) return Rx::wait;
    if (c.state == 0) return Rx::frame;
    if (c.buffer[0] != 3 || c.buffer[1] != 0) return Rx::close;
    unsigned len = unsigned(c.buffer[2]) << 8 | c.buffer[3];
    if (len < 4) return Rx::close;
    c.received = 0;
    if (len == 4) continue;  // empty frame: next header
    if (len - 4 > sizeof c.buffer) return Rx::close;
    c.state = 0;
    c.needed = len - 4;
  }
}

template <class C>
void expect_header(C& c) {
  c.state = 1;
  c.needed = 4;
  c.received = 0;
}

}  // namespace

// ---------------------------------------------------------------------------

template <class Owner, class Conn>
TPKTServer<Owner, Conn>::~TPKTServer() {
  for (Conn* c : connections_) delete c;
  event_.Release();
}

template <class Owner, class Conn>
unsigned short TPKTServer<Owner, Conn>::LocalPort() const {
  if (!event_.scheduled()) return 0;
  INet4::Addr a;
  socklen_t len = INet4::Addr::length();
  if (getsockname(event_.fd.get(), a.get(), &len) < 0) return 0;
  return a.GetPort();
}

template <class Owner, class Conn>
typename TPKTServer<Owner, Conn>::Connections::iterator TPKTServer<Owner, Conn>::FindConnection(
    int fd) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it)
    if ((*it)->event.fd.get() == fd) return it;
  return connections_.end();
}

template <class Owner, class Conn>
bool TPKTServer<Owner, Conn>::Open(unsigned short port, char const* event_name) {
  Fd s(listen_socket(port));
  if (!s) return false;
  event_.Bind(event_name, &Owner::OnEvent, static_cast<Owner*>(this));
  event_.Schedule(s, POLLIN);
  return true;
}

template <class Owner, class Conn>
void TPKTServer<Owner, Conn>::Accept(int fd, char const* opening, char const* data_name) {
  Owner& owner = static_cast<Owner&>(*this);
  for (;;) {
    INet4::Addr peer;
    socklen_t len = INet4::Addr::length();
    Fd s(accept(fd, peer.get(), &len));
    if (!s) break;
    SetCloexec(s.get(), true);
    std::clog << opening << peer << std::endl;
    if (!s.NonBlock()) continue;
    Conn* c = new Conn;
    c->event.Bind(data_name, &Owner::OnDataEvent, &owner);
    c->event.Schedule(s, POLLIN);
    connections_.push_back(c);
    owner.Accepted(c, peer);
  }
}

template <class Owner, class Conn>
void TPKTServer<Owner, Conn>::Serve(int fd, short revents) {
  Owner& owner = static_cast<Owner&>(*this);
  auto it = FindConnection(fd);
  if (it == connections_.end()) return;
  if (revents & (POLLERR | POLLHUP)) {
    owner.CloseConnection(it);
    return;
  }
  if (!(revents & POLLIN)) return;
  Conn* c = *it;
  for (;;) {
    Rx rx = read_frame(*c, fd);
    if (rx == Rx::wait) return;
    if (rx == Rx::close) {
      owner.CloseConnection(it);
      return;
    }
    if (!owner.Deliver(it)) return;
    expect_header(*c);
  }
}

template class TPKTServer<TPKTTracer, TPKTConnection<512>>;
template class TPKTServer<TPKTTracerP2P, TPKTPeerConnection>;

// ---------------------------------------------------------------------------

TPKTTracer::TPKTTracer() : listener_(nullptr), current_(connections_.end()) {}

bool TPKTTracer::Listen(unsigned short port) {
  return Open(port, "TPKTTracer::OnEvent");
}

void TPKTTracer::OnEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  Accept(fd, "ACP connection open from ", "TPKTTracer::OnDataEvent");
}

void TPKTTracer::CloseConnection(Connections::iterator pos) {
  if (pos == connections_.end()) return;
  if (current_ == pos) current_ = connections_.end();
  delete *pos;
  connections_.erase(pos);
}

void TPKTTracer::OnDataEvent(int fd, short revents) {
  Serve(fd, revents);
  current_ = connections_.end();
}

bool TPKTTracer::Deliver(Connections::iterator pos) {
  current_ = pos;
  Connection* c = *pos;
  if (listener_) listener_->OnTPKTMessage(c->buffer, c->needed);
  // A reply that failed closed the connection meanwhile.
  return current_ != connections_.end();
}

void TPKTTracer::SendTo(Connections::iterator pos, void const* data, unsigned int len) {
  ssize_t n = send_frame((*pos)->event.fd.get(), data, len);
  if ((n < 0 && errno != EINTR) || (n >= 0 && size_t(n) < len + 4u)) CloseConnection(pos);
}

void TPKTTracer::Send(void const* data, unsigned int len) {
  if (len > max_frame_body) {
    std::clog << "TPKTTracer: message too big, length = " << len << " max = " << max_frame_body
              << ", dropped." << std::endl;
    return;
  }
  if (current_ != connections_.end()) {
    SendTo(current_, data, len);
    return;
  }
  for (auto it = connections_.begin(); it != connections_.end();) {
    auto next = std::next(it);
    SendTo(it, data, len);
    it = next;
  }
}

// ---------------------------------------------------------------------------

TPKTTracerP2P::TPKTTracerP2P() : listener_(nullptr), port_(0) {}

bool TPKTTracerP2P::Listen(unsigned short port) {
  if (!Open(port, "TPKTTracerP2P::OnEvent")) return false;
  port_ = port;
  return true;
}

void TPKTTracerP2P::OnEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  Accept(fd, "TPKT peer-to-peer connection open from ", "TPKTTracerP2P::OnDataEvent");
}

void TPKTTracerP2P::Accepted(Connection* c, INet4::Addr const& peer) {
  c->peer = peer;
  if (listener_) listener_->OnTPKTConnected(peer, c->event.fd.get());
}

TPKTTracerP2P::Connections::iterator TPKTTracerP2P::FindConnection(INet4::Addr const& peer) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it)
    if ((*it)->peer.IsEqual(peer)) return it;
  return connections_.end();
}

void TPKTTracerP2P::CloseConnection(Connections::iterator pos) {
  if (pos == connections_.end()) return;
  Connection* c = *pos;
  INet4::Addr peer = c->peer;
  if (listener_) listener_->OnTPKTClosed(peer);
  std::clog << "TPKT peer-to-peer connection close for " << peer << std::endl;
  // The listener may have closed it itself meanwhile.
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (*it == c) {
      connections_.erase(it);
      delete c;
      break;
    }
  }
}

void TPKTTracerP2P::OnDataEvent(int fd, short revents) {
  Serve(fd, revents);
}

bool TPKTTracerP2P::Deliver(Connections::iterator pos) {
  Connection* c = *pos;
  int fd = c->event.fd.get();
  if (listener_) listener_->OnTPKTMessage(c->peer, c->buffer, c->needed);
  // The listener may have closed this connection from inside the call.
  auto it = FindConnection(fd);
  return it != connections_.end() && *it == c;
}

int TPKTTracerP2P::Send(INet4::Addr const& peer, void const* data, unsigned int len) {
  auto it = FindConnection(peer);
  if (it == connections_.end()) return -EFAULT;
  if (len > max_frame_body) {
    std::clog << "TPKT peer-to-peer message too big for " << peer << ", length = " << len
              << " max = " << max_frame_body << ", dropped." << std::endl;
    return -EMSGSIZE;
  }
  ssize_t n = send_frame((*it)->event.fd.get(), data, len);
  if (n < 0) {
    int error = errno;
    if (error != EINTR) CloseConnection(it);
    return -error;
  }
  if (size_t(n) < len + 4u) {
    CloseConnection(it);
    return int(n);
  }
  return int(n);
}

int TPKTTracerP2P::Close(INet4::Addr const& peer) {
  auto it = FindConnection(peer);
  if (it == connections_.end()) return -EFAULT;
  CloseConnection(it);
  return 0;
}

bool TPKTTracerP2P::IsConnected(INet4::Addr const& peer) {
  return FindConnection(peer) != connections_.end();
}
