#include "control/control.h"

#include <errno.h>
#include <fcntl.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "control/strm.h"
#include "control/tpkt.h"
#include "core/profile.h"
#include "core/timer.h"

namespace Control {

namespace {

// The size of struct tcp_info up to tcpi_rcv_space, all this code reads;
// the kernel fills what it knows within that length.
constexpr socklen_t tcpInfoLength = 92;

// The TPKT length field counts its 4-byte header in 16 bits.
constexpr unsigned maxFrameBody = 65535 - 4;

Fd NewTcpSocket() {
  return Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
}

}  // namespace

char const* GetTextNotation(Service::State::Type state) {
  switch (state) {
    case Service::State::Idle:
      return "Idle";
    case Service::State::Connecting:
      return "Connecting";
    case Service::State::Deactivating:
      return "Deactivating";
    case Service::State::Connected:
      return "Connected";
  }
  return "Unknown";
}

// ---------------------------------------------------------------------------
// Service

Service::Service() {
  bottom_ = new StrmProtocol;
  add_protocol_tail(bottom_);
  add_protocol_tail(new Tpkt_protocol);
  deactivateDpc_.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() {
  deactivateDpc_.Deactivate();
}

bool Service::Activate() {
  Deactivate();
  state_ = State::Connecting;
  bool ok = ImplActivate();
  if (!ok) state_ = State::Idle;
  return ok;
}

void Service::Deactivate() {
  // A close still waiting to be reported must not bring a stopped endpoint
  // back to life (a connector would even start reconnecting).
  deactivateDpc_.Deactivate();
  ImplDeactivate();
  state_ = State::Idle;
}

void Service::Disconnect() {
  if (state_ == State::Deactivating) return;
  deactivate();
}

void Service::Release() {
  bottom_->release();
}

void Service::service_name(std::string const& name) {
  bottom_->set_service_name(name);
}

std::string const& Service::service_name() const {
  return bottom_->service_name();
}

unsigned Service::GetOverflowCounter() const {
  return bottom_->failed_writes();
}

Measure const& Service::get_read_measure() const {
  return bottom_->read_measure();
}

Measure const& Service::get_write_measure() const {
  return bottom_->write_measure();
}

void Service::Send(char const* data, int len) {
  if (state_ == State::Deactivating) return;
  if (state_ != State::Connected) {
    // Services with a cycle of their own (the trunk status) keep sending
    // while no controller is there: one line, then a count until the next
    // connection, or syslog fills up on a board whose controller is down.
    if (!verbose_) return;
    if (refusedSends_++ == 0)
      std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(state_)
                << " state." << std::endl;
    return;
  }
  static Profile::Point point1("Control::Service::Send [1]");
  static Profile::Point point2("Control::Service::Send [2]");
  point1.begin();
  Packet p;
  prepare_head(p);
  p.passert(!p.is_null(), "null packet");
  unsigned n = len > 0 ? unsigned(len) : 0;
  // A payload that cannot fit one frame is refused rather than cut: the
  // controller would read a truncated message as a different one.
  if (n > maxFrameBody || n > p.tailroom()) {
    point1.end();
    std::cerr << "Control::Service::Send() message of " << n << " bytes too long, dropped."
              << std::endl;
    return;
  }
  p.put(data, n);
  uint32_t now = Mux::microseconds();  // ends the first part, begins the second
  point1.end_at(now);
  point2.begin_at(now);
  message(p);
  point2.end();
}

void Service::on_message(Packet& p) {
  if (state_ == State::Deactivating || !notify_) return;
  p.passert(!p.is_null(), "null packet");
  notify_->OnMessage(reinterpret_cast<char const*>(p.data()), int(p.length()));
}

void Service::on_deactivated(Protocol*, Protocol_status) {
  if (verbose_) std::cerr << "control connection " << connectionName_ << " closed." << std::endl;
  state_ = State::Deactivating;
  deactivateDpc_.Activate();
}

void Service::OnDeactivateDPC() {
  deactivateDpc_.Deactivate();
  state_ = State::Connecting;
  ImplOnDisconnect();
  if (notify_) notify_->OnDisconnect();
}

int Service::ConnectionFd() const {
  return bottom_->fd();
}

void Service::Attach(Fd const& sock, std::string const& name) {
  if (refusedSends_ > 1)
    std::cerr << "Control::Service::Send() ignored " << refusedSends_ - 1
              << " more Send requests while not connected." << std::endl;
  refusedSends_ = 0;
  connectionName_ = name;
  state_ = State::Connected;
  bottom_->attach(sock);
  activate();
  if (notify_) notify_->OnConnect();
}

// ---------------------------------------------------------------------------
// ServiceNet

void ServiceNet::Connected(Fd const& sock, INet4::Addr const& peer) {
  if (GetState() == State::Deactivating) return;
  int one = 1;
  if (::setsockopt(sock.get(), SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) < 0 && verbose_)
    std::cerr << "fail set keepalive to control socket." << std::endl;
  if (::setsockopt(sock.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) < 0 && verbose_)
    std::cerr << "fail to turn off Nagle algorithm." << std::endl;
  peer_ = peer;
  Attach(sock, peer.GetString());
}

// ---------------------------------------------------------------------------
// AcceptorNet

AcceptorNet::AcceptorNet() : AcceptorNet(0) {}

AcceptorNet::AcceptorNet(int port) : port_(static_cast<unsigned short>(port)) {
  listenEvent_.Bind("AcceptorNet::OnSocketEvent", &AcceptorNet::OnSocketEvent, this);
}

AcceptorNet::AcceptorNet(int port, bool verbose) : AcceptorNet(port) {
  verbose_ = verbose;
}

AcceptorNet::~AcceptorNet() {}

unsigned short AcceptorNet::GetBoundPort() const {
  // Without a listening socket the query fails too.
  sockaddr_in a;
  socklen_t len = sizeof a;
  if (::getsockname(listenSocket_.get(), reinterpret_cast<sockaddr*>(&a), &len) < 0) return 0;
  return ntohs(a.sin_port);
}

bool AcceptorNet::ImplActivate() {
  listenSocket_ = NewTcpSocket();
  if (!listenSocket_) {
    if (verbose_) std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
    return false;
  }
  int one = 1;
  ::setsockopt(listenSocket_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  BindSocket();
  return true;
}

void AcceptorNet::BindSocket() {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port_);
  if (::bind(listenSocket_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
    if (verbose_)
      std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\"  waiting..."
                << std::endl;
    bindTimer_.set(5000, &AcceptorNet::OnTimeout, this);
    return;
  }
  if (::listen(listenSocket_.get(), 1) < 0) {
    if (verbose_) std::cerr << "can't listen socket: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (!listenSocket_.NonBlock()) {
    if (verbose_)
      std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  listenEvent_.Schedule(listenSocket_, POLLIN);
}

void AcceptorNet::OnTimeout(Timer*) {
  if (listenSocket_) BindSocket();
}

void AcceptorNet::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    // While the previous connection's close is still being reported, a
    // newcomer waits in the backlog: it is taken on the next pass, once
    // the endpoint can serve it, instead of being accepted into nothing.
    if (GetState() == State::Deactivating) return;
    // A controller that reconnects at once knocks before the end of its
    // old connection has been read: close that one now, and the newcomer,
    // still in the backlog, is served once the close is reported.
    if (GetState() == State::Connected && LiveConnectionEnded()) {
      Disconnect();
      return;
    }
    sockaddr_in a;
    socklen_t len = sizeof a;
    Fd sock(::accept4(listenSocket_.get(), reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC));
    if (!sock) return;
    INet4::Addr peer(a);
    if (GetState() != State::Connected) {
      if (!sock.NonBlock()) {
        if (verbose_)
          std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
        continue;
      }
      if (verbose_) std::cout << "new connection from " << peer << std::endl;
      Connected(sock, peer);
      ImplConnected(sock);
    } else {
      if (verbose_) std::cerr << "refuse connection from " << peer << std::endl;
      ImplRefuseConnection();
    }
  }
}

bool AcceptorNet::LiveConnectionEnded() const {
  int fd = ConnectionFd();
  if (fd < 0) return false;
  char c;
  ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return true;
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return true;
  tcp_info info;
  std::memset(&info, 0, sizeof info);
  socklen_t len = tcpInfoLength;
  return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 &&
         info.tcpi_state != TCP_ESTABLISHED;
}

void AcceptorNet::ImplDeactivate() {
  bindTimer_.reset();
  listenEvent_.Release();
  listenSocket_.close();
}

// ---------------------------------------------------------------------------
// AcceptorNetCheckConnection

AcceptorNetCheckConnection::AcceptorNetCheckConnection() : AcceptorNet() {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port) : AcceptorNet(port) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port, bool verbose)
    : AcceptorNet(port, verbose) {}

AcceptorNetCheckConnection::~AcceptorNetCheckConnection() {}

bool AcceptorNetCheckConnection::ImplActivate() {
  // Without a listening socket no controller can ever reach us: say so
  // instead of pretending the control port is open.
  if (!AcceptorNet::ImplActivate() || !HasListenSocket()) return false;
  CheckConnection();
  return true;
}

void AcceptorNetCheckConnection::ImplDeactivate() {
  checkTimer_.reset();
  probe_.close();
  checkState_ = CheckState::Idle;
  AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::ImplOnDisconnect() {
  // The probe is a duplicate of the connection's socket: while it stays
  // open the peer never sees the connection end.
  probe_.close();
  checkState_ = CheckState::Idle;
  probeCounter_ = 0;
}

void AcceptorNetCheckConnection::ImplConnected(Fd const& sock) {
  if (GetState() != State::Connected) return;
  probe_ = sock;
}

void AcceptorNetCheckConnection::ImplRefuseConnection() {
  if (checkState_ != CheckState::Idle) return;
  checkState_ = CheckState::CheckConnection;
  probeCounter_ = 2;
  SetupKeepAlive(true);
  if (verbose_) std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool fast) {
  int fd = probe_.get();
  int one = 1;
  int idle = fast ? 1 : 7200;
  int intvl = fast ? 1 : 75;
  int cnt = fast ? 3 : 9;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof intvl);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &cnt, sizeof cnt);
}

