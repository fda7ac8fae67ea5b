// Small TCP servers that exchange TPKT-framed messages with any number of
// clients, without the protocol stack: each keeps its own connections and
// reads frames into a fixed buffer. TPKTTracer broadcasts and delivers
// bodies of up to 512 bytes to one listener; TPKTTracerP2P addresses each
// client by its address and port and takes bodies of up to 2048 bytes.
#ifndef VELMARD_CONTROL_TRACERS_H
#define VELMARD_CONTROL_TRACERS_H

#include <list>

#include "core/inet.h"
#include "core/multiplexer.h"

// One client: the buffer holds the header first, then the body, both read
// into its start.
template <unsigned Size>
struct TPKTConnection {
  int state = 1;  // 1 header, 0 body
  unsigned needed = 4;
  unsigned received = 0;
  Event event;
  unsigned char buffer[Size];
};

struct TPKTPeerConnection : TPKTConnection<2048> {
  INet4::Addr peer;
};

// The listening socket, the client list and the frame reader both tracers
// share. `Owner` provides OnEvent, OnDataEvent, CloseConnection, Accepted
// and Deliver (which hands one body over and tells whether the connection
// still stands).
template <class Owner, class Conn>
class TPKTServer {
 public:
  typedef std::list<Conn*> Connections;

  TPKTServer() {}
  TPKTServer(TPKTServer const&) = delete;
  TPKTServer& operator=(TPKTServer const&) = delete;
  ~TPKTServer();

  // The bound port (useful after Listen(0)); 0 when not listening.
  unsigned short LocalPort() const;
  unsigned ConnectionCount() const { return unsigned(connections_.size()); }
  typename Connections::iterator FindConnection(int fd);

 protected:
  bool Open(unsigned short port, char const* event_name);
  // Accepts every waiting client, each announced on the log stream after
  // `opening` and handed to the owner's Accepted once listed.
  void Accept(int fd, char const* opening, char const* data_name);
  void Serve(int fd, short revents);

  Event event_;
  Connections connections_;
};

class TPKTTracer : public TPKTServer<TPKTTracer, TPKTConnection<512>> {
 public:
  class Listener {
   public:
    virtual ~Listener() {}
    virtual void OnTPKTMessage(void const* data, unsigned int len) = 0;
  };

  typedef TPKTConnection<512> Connection;

  TPKTTracer();

  bool Listen(unsigned short port);
  // A reply to the sender while a received frame is being delivered,
  // otherwise a broadcast to every client.
  void Send(void const* data, unsigned int len);

  void SetListener(Listener* l) { listener_ = l; }

  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);
  void CloseConnection(Connections::iterator pos);

 private:
  friend class TPKTServer<TPKTTracer, Connection>;
  void Accepted(Connection*, INet4::Addr const&) {}
  bool Deliver(Connections::iterator pos);
  void SendTo(Connections::iterator pos, void const* data, unsigned int len);

  Listener* listener_;
  Connections::iterator current_;
};

class TPKTTracerP2P : public TPKTServer<TPKTTracerP2P, TPKTPeerConnection> {
 public:
  class Listener {
   public:
    virtual ~Listener() {}
    virtual void OnTPKTConnected(INet4::Addr const& peer, int fd) = 0;
    virtual void OnTPKTClosed(INet4::Addr const& peer) = 0;
    virtual void OnTPKTMessage(INet4::Addr const& peer, void const* data, unsigned int len) = 0;
  };

  typedef TPKTPeerConnection Connection;

  TPKTTracerP2P();

  bool Listen(unsigned short port);
  // len + 4 on success; -EFAULT for an unknown peer, -EMSGSIZE for a body
  // the length field cannot hold, the negated error of a failed send, or
  // the count of a short send (the connection is then closed).
  int Send(INet4::Addr const& peer, void const* data, unsigned int len);
  int Close(INet4::Addr const& peer);
  bool IsConnected(INet4::Addr const& peer);

  void SetListener(Listener* l) { listener_ = l; }
  unsigned short Port() const { return port_; }

  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);
  using TPKTServer::FindConnection;
  Connections::iterator FindConnection(INet4::Addr const& peer);
  void CloseConnection(Connections::iterator pos);

 private:
  friend class TPKTServer<TPKTTracerP2P, Connection>;
  void Accepted(Connection* c, INet4::Addr const& peer);
  bool Deliver(Connections::iterator pos);

  Listener* listener_;
  unsigned short port_;
};

extern template class TPKTServer<TPKTTracer, TPKTConnection<512>>;
extern template class TPKTServer<TPKTTracerP2P, TPKTPeerConnection>;

#endif  // VELMARD_CONTROL_TRACERS_H
