// PER aligned encode and decode of a fixed mix of messages: the control
// channel's everyday traffic (pings, replies, a command, tone and trunk
// signals, a radio packet list) when the message modules are built, and the
// test module's mix. Rates are messages per second (items_per_second).

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "asn1/coder_env.h"
#include "testmod/TESTMOD.h"
#if __has_include("asn1/modules/LGCP.h")
#include "asn1/modules/LGCP.h"
#include "asn1/modules/VORNGW.h"
#define VELMARD_BENCH_LGCP 1
#endif

namespace {

typedef std::vector<std::unique_ptr<ASN1::AbstractData>> Mix;

#ifdef VELMARD_BENCH_LGCP
std::unique_ptr<LGCP::Message> controlMessage(int seq, int slot) {
  std::unique_ptr<LGCP::Message> m(new LGCP::Message);
  if (seq >= 0) {
    m->includeOptionalField(LGCP::Message::o_seq, LGCP::Message::f_seq);
    m->set_seq(seq);
  }
  if (slot >= 0) {
    m->includeOptionalField(LGCP::Message::o_slot, LGCP::Message::f_slot);
    m->set_slot(slot);
  }
  return m;
}

// Nine messages of the control channel's everyday traffic: pings and their
// answers, a command, an error, tone and trunk signals, a radio packet list.
Mix controlMix() {
  Mix mix;
  {
    auto m = controlMessage(1234, -1);
    m->get_pdu().select_command().select_ping();
    mix.emplace_back(m.release());
  }
  {
    auto m = controlMessage(-1, -1);
    m->get_pdu().select_command().select_ping();
    mix.emplace_back(m.release());
  }
  {
    auto m = controlMessage(1234, 17);
    m->get_pdu().select_response().select_success();
    mix.emplace_back(m.release());
  }
  {
    auto m = controlMessage(-1, -1);
    m->get_pdu().select_response().select_success();
    mix.emplace_back(m.release());
  }
  {
    auto m = controlMessage(77, 1024);
    m->get_pdu().select_response().select_error() = LGCP::ErrorCause::invalidSlot;
    mix.emplace_back(m.release());
  }
  {
    auto m = controlMessage(9, 12);
    m->get_pdu().select_command().select_connect() = 1023u;
    mix.emplace_back(m.release());
  }
  {
    auto m = controlMessage(-1, 400);
    LGCP::TonecEvent& e = m->get_pdu().select_signal().select_tonec();
    e.set_timestamp(987654321);
    e.get_event().select_dtmf() = 11u;
    mix.emplace_back(m.release());
  }
  {
    auto m = controlMessage(-1, -1);
    ACP::TrunkStatus& t = m->get_pdu().select_signal().select_trunkStatus();
    t.set_trunk(2);
    t.set_slips(5);
    t.set_name("E1-2");
    t.set_clockMaster(true);
    mix.emplace_back(m.release());
  }
  {
    auto m = controlMessage(-1, 3);
    VORNGW::ProtoVornPackets& list = m->get_pdu().select_signal().select_protoVorn();
    for (int i = 0; i < 8; ++i) {
      VORNGW::ProtoVornPacket p;
      p.set_msgLength(12);
      p.set_msgSeqNum(300 + i);
      p.set_msgID(VORNGW::ProtoVornMsgID::gw_keep_alive);
      p.set_stateMaster(1);
      p.set_srcAddr(VORNGW::ProtoVornAddress::rgw);
      p.set_srcChannel(i);
      p.set_dstAddr(VORNGW::ProtoVornAddress::lgw);
      p.set_dstChannel(4);
      p.get_payload().select_gw_get_id();
      list.get_packets().push_back(p);
    }
    mix.emplace_back(m.release());
  }
  return mix;
}
#endif

Mix testMix() {
  Mix mix;
  {
    std::unique_ptr<TESTMOD::Message> m(new TESTMOD::Message);
    m->includeOptionalField(TESTMOD::Message::o_seq, TESTMOD::Message::f_seq);
    m->set_seq(42);
    TESTMOD::Numbers& n = m->get_pdu().select_numbers();
    n.set_fixed(1000);
    n.set_huge(3000000000u);
    n.set_single(5);
    n.set_offset(200000);
    mix.emplace_back(m.release());
  }
  {
    std::unique_ptr<TESTMOD::Message> m(new TESTMOD::Message);
    TESTMOD::Lists& l = m->get_pdu().select_lists();
    for (int i = 0; i < 8; ++i) l.get_numbers().push_back(ASN1::INTEGER(i * 1000));
    l.get_bounded().push_back(ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 7>());
    l.get_names().push_back(ASN1::IA5String("alpha"));
    mix.emplace_back(m.release());
  }
  {
    std::unique_ptr<TESTMOD::Message> m(new TESTMOD::Message);
    TESTMOD::Extended& e = m->get_pdu().select_ext_seq();
    e.includeOptionalField(TESTMOD::Extended::o_c, TESTMOD::Extended::f_c);
    e.set_c("extension");
    e.set_d(7);
    mix.emplace_back(m.release());
  }
  return mix;
}

std::vector<std::vector<char>> encodeAll(const Mix& mix) {
  std::vector<std::vector<char>> out;
  ASN1::CoderEnv env;
  for (const auto& m : mix) {
    out.emplace_back();
    out.back().reserve(200);
    ASN1::encode(*m, &env, std::back_inserter(out.back()));
  }
  return out;
}

void encodeMix(benchmark::State& state, const Mix& mix) {
  for (auto _ : state) {
    for (const auto& m : mix) {
      ASN1::CoderEnv env;
      std::vector<char> out;
      out.reserve(200);
      benchmark::DoNotOptimize(ASN1::encode(*m, &env, std::back_inserter(out)));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * mix.size()));
  state.SetLabel("messages");
}

double meanOctets(const Mix& mix) {
  std::size_t total = 0;
  for (const auto& w : encodeAll(mix)) total += w.size();
  return mix.empty() ? 0 : double(total) / double(mix.size());
}

// One encode and one decode of each message, as a reply and the next
// request cost the server.
void roundTripMix(benchmark::State& state, const Mix& mix) {
  for (auto _ : state) {
    for (const auto& m : mix) {
      ASN1::CoderEnv env;
      std::vector<char> out;
      out.reserve(200);
      ASN1::encode(*m, &env, std::back_inserter(out));
      std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(m->info()));
      benchmark::DoNotOptimize(ASN1::decode(out.data(), out.data() + out.size(), &env, *v, true));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * mix.size()));
  state.counters["octets_per_message"] = meanOctets(mix);
  state.SetLabel("messages");
}

