// The control server: the one control channel above its endpoint.
//
// It decodes each received frame into an LGCP::Message, keeps the context of
// the command in hand (sequence and slot number), offers the command to the
// bound services in bind order until one takes it, and makes sure every
// dispatched command is answered: at most one success and at most one
// error, or a later answer when a service says so. It also sends the
// services' signals, after letting every other bound service see them.
#ifndef VELMARD_CONTROL_CTRLSRV_H
#define VELMARD_CONTROL_CTRLSRV_H

#include <cstdint>
#include <list>
#include <map>
#include <vector>
#include <ostream>

#include "control/control.h"
#include "core/timer.h"
#include "asn1/modules/LGCP.h"

namespace CtrlSrv {

class Server;

// Base of every control service.
class Service {
 public:
  Service() {}
  Service(Service const&) = delete;
  Service& operator=(Service const&) = delete;
  virtual ~Service() {}

  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // True: taken, offered to no further service.
  virtual bool OnCommand(LGCP::Command const& cmd) = 0;
  virtual void OnSignal(LGCP::Signal const&) {}

  bool CheckServer() const;
  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  void SendSignal(LGCP::Signal const& signal);
  void SendSignal(unsigned int slot, LGCP::Signal const& signal);
  unsigned GetSlot() const;
  bool IsSlotPresent() const;
  // Marks the command in hand as answered later; the token goes back
  // unchanged to delayedSuccess.
  unsigned delayResponse();
  void delayedSuccess(unsigned int slot, unsigned int token);
  bool CheckServerConnection(bool& connected) const;

  Server* GetServer() const { return server_; }

 private:
  friend class Server;
  void OfferSignal(LGCP::Signal const& signal);

  Server* server_ = nullptr;
};

class Server : public Control::Notify {
 public:
  static constexpr uint32_t noSlot = 0xFFFFFFFFu;
  // The highest slot number a command may carry; a higher one is answered
  // `invalidSlot` before any service sees the command.
  static constexpr uint32_t maxSlot = 1023;

  Server();
  ~Server() override;

  void Bind(Service* service);
  // Takes ownership of the endpoint.
  bool Activate(Control::Service* endpoint);
  void Deactivate();

  // Control::Notify
  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(char const* data, int len) override;

  void OnMessage(LGCP::Message const& msg);

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  unsigned delayResponse();
  void delayedSuccess(unsigned int slot, unsigned int token);
  void SendSignal(LGCP::Signal const& signal);
  void SendSignal(unsigned int slot, LGCP::Signal const& signal);
  void SendMsg(LGCP::Message& msg);
  void AssignSeq(LGCP::Message& msg) const;
  void AssignSlot(LGCP::Message& msg) const;
  bool IsSlotPresent() const { return slot_ != noSlot; }
  uint32_t GetSlot() const { return slot_; }
  bool CheckServerConnection(bool& connected) const;
  void OnHeartbeatTimeout();
  void SetAvgStatTimer();
  void OnUpdateAvgStat() {}
  void PutHeader(std::ostream& out) const;

  std::list<Service*> const& GetServices() const { return services_; }
  Control::Service* GetTransport() const { return transport_; }

 private:
  std::list<Service*> services_;
  Control::Service* transport_ = nullptr;
  bool seqPresent_ = false;
  int32_t seq_ = 0;
  uint32_t slot_ = noSlot;
  int answer_ = 0;
  Timer avgStatTimer_;

  // The sequence context of each command of this connection answered
  // later, by token, so the late success echoes exactly what that command
  // carried. Tokens are not reused, so one of an ended connection is never
  // found again.
  struct Delayed {
    bool seqPresent;
    int32_t seq;
  };
  std::map<unsigned, Delayed> delayed_;
  unsigned nextToken_ = 0;

  // Encoding space kept from one message to the next; a message sent while
  // another is being sent (from inside the transport) codes into its own.
  std::vector<char> sendBuffer_;
  bool sendBufferBusy_ = false;
};

}  // namespace CtrlSrv

extern CtrlSrv::Server ctrlServer;

#endif  // VELMARD_CONTROL_CTRLSRV_H
