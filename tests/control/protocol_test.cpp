#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/protocol.h"
#include "test_support.h"

namespace {

typedef std::vector<std::string> Trace;

std::string text_of(Protocol_status const& st) {
  return st.get()->message() + (st.get()->success() ? "/ok" : "/error");
}

// A layer that writes every step it takes into a shared trace.
class Probe : public Protocol {
 public:
  Probe(char const* name, Trace* trace, unsigned head = 0)
      : name_(name), trace_(trace), head_(head) {}
  ~Probe() override {
    if (destroyed) ++*destroyed;
  }

  void local_prepare_head(Packet& p) override { p.reserve_head(head_); }
  Protocol_status local_initialize() override {
    log("initialize");
    if (fail_init) return new Protocol_status_error(this, "init failed");
    return Protocol::local_initialize();
  }
  void local_activate() override {
    log("activate");
    Protocol::local_activate();
  }
  void local_deactivate() override {
    log("deactivate");
    Protocol::local_deactivate();
  }
  void on_deactivate(Protocol_status st) override {
    log("on_deactivate " + text_of(st));
    Protocol::on_deactivate(st);
  }
  void message(Packet& p) override {
    log("message");
    transmit(p);
  }
  void receive(Packet& p) override {
    log("receive");
    on_message(p);
  }
  void raise(char const* text) { on_deactivate(new Protocol_status_error(this, text)); }

  std::string const name_;
  bool fail_init = false;
  int* destroyed = nullptr;

 private:
  void log(std::string const& what) { trace_->push_back(name_ + " " + what); }
  Trace* trace_;
  unsigned head_;
};

class ProbeFamily : public ProtocolsFamily {
 public:
  explicit ProbeFamily(Trace* trace) : trace_(trace) {}
  void on_activate() override { trace_->push_back("family on_activate"); }
  void on_deactivated(Protocol* p, Protocol_status st) override {
    trace_->push_back("family on_deactivated " + layer_name(p) + " " + text_of(st));
  }
  void transmit(Packet&) override { trace_->push_back("family transmit"); }
  void on_message(Packet&) override { trace_->push_back("family on_message"); }

 private:
  static std::string layer_name(Protocol* p) {
    Probe* probe = dynamic_cast<Probe*>(p);
    return probe ? probe->name_ : "?";
  }
  Trace* trace_;
};

class ProtocolTest : public PoolTest {
 protected:
  Trace trace;
  ProbeFamily family{&trace};
  Probe* bottom = nullptr;
  Probe* top = nullptr;