void decodeMix(benchmark::State& state, const Mix& mix) {
  std::vector<std::vector<char>> wire = encodeAll(mix);
  for (auto _ : state) {
    for (std::size_t i = 0; i < mix.size(); ++i) {
      std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(mix[i]->info()));
      ASN1::CoderEnv env;
      const std::vector<char>& w = wire[i];
      benchmark::DoNotOptimize(ASN1::decode(w.data(), w.data() + w.size(), &env, *v, true));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * mix.size()));
  state.SetLabel("messages");
}

void BM_TestModuleEncode(benchmark::State& state) {
  encodeMix(state, testMix());
}
void BM_TestModuleDecode(benchmark::State& state) {
  decodeMix(state, testMix());
}
BENCHMARK(BM_TestModuleEncode);
BENCHMARK(BM_TestModuleDecode);

#ifdef VELMARD_BENCH_LGCP
void BM_ControlEncode(benchmark::State& state) {
  encodeMix(state, controlMix());
}
void BM_ControlDecode(benchmark::State& state) {
  decodeMix(state, controlMix());
}
void BM_ControlRoundTrip(benchmark::State& state) {
  roundTripMix(state, controlMix());
}
BENCHMARK(BM_ControlEncode);
BENCHMARK(BM_ControlDecode);
BENCHMARK(BM_ControlRoundTrip);
#endif

}  // namespace

BENCHMARK_MAIN();