void AcceptorNetCheckConnection::OnCheckConnectionTimeout(Timer*) {
  CheckConnection();
}

void AcceptorNetCheckConnection::CheckConnection() {
  if (GetState() == State::Connected) {
    bool close = false;
    std::string const& name = GetConnectionName();
    tcp_info info;
    std::memset(&info, 0, sizeof info);
    socklen_t len = tcpInfoLength;
    if (::getsockopt(probe_.get(), IPPROTO_TCP, TCP_INFO, &info, &len) == 0) {
      if (info.tcpi_state != TCP_ESTABLISHED) {
        close = true;
        if (verbose_)
          std::cerr << "connection from " << name << " closed: tcp socket change state."
                    << std::endl;
      }
      if (checkState_ == CheckState::CheckConnection) {
        if (info.tcpi_ca_state != 0) {
          if (probeCounter_ > 0) --probeCounter_;
          if (probeCounter_ < 1) {
            close = true;
            if (verbose_)
              std::cerr << "connection from " << name << " closed: tcp socket change ca_state."
                        << std::endl;
          }
        } else {
          checkState_ = CheckState::Idle;
          SetupKeepAlive(false);
          if (verbose_) std::cerr << "CheckConnectionState Idle" << std::endl;
        }
      }
    }
    int pending = 0;
    socklen_t plen = sizeof pending;
    if (::getsockopt(probe_.get(), SOL_SOCKET, SO_ERROR, &pending, &plen) < 0 || pending != 0) {
      close = true;
      if (verbose_)
        std::cerr << "connection from " << name
                  << " closed: " << std::strerror(pending ? pending : errno) << std::endl;
    }
    if (close) {
      checkState_ = CheckState::Idle;
      SetupKeepAlive(false);
      Disconnect();
      if (verbose_) std::cerr << "CheckConnectionState Idle" << std::endl;
    }
  }
  checkTimer_.set(1000, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

// ---------------------------------------------------------------------------
// ConnectorNet

ConnectorNet::ConnectorNet() {
  connectEvent_.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::ConnectorNet(std::string const& host, unsigned short port) : ConnectorNet() {
  host_ = host;
  port_ = port;
}

ConnectorNet::ConnectorNet(std::string const& address) : ConnectorNet() {
  INet4::Addr a;
  a.Assign(address.c_str(), nullptr);
  port_ = a.GetPort();
  host_ = ::inet_ntoa(a.sa.sin_addr);
}

ConnectorNet::~ConnectorNet() {}

INet4::Addr ConnectorNet::Address() const {
  INet4::Addr a;
  a.SetPort(port_);
  a.Assign(host_.c_str(), nullptr);
  return a;
}

bool ConnectorNet::ImplActivate() {
  fastRetries_ = 7;
  TryConnect();
  return true;
}

void ConnectorNet::OnTimeout(Timer*) {
  TryConnect();
}

void ConnectorNet::Retry(unsigned slowMs) {
  unsigned ms = slowMs;
  if (fastRetries_ > 0) {
    --fastRetries_;
    ms = 1000;
  }
  retryTimer_.set(ms, &ConnectorNet::OnTimeout, this);
}

void ConnectorNet::TryConnect() {
  INet4::Addr address = Address();
  socket_ = NewTcpSocket();
  if (!socket_) {
    std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (!socket_.NonBlock()) {
    std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (::connect(socket_.get(), address.get(), INet4::Addr::length()) == 0) {
    std::clog << "already connected to " << address << std::endl;
    Connected(socket_, address);
    socket_.close();
    return;
  }
  if (errno == EINPROGRESS) {
    connectEvent_.Schedule(socket_, POLLOUT);
    return;
  }
  std::cerr << "can't connect to " << address << " : " << std::strerror(errno) << std::endl;
  Retry(20000);
}

void ConnectorNet::OnSocketEvent(int, short revents) {
  INet4::Addr address = Address();
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << address << std::endl;
    connectEvent_.Release();
    Retry(15000);
    return;
  }
  if (!(revents & POLLOUT)) return;
  connectEvent_.Release();
  int pending = 0;
  socklen_t len = sizeof pending;
  if (::getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &pending, &len) < 0) {
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (pending == 0) {
    std::cout << "connected to " << address << "." << std::endl;
    Connected(socket_, address);
    socket_.close();
    return;
  }
  std::cerr << "fail to connect to " << address << std::endl;
  Retry(12000);
}

void ConnectorNet::ImplOnDisconnect() {
  // No quick retries here: the counter is not refilled.
  retryTimer_.set(10000, &ConnectorNet::OnTimeout, this);
}

void ConnectorNet::ImplDeactivate() {
  Release();
  socket_.close();
  retryTimer_.reset();
  connectEvent_.Release();
}

}  // namespace Control
