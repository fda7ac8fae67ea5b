// A control server whose controller is the test: services bound to it
// answer and signal over a loopback connection, and every message the
// controller got is read back as one line (board_msgs.h). The loop's clock
// is frozen, so the services' timers fire only when the test moves it.
#ifndef VELMARD_TESTS_HARDWARE_SERVICE_BENCH_H
#define VELMARD_TESTS_HARDWARE_SERVICE_BENCH_H

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "control/control.h"
#include "control/ctrl_testkit.h"
#include "control/ctrlsrv.h"
#include "control/test_support.h"
#include "core/timer.h"
#include "hardware/board_msgs.h"
#include "sim/board.h"

namespace hwtest {

constexpr int kMarker = 777;  // `abort` code that ends what Drain reads

class Endpoint : public Control::ServiceNet {
 protected:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
};

class ServiceBench : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Board::instance().Reset();
    Mux::timevalset(Mux::g_tv_time, uint64_t(1700000000) * 1000);
    endpoint_ = new Endpoint;
    server.Activate(endpoint_);
  }
  void TearDown() override {
    server.Deactivate();
    Mux::g_tv_time = Mux::timeval();
  }

  // Services are bound before the controller connects.
  void Connect() {
    pair_ = std::make_unique<ctrltest::TcpPair>();
    endpoint_->Connected(pair_->daemon, pair_->peerAddr);
    pair_->daemon.close();
  }
  // Moves the frozen clock and fires what fell due.
  void Advance(unsigned ms) {
    uint64_t now = uint64_t(Mux::g_tv_time.tv_sec) * 1000 + Mux::g_tv_time.tv_usec / 1000;
    Mux::timevalset(Mux::g_tv_time, now + ms);
    multiplexer.timers_schedule();
  }
  void Send(LGCP::Command const& cmd, int seq = 1) { server.OnMessage(boardmsg::Wrap(cmd, seq)); }

  // What the controller received since the last call, one line each.
  std::vector<std::string> Drain() {
    LGCP::Signal marker;
    marker.select_abort().setValue(kMarker);
    server.SendSignal(1023, marker);
    std::vector<std::string> out;
    for (;;) {
      std::vector<unsigned char> body;
      if (!ctrltest::ReadFrame(pair_->peer.get(), body)) {
        ADD_FAILURE() << "marker never arrived";
        return out;
      }
      LGCP::Message m;
      ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
      const char* b = reinterpret_cast<const char*>(body.data());
      if (!ASN1::decode(b, b + body.size(), &env, m, true)) {
        out.push_back("undecodable " + ctrltest::Hex(body));
        continue;
      }
      std::string text = boardmsg::Describe(m);
      if (text == "signal 7") return out;
      out.push_back(text);
    }
  }

  CtrlSrv::Server server;

 private:
  Endpoint* endpoint_ = nullptr;
  std::unique_ptr<ctrltest::TcpPair> pair_;
};

inline std::vector<std::string> Journal(const std::string& path) {
  std::vector<std::string> out;
  for (auto& e : sim::Board::instance().Journal(path)) out.push_back(e.text);
  sim::Board::instance().ClearJournal(path);
  return out;
}

// The captured lines, without the server's own connect and disconnect lines.
inline std::vector<std::string> Lines(const Capture& c) {
  std::vector<std::string> out;
  std::istringstream in(c.text());
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, 6, "ctrl [") != 0) out.push_back(line);
  return out;
}

inline std::string Text(const Capture& c) {
  std::string out;
  for (auto& line : Lines(c)) out += line + "\n";
  return out;
}

}  // namespace hwtest

#endif  // VELMARD_TESTS_HARDWARE_SERVICE_BENCH_H
