// Layered protocol stacks.
//
// A stack is a ProtocolsFamily holding its layers bottom (head) to top
// (tail). Packets go down through message/transmit and up through
// receive/on_message; activation climbs from the bottom layer, deactivation
// descends from the top one, and an error status climbs to the family.
// Whatever leaves the top or the bottom of a stack is handed to the family.
#ifndef VELMARD_CONTROL_PROTOCOL_H
#define VELMARD_CONTROL_PROTOCOL_H

#include <ostream>
#include <string>

#include "control/packet.h"
#include "core/dual_list.h"

class Protocol;
class ProtocolsList;

// ---------------------------------------------------------------------------
// Layer names.

class Protocol_name {
 public:
  virtual ~Protocol_name() {}
  virtual int kind() const = 0;
  virtual char const* name() const = 0;
  virtual bool compare(Protocol_name const& other) const = 0;
};

class Protocol_name_null : public Protocol_name {
 public:
  int kind() const override { return 0; }
  char const* name() const override { return "(no name)"; }
  bool compare(Protocol_name const& other) const override { return other.kind() == 0; }
};

class Protocol_name_str : public Protocol_name {
 public:
  explicit Protocol_name_str(char const* text);
  Protocol_name_str(Protocol_name_str const& o);
  Protocol_name_str& operator=(Protocol_name_str const&) = delete;
  ~Protocol_name_str() override;

  int kind() const override { return 1; }
  char const* name() const override { return text_; }
  bool compare(Protocol_name const& other) const override;

 private:
  char* text_;
};

// ---------------------------------------------------------------------------
// Status objects travelling between layers.

class Internal_protocol_status {
 public:
  explicit Internal_protocol_status(Protocol* origin) : origin(origin), count(0) {}
  Internal_protocol_status(Internal_protocol_status const&) = delete;
  Internal_protocol_status& operator=(Internal_protocol_status const&) = delete;
  virtual ~Internal_protocol_status() {}

  virtual bool success() const = 0;
  virtual std::string message() const = 0;
  virtual void out(std::ostream& o) const = 0;

  Protocol* origin;
  u32 count;
};

typedef Smart_pointer<Internal_protocol_status> Protocol_status;

// A status that carries a text; `Ok` tells success from failure.
template <bool Ok>
class Protocol_status_text : public Internal_protocol_status {
 public:
  Protocol_status_text(Protocol* origin, std::string const& text)
      : Internal_protocol_status(origin), text_(text) {}
  bool success() const override { return Ok; }
  std::string message() const override { return text_; }
  void out(std::ostream& o) const override { o << text_; }

 private:
  std::string text_;
};

class Protocol_status_success : public Protocol_status_text<true> {
 public:
  using Protocol_status_text<true>::Protocol_status_text;
};

class Protocol_status_error : public Protocol_status_text<false> {
 public:
  using Protocol_status_text<false>::Protocol_status_text;
};

class Protocol_initialize_error : public Protocol_status_error {
 public:
  explicit Protocol_initialize_error(Protocol* origin) : Protocol_status_error(origin, "error") {}
};

// ---------------------------------------------------------------------------

class Protocol_info {
 public:
  virtual ~Protocol_info() {}
  virtual bool compare_name(Protocol_name const&) const { return false; }
  virtual Protocol_name const& name() const { return null_name_; }

 private:
  Protocol_name_null null_name_;
};

// One layer. Links: next is the upper neighbour, prev the lower one.
class Protocol : public Protocol_info, public F_dual_list_item<Protocol> {
 public:
  Protocol();
  Protocol(Protocol const&) = delete;
  Protocol& operator=(Protocol const&) = delete;
  ~Protocol() override;

  virtual void local_prepare_head(Packet& p);
  virtual void local_prepare_tail(Packet& p);
  virtual Protocol_status local_initialize();
  virtual void local_activate();
  virtual void local_deactivate();
  virtual void transmit(Packet& p);
  virtual void on_message(Packet& p);
  virtual void on_activate();
  virtual void on_deactivate(Protocol_status status);
  virtual void on_status(Protocol_status status);
  virtual void message(Packet& p);
  virtual void receive(Packet& p);
  virtual void activate();
  virtual void deactivate();
  virtual void protocol_info(std::ostream&) const {}

  void prepare_head(Packet& p);
  void prepare_tail(Packet& p);
  void descend_prepare_head(Packet& p);
  void descend_prepare_tail(Packet& p);
  Protocol_status initialize();

  Protocol* upper() const { return this->next; }
  Protocol* lower() const { return this->prev; }
  ProtocolsList* family() const { return family_; }

 private:
  friend class ProtocolsList;
  ProtocolsList* family_;
};

// A list of layers that is itself a layer. It owns its layers.
class ProtocolsList : public Protocol, public F_dual_list<Protocol> {
 public:
  ProtocolsList() {}
  ~ProtocolsList() override;

  virtual void on_activated(Protocol*) {}
  virtual void on_deactivated(Protocol*, Protocol_status) {}
  Protocol* add_protocol_head(Protocol* p);
  Protocol* add_protocol_tail(Protocol* p);

  Protocol* search(Protocol_name const& name) const;
  Protocol* bottom() const { return this->head; }
  Protocol* top() const { return this->tail; }
  unsigned layers() const { return this->size(); }

 private:
  friend class Protocol;
  void unlink(Protocol* p);
};

// A stack: its own operations act on its layers.
class ProtocolsFamily : public ProtocolsList {
 public:
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  Protocol_status local_initialize() override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status status) override;
};

#endif  // VELMARD_CONTROL_PROTOCOL_H
