// The slot table: the control service that owns every slot by number.
//
// Bound right after the heartbeat, it takes the slot commands (those that
// carry a slot number) and `query` (which carries none). Slots are made by
// the factory chain, newest factory first, and deleted here, at once or,
// for a kind whose release takes time, when the slot reports it done; the
// controller then gets the destroy's answer late. When the controller goes
// away every slot is destroyed; one still releasing is set aside and given
// a short grace before it is destroyed outright.
#ifndef VELMARD_SLOTS_SLOTS_H
#define VELMARD_SLOTS_SLOTS_H

#include <list>

#include "control/ctrlsrv.h"
#include "core/timer.h"
#include "slots/slot.h"

class Slots : public CtrlSrv::Service {
 public:
  // One entry for every number the control server lets through.
  static constexpr unsigned maxSlots = CtrlSrv::Server::maxSlot + 1;

  static Slots* instance();

  // Makes the TDM switch, which a slot calls on its way out, first:
  // destroyed in reverse order at exit, it then outlives this table and the
  // slots it still holds (the receiver services are never destroyed).
  Slots();
  ~Slots() override;

  void OnConnect() override {}
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;
  void OnSignal(LGCP::Signal const& signal) override;

  // Reports every factory's means to the controller (`query` signal).
  void UpdateHardwareResources();
  // A slot's release has completed: the late answer when one is owed,
  // then the slot goes.
  void on_release(Slot* slot);

  // The slot with that number, null when none (or out of range).
  Slot* Find(unsigned number) const { return number < maxSlots ? table_[number] : nullptr; }
  std::list<Slot*> const& SetAside() const { return setAside_; }

 private:
  void CmdCreate(unsigned number, LGCP::CreateParams const& params);
  void CmdDestroy(Slot& slot);
  void CmdConnect(Slot& src, unsigned dst);
  void CmdDisconnect(Slot& slot);
  void Answer(CmdAnswer answer);
  void Drop(Slot* slot);
  void OnGraceOver();

  Slot* table_[maxSlots] = {};
  std::list<Slot*> setAside_;
  Timer grace_;
};

#endif  // VELMARD_SLOTS_SLOTS_H
