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

class TPKTTracer {
 public:
  class Listener {
   public:
    virtual ~Listener() {}
    virtual void OnTPKTMessage(void const* data, unsigned int len) = 0;
  };

  struct Connection {
    Connection() : state(1), needed(4), received(0) {}
    int state;  // 1 header, 0 body
    unsigned needed;
    unsigned received;
    Event event;
    unsigned char buffer[512];
  };
  typedef std::list<Connection*> Connections;

  TPKTTracer();
  TPKTTracer(TPKTTracer const&) = delete;
  TPKTTracer& operator=(TPKTTracer const&) = delete;
  ~TPKTTracer();

  bool Listen(unsigned short port);
  // A reply to the sender while a received frame is being delivered,
  // otherwise a broadcast to every client.
  void Send(void const* data, unsigned int len);

  void SetListener(Listener* l) { listener_ = l; }
  // The bound port (useful after Listen(0)); 0 when not listening.
  unsigned short LocalPort() const;
  unsigned ConnectionCount() const { return unsigned(connections_.size()); }

  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);
  Connections::iterator FindConnection(int fd);
  void CloseConnection(Connections::iterator pos);

 private:
  void SendTo(Connections::iterator pos, void const* data, unsigned int len);

  Listener* listener_;
  Event event_;
  Connections connections_;
  Connections::iterator current_;
};

class TPKTTracerP2P {
 public:
  class Listener {
   public:
    virtual ~Listener() {}
    virtual void OnTPKTConnected(INet4::Addr const& peer, int fd) = 0;
    virtual void OnTPKTClosed(INet4::Addr const& peer) = 0;
    virtual void OnTPKTMessage(INet4::Addr const& peer, void const* data,
                               unsigned int len) = 0;
  };

  struct Connection {
    Connection() : state(1), needed(4), received(0) {}
    int state;  // 1 header, 0 body
    unsigned needed;
    unsigned received;
    Event event;
    INet4::Addr peer;
    unsigned char buffer[2048];
  };
  typedef std::list<Connection*> Connections;

  TPKTTracerP2P();
  TPKTTracerP2P(TPKTTracerP2P const&) = delete;
  TPKTTracerP2P& operator=(TPKTTracerP2P const&) = delete;
  ~TPKTTracerP2P();

  bool Listen(unsigned short port);
  // len + 4 on success; -EFAULT for an unknown peer, -EMSGSIZE for a body
  // the length field cannot hold, the negated error of a failed send, or
  // the count of a short send (the connection is then closed).
  int Send(INet4::Addr const& peer, void const* data, unsigned int len);
  int Close(INet4::Addr const& peer);
  bool IsConnected(INet4::Addr const& peer);

  void SetListener(Listener* l) { listener_ = l; }
  unsigned short LocalPort() const;
  unsigned short Port() const { return port_; }
  unsigned ConnectionCount() const { return unsigned(connections_.size()); }

  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);
  Connections::iterator FindConnection(int fd);
  Connections::iterator FindConnection(INet4::Addr const& peer);
  void CloseConnection(Connections::iterator pos);

 private:
  Listener* listener_;
  Event event_;
  Connections connections_;
  unsigned short port_;
};

#endif  // VELMARD_CONTROL_TRACERS_H
