#include "slots/slots.h"

#include <algorithm>
#include <iostream>

#include "core/ext.h"
#include "hardware/hwmux.h"
#include "slots/answers.h"
#include "slots/factory.h"

Slots* Slots::instance() {
  static Slots slots;
  return &slots;
}

Slots::Slots() {
  HwMux::instance();
}

Slots::~Slots() {
  for (Slot* s : table_) delete s;
  for (Slot* s : setAside_) delete s;
}

bool Slots::OnCommand(LGCP::Command const& cmd) {
  int const which = cmd.currentSelection();
  if (!IsSlotPresent()) {
    if (which != LGCP::Command::e_query) return false;
    UpdateHardwareResources();
    Success();
    return true;
  }
  switch (which) {
    case LGCP::Command::e_connect:
    case LGCP::Command::e_disconnect:
    case LGCP::Command::e_create:
    case LGCP::Command::e_destroy:
    case LGCP::Command::e_activate:
    case LGCP::Command::e_deactivate:
    case LGCP::Command::e_userData:
    case LGCP::Command::e_ioctl:
      break;
    default:
      return false;
  }
  // The server has refused the numbers past the table already.
  static_assert(maxSlots > CtrlSrv::Server::maxSlot,
                "the slot table must hold every number the server passes");
  unsigned const number = GetSlot();
  Slot* slot = table_[number];
  if (slot && slot->IsBeingDestroyed()) {
    Error(SlotAnswers::beingDestroyed);
    return true;
  }
  if (which == LGCP::Command::e_create) {
    if (slot)
      Error(SlotAnswers::createOnBusyNumber);
    else
      CmdCreate(number, cmd.get_create());
    return true;
  }
  if (!slot) {
    Error(SlotAnswers::noSuchSlot);
    return true;
  }
  switch (which) {
    case LGCP::Command::e_connect:
      CmdConnect(*slot, unsigned(cmd.get_connect().getValue()));
      break;
    case LGCP::Command::e_disconnect:
      CmdDisconnect(*slot);
      break;
    case LGCP::Command::e_destroy:
      CmdDestroy(*slot);
      break;
    case LGCP::Command::e_activate:
      Answer(slot->CmdActivate(cmd.get_activate()));
      break;
    case LGCP::Command::e_deactivate:
      Answer(slot->CmdDeactivate());
      break;
    case LGCP::Command::e_userData:
      Answer(slot->CmdUserData(cmd.get_userData()));
      break;
    case LGCP::Command::e_ioctl:
      Answer(slot->CmdIoctl(cmd.get_ioctl()));
      break;
  }
  return true;
}

void Slots::Answer(CmdAnswer answer) {
  if (answer)
    Error(*answer);
  else
    Success();
}

void Slots::CmdCreate(unsigned number, LGCP::CreateParams const& params) {
  for (SlotFactory* f = SlotFactory::first(); f; f = f->next()) {
    if (Slot* slot = f->NewSlot(number, params)) {
      table_[number] = slot;
      Success();
      return;
    }
  }
  Error(SlotAnswers::createNotMade);
}

void Slots::CmdConnect(Slot& src, unsigned dst) {
  Slot* to = Find(dst);
  if (!to)
    Error(SlotAnswers::noSuchSlot);
  else if (to->IsBeingDestroyed())
    Error(SlotAnswers::beingDestroyed);
  else if (to == &src)
    Error(SlotAnswers::connectToItself);
  else if (!src.Connect(*to))
    Error(SlotAnswers::connectFailed);
  else
    Success();
}

void Slots::CmdDisconnect(Slot& slot) {
  if (slot.Disconnect())
    Success();
  else
    Error(SlotAnswers::disconnectFailed);
}

void Slots::CmdDestroy(Slot& slot) {
  if (slot.BeforeDestroy()) {
    Drop(&slot);
    Success();
  } else {
    // Answered when the release completes (on_release).
    slot.SetDestroyToken(delayResponse());
  }
}

void Slots::Drop(Slot* slot) {
  if (Find(slot->GetNumber()) == slot) table_[slot->GetNumber()] = nullptr;
  setAside_.remove(slot);
  delete slot;
}

// Only a slot still in the table owes an answer: one set aside lost its
// controller.
void Slots::on_release(Slot* slot) {
  if (Find(slot->GetNumber()) == slot && slot->AnswerOwed())
    delayedSuccess(slot->GetNumber(), slot->GetDestroyToken());
  Drop(slot);
}

void Slots::OnDisconnect() {
  for (Slot*& entry : table_) {
    Slot* slot = entry;
    if (!slot) continue;
    entry = nullptr;
    if (!slot->IsBeingDestroyed() && slot->BeforeDestroy()) {
      delete slot;
      continue;
    }
    // Out of the table: the late answer went with the controller.
    setAside_.push_back(slot);
  }
  if (!setAside_.empty()) grace_.set(SlotAnswers::releaseGraceMs, &Slots::OnGraceOver, this);
}

void Slots::OnGraceOver() {
  std::list<Slot*> late;
  late.swap(setAside_);
  for (Slot* s : late) {
    std::clog << ext::header(s) << "release did not complete, destroyed" << std::endl;
    delete s;
  }
}

void Slots::OnSignal(LGCP::Signal const& signal) {
  if (signal.currentSelection() != LGCP::Signal::e_trunkStatus) return;
  for (SlotFactory* f = SlotFactory::first(); f; f = f->next()) f->SelfSignal(signal);
}

void Slots::UpdateHardwareResources() {
  LGCP::Signal signal;
  LGCP::Resources& resources = signal.select_query();
  for (SlotFactory* f = SlotFactory::first(); f; f = f->next()) f->GetResources(resources);
  SendSignal(signal);
}
