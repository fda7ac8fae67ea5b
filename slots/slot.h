// The root of every endpoint the controller creates by number.
//
// A slot belongs to the slot table (`Slots`), which creates it through a
// factory and deletes it. Media paths are one-way links: a slot has at most
// one source and any number of receivers. Of the two ends of a link, the
// one with the higher connection priority performs the hardware step (the
// destination on a tie); by default that step is the TDM switch.
#ifndef VELMARD_SLOTS_SLOT_H
#define VELMARD_SLOTS_SLOT_H

#include <list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "asn1/modules/ACP.h"
#include "asn1/modules/LGCP.h"
#include "asn1/modules/TERM.h"
#include "asn1/modules/VORNGW.h"
#include "hardware/dsproc.h"
#include "hardware/tonec.h"

class SlotFactory;
class Slots;

// What a slot command comes to: nothing for success, else the cause sent.
using CmdAnswer = std::optional<LGCP::ErrorCause::NamedNumber>;

class Slot {
 public:
  Slot(unsigned number, SlotFactory* factory);
  Slot(Slot const&) = delete;
  Slot& operator=(Slot const&) = delete;
  // Leaves its factory and every link; the switch is not touched here.
  virtual ~Slot();

  unsigned GetNumber() const { return number_; }
  SlotFactory* GetFactory() const { return factory_; }

  // Channels on the TDM switch; -1 when the slot has none.
  int GetTransmitChannel() const { return IGetTransmitChannel(); }
  int GetReceiveChannel() const { return IGetReceiveChannel(); }

  Slot* GetSource() const { return source_; }
  std::list<Slot*> const& GetReceivers() const { return receivers_; }
  // Links this slot as the source of `dst`, replacing dst's old source,
  // and switches the path. False when the hardware step failed; the link
  // is then not kept.
  bool Connect(Slot& dst);
  // Drops this slot's source link and releases its input.
  bool Disconnect();

  // Destroy hook: true when the slot can go at once; false when its
  // release runs on and ends with `ReleaseDone()`.
  bool BeforeDestroy();
  // The release begun by BeforeDestroy has completed.
  void ReleaseDone();
  bool IsBeingDestroyed() const { return destroying_; }

  // The controller's later answer to the destroy, when one is owed.
  void SetDestroyToken(unsigned token) { destroyToken_ = token; }
  bool AnswerOwed() const { return destroyToken_.has_value(); }
  unsigned GetDestroyToken() const { return *destroyToken_; }

  // Slot commands other than create, connect, disconnect and destroy.
  virtual CmdAnswer CmdActivate(TERM::TermActivateParams const& params);
  virtual CmdAnswer CmdDeactivate();
  virtual CmdAnswer CmdUserData(std::vector<char> const& data);
  virtual CmdAnswer CmdIoctl(LGCP::IoctlParams const& params);

  // A trunk changed state (trunk-based slots act on their own trunk).
  virtual void OnTrunkStatus(int, ACP::TrunkState::NamedNumber) {}

  // The slot's own signals: they carry its number.
  void SendSignal(LGCP::Signal const& signal);
  void OnTonecEvent(LGCP::TonecEvent const& event);
  void OnNumber(std::string const& number);
  void OnModem(TERM::ModemProceeding const& proceeding);
  void OnModem(TERM::ModemInformation const& information);
  void OnActivated();
  void OnDeactivated();
  void OnAbort(int cause);
  void OnUserData(std::vector<char> const& data);
  void OnChangeInputStream(bool active);
  void OnChangeOutputStream(bool active);
  void OnIoctlResponse(LGCP::IoctlResponse const& response);
  void OnRtpRadioEvent(TERM::RtpRadioRequest const& request);
  void OnVADEvent(LGCP::VADEvent const& event);
  void OnProtoVornEvent(VORNGW::ProtoVornPackets const& packets);
  void OnSDEvent(LGCP::SDEvent const& event);
  void OnRtpEvent(LGCP::RtpEvent const& event);

  // Device events of the slot's tone and DSP receivers, as signals.
  void processTonecEvent(Hardware::TonecReceiver::Params const& params);
  void processVADEvent(Hardware::DSProcVADEvent const& event);
  void processSDEvent(Hardware::DSProcSDEvent const& event);
  void processBSSEvent(::dsproc_bss_event const* event);
  void processFlagsEvent(::dsproc_flags_event const* event);
  void processToneFltEvent(::dsproc_tone_event const* event);

  virtual void PutHeader(std::ostream& out) const;

 protected:
  virtual bool IBeforeDestroy() { return true; }
  virtual int IGetTransmitChannel() const { return -1; }
  virtual int IGetReceiveChannel() const { return -1; }
  virtual int IGetConnectPriority() const { return 0; }
  // The hardware step of a link, by the source (output side) or by the
  // destination (input side).
  virtual bool IConnectOutput(Slot& dst);
  virtual bool IConnectInput(Slot& src);
  virtual bool IDisconnectOutput(Slot& dst);
  virtual bool IDisconnectInput(Slot& src);

 private:
  friend class SlotFactory;
  bool SwitchLink(Slot& src, Slot& dst, bool on);
  void Unlink();

  unsigned number_;
  SlotFactory* factory_;
  Slot* source_ = nullptr;
  std::list<Slot*> receivers_;
  bool destroying_ = false;
  bool inBeforeDestroy_ = false;
  bool releasedEarly_ = false;
  std::optional<unsigned> destroyToken_;
};

// One-way path on the TDM switch from src's transmit channel to dst's
// receive channel; false when the switch refused (it said why).
bool MuxConnect(Slot& src, Slot& dst);
// Releases dst's receive channel: its output then carries the idle byte.
bool MuxDisconnect(Slot& dst);

#endif  // VELMARD_SLOTS_SLOT_H
