#include "slots/factory.h"

#include <algorithm>

#include "slots/slot.h"

namespace {

SlotFactory* firstFactory = nullptr;

}  // namespace

SlotFactory::SlotFactory() : next_(firstFactory) {
  firstFactory = this;
}

// Factories live until exit; one that goes earlier (a test's) must not
// leave the chain pointing at it.
SlotFactory::~SlotFactory() {
  for (SlotFactory** p = &firstFactory; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
  for (Slot* s : slots_) s->factory_ = nullptr;
}

SlotFactory* SlotFactory::first() {
  return firstFactory;
}

Slot* SlotFactory::NewSlot(unsigned number, LGCP::CreateParams const& params) {
  Slot* slot = INewSlot(number, params);
  if (slot) slots_.push_back(slot);
  return slot;
}

void SlotFactory::SelfSignal(LGCP::Signal const& signal) {
  ACP::TrunkStatus const& status = signal.get_trunkStatus();
  auto state = static_cast<ACP::TrunkState::NamedNumber>(status.get_state().asInt());
  // A slot may destroy itself, or others of this factory, on the change.
  std::list<Slot*> slots = slots_;
  for (Slot* s : slots)
    if (std::find(slots_.begin(), slots_.end(), s) != slots_.end())
      s->OnTrunkStatus(status.get_trunk().getValue(), state);
}
