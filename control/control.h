// Control endpoints: one stream connection carrying TPKT frames, with the
// callbacks of one user.
//
// Each endpoint owns a two-layer stack [StrmProtocol, Tpkt_protocol]; it
// attaches a connected socket to it, hands every received frame body to its
// Control::Notify and sends byte blocks as frames. The TCP flavours are the
// single-client listener of the control port and the reconnecting client of
// the SNMP agent links. The Unix-domain flavours are not built: nothing in
// the daemon would ever construct them.
#ifndef VELMARD_CONTROL_CONTROL_H
#define VELMARD_CONTROL_CONTROL_H

#include <string>

#include "control/packet.h"
#include "control/protocol.h"
#include "core/fd.h"
#include "core/inet.h"
#include "core/multiplexer.h"
#include "core/timer.h"

class StrmProtocol;

namespace Control {

// The user of one endpoint.
class Notify {
 public:
  virtual ~Notify() {}
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  virtual void OnMessage(char const* data, int len) = 0;
};

class Service : private ProtocolsFamily {
 public:
  struct State {
    enum Type { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
  };

  Service();
  ~Service() override;

  void Bind(Notify* notify) { notify_ = notify; }
  void UnBind() { notify_ = nullptr; }

  bool Activate();
  // Stops the endpoint without telling the user.
  void Deactivate();
  // Closes the live connection; the user hears of it on the next loop turn.
  void Disconnect();
  // One TPKT frame, only while Connected.
  void Send(char const* data, int len);
  // Drops and closes the stack's socket.
  void Release();

  void service_name(std::string const& name);
  std::string const& service_name() const;

  unsigned GetOverflowCounter() const;
  Measure const& get_read_measure() const;
  Measure const& get_write_measure() const;

  State::Type GetState() const { return state_; }
  // The peer of the last attached connection, as "a.b.c.d:port".
  std::string const& GetConnectionName() const { return connectionName_; }

 protected:
  // Protocol family hooks.
  void on_message(Packet& p) override;
  void on_activated(Protocol*) override {}
  void on_deactivated(Protocol* p, Protocol_status status) override;

  virtual bool ImplActivate() = 0;
  virtual void ImplDeactivate() = 0;
  virtual void ImplOnDisconnect() = 0;

  // Attaches a connected socket to the stack and reports the connect.
  void Attach(Fd const& sock, std::string const& name);
  // The socket of the live connection, -1 when none is attached.
  int ConnectionFd() const;

  bool verbose_ = true;

 private:
  void OnDeactivateDPC();

  std::string connectionName_;
  State::Type state_ = State::Idle;
  // Sends refused since the last connection; only the first is logged.
  unsigned long refusedSends_ = 0;
  Notify* notify_ = nullptr;
  StrmProtocol* bottom_ = nullptr;
  Dpc deactivateDpc_;
};

char const* GetTextNotation(Service::State::Type state);

class ServiceNet : public Service {
 public:
  // Attaches a connected TCP socket; ignored while a close is pending.
  void Connected(Fd const& sock, INet4::Addr const& peer);

  INet4::Addr const& GetPeer() const { return peer_; }

 protected:
  INet4::Addr peer_;
};

// Listener serving one client at a time.
class AcceptorNet : public ServiceNet {
 public:
  AcceptorNet();
  explicit AcceptorNet(int port);
  AcceptorNet(int port, bool verbose);
  ~AcceptorNet() override;

  unsigned short GetPort() const { return port_; }
  // The port the listening socket is bound to (the system's choice for
  // port 0); 0 while not bound.
  unsigned short GetBoundPort() const;

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override {}
  virtual void ImplRefuseConnection() {}
  virtual void ImplConnected(Fd const&) {}

  bool HasListenSocket() const { return bool(listenSocket_); }

 private:
  void BindSocket();
  void OnTimeout(Timer*);
  void OnSocketEvent(int fd, short revents);
  // The live connection's peer has closed or reset it, whether or not the
  // stream layer has read that yet.
  bool LiveConnectionEnded() const;

  unsigned short port_;  // every constructor sets it
  Fd listenSocket_;
  Timer bindTimer_;
  Event listenEvent_;
};

// The control-port listener: a second client knocking makes it suspect the
// live connection and probe it.
class AcceptorNetCheckConnection : public AcceptorNet {
 public:
  struct CheckState {
    enum Type { Idle = 0, CheckConnection = 1 };
  };

  AcceptorNetCheckConnection();
  explicit AcceptorNetCheckConnection(int port);
  AcceptorNetCheckConnection(int port, bool verbose);
  ~AcceptorNetCheckConnection() override;

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  void ImplRefuseConnection() override;
  void ImplConnected(Fd const& sock) override;

 private:
  void Init();
  void SetupKeepAlive(bool fast);
  void CheckConnection();
  void OnCheckConnectionTimeout(Timer*);

  Timer checkTimer_;
  Fd probe_;
  int checkState_ = CheckState::Idle;
  int probeCounter_ = 0;
};

// Reconnecting TCP client.
class ConnectorNet : public ServiceNet {
 public:
  ConnectorNet();
  ConnectorNet(std::string const& host, unsigned short port);
  explicit ConnectorNet(std::string const& address);
  ~ConnectorNet() override;

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

 private:
  INet4::Addr Address() const;
  void TryConnect();
  void OnTimeout(Timer*);
  void OnSocketEvent(int fd, short revents);
  // The quick schedule while it lasts, then the given period.
  void Retry(unsigned slowMs);

  unsigned short port_ = 0;
  std::string host_;
  Fd socket_;
  Timer retryTimer_;
  Event connectEvent_;
  int fastRetries_ = 0;
};

}  // namespace Control

#endif  // VELMARD_CONTROL_CONTROL_H