  void build(unsigned bottom_head = 0, unsigned top_head = 0) {
    bottom =
        static_cast<Probe*>(family.add_protocol_tail(new Probe("bottom", &trace, bottom_head)));
    top = static_cast<Probe*>(family.add_protocol_tail(new Probe("top", &trace, top_head)));
  }
};

TEST_F(ProtocolTest, EmptyFamilyDoesNothing) {
  Protocol_status st = family.initialize();
  EXPECT_EQ(text_of(st), "error/error");
  family.activate();
  family.deactivate();
  Packet p;
  family.prepare_head(p);
  family.prepare_tail(p);
  EXPECT_TRUE(p.is_null());
  family.message(p);
  family.receive(p);
  EXPECT_TRUE(trace.empty());
}

TEST_F(ProtocolTest, ListLinksLayersBottomToTop) {
  build();
  EXPECT_EQ(family.layers(), 2u);
  EXPECT_EQ(family.bottom(), bottom);
  EXPECT_EQ(family.top(), top);
  EXPECT_EQ(bottom->upper(), top);
  EXPECT_EQ(top->lower(), bottom);
  EXPECT_EQ(bottom->lower(), nullptr);
  EXPECT_EQ(bottom->family(), &family);
  Probe* under = static_cast<Probe*>(family.add_protocol_head(new Probe("under", &trace)));
  EXPECT_EQ(family.bottom(), under);
  EXPECT_EQ(bottom->lower(), under);
  EXPECT_EQ(family.search(Protocol_name_null()), nullptr);
  EXPECT_STREQ(top->name().name(), "(no name)");
}

TEST_F(ProtocolTest, ActivationClimbsFromTheBottom) {
  build();
  family.activate();
  EXPECT_EQ(trace, Trace({"bottom activate", "top activate", "family on_activate"}));
  trace.clear();
  family.on_activated(bottom);
  EXPECT_TRUE(trace.empty());
}

TEST_F(ProtocolTest, DeactivationDescendsFromTheTop) {
  build();
  family.deactivate();
  EXPECT_EQ(trace,
            Trace({"top deactivate", "top on_deactivate success/ok", "bottom deactivate",
                   "bottom on_deactivate success/ok", "family on_deactivated bottom success/ok"}));
}

TEST_F(ProtocolTest, ErrorClimbsToTheFamilyFromTheTop) {
  build();
  bottom->raise("boom");
  EXPECT_EQ(trace, Trace({"bottom on_deactivate boom/error", "top on_deactivate boom/error",
                          "family on_deactivated top boom/error"}));
}

TEST_F(ProtocolTest, TrafficCrossesEveryLayer) {
  build();
  Packet p;
  family.message(p);
  EXPECT_EQ(trace, Trace({"top message", "bottom message", "family transmit"}));
  trace.clear();
  family.receive(p);
  EXPECT_EQ(trace, Trace({"bottom receive", "top receive", "family on_message"}));
}

TEST_F(ProtocolTest, HeadroomIsReservedBottomFirst) {
  build(0, 4);
  Packet p;
  family.prepare_head(p);
  EXPECT_EQ(p.headroom(), 4u);
  EXPECT_EQ(p.length(), 0u);
  EXPECT_EQ(p.tailroom(), 65532u);
  Packet q;
  family.prepare_tail(q);
  EXPECT_EQ(q.tailroom(), 0u);
  EXPECT_EQ(q.headroom(), 65536u);
}

TEST_F(ProtocolTest, InitializationRunsBottomUpAndStopsAtTheFirstError) {
  build();
  EXPECT_EQ(text_of(family.initialize()), "success/ok");
  EXPECT_EQ(trace, Trace({"bottom initialize", "top initialize"}));
  trace.clear();
  bottom->fail_init = true;
  EXPECT_EQ(text_of(family.initialize()), "init failed/error");
  EXPECT_EQ(trace, Trace({"bottom initialize"}));
}

TEST_F(ProtocolTest, ListOwnsItsLayers) {
  int destroyed = 0;
  {
    ProbeFamily f(&trace);
    Probe* a = new Probe("a", &trace);
    Probe* b = new Probe("b", &trace);
    Probe* c = new Probe("c", &trace);
    a->destroyed = b->destroyed = c->destroyed = &destroyed;
    f.add_protocol_tail(a);
    f.add_protocol_tail(b);
    f.add_protocol_tail(c);
    delete b;  // a layer deleted alone leaves its list
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(f.layers(), 2u);
    EXPECT_EQ(a->upper(), c);
    EXPECT_EQ(c->lower(), a);
    // A layer added to another list leaves its own first.
    ProbeFamily g(&trace);
    g.add_protocol_head(c);
    EXPECT_EQ(f.layers(), 1u);
    EXPECT_EQ(a->upper(), nullptr);
    EXPECT_EQ(c->family(), &g);
    g.add_protocol_tail(a);  // at either end
    EXPECT_EQ(f.layers(), 0u);
    EXPECT_EQ(g.layers(), 2u);
    EXPECT_EQ(c->upper(), a);
    EXPECT_EQ(a->family(), &g);
  }
  EXPECT_EQ(destroyed, 3);
}

TEST(ProtocolName, Comparisons) {
  Protocol_name_null none;
  Protocol_name_str tpkt("TPKT"), tpkt2("TPKT"), other("StrmProtocol");
  Protocol_name_str unnamed(nullptr);
  EXPECT_STREQ(unnamed.name(), "(no name)");
  EXPECT_STREQ(none.name(), "(no name)");
  EXPECT_TRUE(tpkt.compare(tpkt2));
  EXPECT_FALSE(tpkt.compare(other));
  EXPECT_FALSE(tpkt.compare(none));
  EXPECT_FALSE(none.compare(tpkt));
  EXPECT_TRUE(none.compare(Protocol_name_null()));
  EXPECT_FALSE(unnamed.compare(none));  // same text, other kind
}

TEST(ProtocolStatus, SharedAndDeletedWithTheLastHandle) {
  struct Probe : Protocol_status_success {
    Probe(bool* gone) : Protocol_status_success(nullptr, "t"), gone(gone) {}
    ~Probe() override { *gone = true; }
    bool* gone;
  };
  bool gone = false;
  {
    Protocol_status a(new Probe(&gone));
    {
      Protocol_status b = a;
      EXPECT_EQ(a.ref_count(), 2u);
    }
    EXPECT_FALSE(gone);
  }
  EXPECT_TRUE(gone);
}

}  // namespace
