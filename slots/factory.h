// Base of the slot factories and the one chain that links them.
//
// Every factory links itself at the head of the chain when it is
// constructed and never leaves it (factories live until exit), so the
// newest factory is asked first on a create. Each keeps the list of the
// slots it made, to pass them trunk-status changes.
#ifndef VELMARD_SLOTS_FACTORY_H
#define VELMARD_SLOTS_FACTORY_H

#include <list>
#include <ostream>

#include "asn1/modules/LGCP.h"

class Slot;

class SlotFactory {
 public:
  SlotFactory();
  SlotFactory(SlotFactory const&) = delete;
  SlotFactory& operator=(SlotFactory const&) = delete;
  virtual ~SlotFactory();

  // The head of the chain; each factory leads to the one made before it.
  static SlotFactory* first();
  SlotFactory* next() const { return next_; }

  // A new slot of this factory's kind for `params`, or null when the
  // parameters are not this factory's or it has no means left.
  Slot* NewSlot(unsigned number, LGCP::CreateParams const& params);
  // Adds this factory's means to the resources report.
  void GetResources(LGCP::Resources& resources) const { IGetResources(resources); }
  // Passes a `trunkStatus` signal (no other alternative) to every slot
  // this factory made.
  void SelfSignal(LGCP::Signal const& signal);
  std::list<Slot*> const& slots() const { return slots_; }

  virtual void PutHeader(std::ostream& out) const = 0;

 protected:
  virtual Slot* INewSlot(unsigned number, LGCP::CreateParams const& params) = 0;
  virtual void IGetResources(LGCP::Resources&) const {}

 private:
  friend class Slot;  // a slot leaves its factory's list when it goes away
  void Forget(Slot* slot) { slots_.remove(slot); }

  SlotFactory* next_;
  std::list<Slot*> slots_;
};

// A factory whose slot kind is not built into this daemon: it holds its
// place in the chain and makes nothing.
class IdleFactory : public SlotFactory {
 public:
  explicit IdleFactory(char const* header) : header_(header) {}
  void PutHeader(std::ostream& out) const override { out << header_; }

 protected:
  Slot* INewSlot(unsigned, LGCP::CreateParams const&) override { return nullptr; }

 private:
  char const* header_;
};

// Declares and defines an idle factory kind reached by instance().
#define VELMARD_IDLE_FACTORY(Name, header) \
  class Name : public IdleFactory {        \
   public:                                 \
    static Name* instance();               \
                                           \
   private:                                \
    Name() : IdleFactory(header) {}        \
  }

// Function-local singletons: each is linked into the chain when the
// start-up first asks for it.
#define VELMARD_FACTORY_INSTANCE(Name) \
  Name* Name::instance() {             \
    static Name factory;               \
    return &factory;                   \
  }

#endif  // VELMARD_SLOTS_FACTORY_H
