#include "hardware/e1ctl.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/modules/ACP.h"
#include "core/ext.h"
#include "hardware/board_ioc.h"
#include "hardware/devnames.h"

namespace {

const char kCasDevice[] = "/dev/e1-cas";

// The maintenance driver's trunk status record: 20 words, the trunk in
// word 0, the rest filled by the driver.
struct TrunkStatusRecord {
  int32_t word[20];
};
static_assert(sizeof(TrunkStatusRecord) == 80, "trunk status record is 80 bytes");
enum StatusWord {
  kTrunk = 0,
  kSlips = 9,
  kLossBF = 10,
  kLossCarrier = 11,
  kAIS = 12,
  kRAI = 13,
  kState = 19
};

// The CAS configuration record: a channel and 0 to start signalling on it,
// 1 to stop.
struct cas_config {
  cas_channel channel;
  int32_t stop;
};
static_assert(sizeof(cas_config) == 16 && offsetof(cas_config, stop) == 12,
              "CAS configuration record is 16 bytes");

// Timeslot 0 carries the frame alignment and 16 the CAS multiframe itself.
bool IsCasTimeslot(int32_t channel) {
  return channel != 0 && channel != 16;
}

// A driver state outside the enumeration still has to reach the
// controller as a value it can decode.
ACP::TrunkState::NamedNumber StateOf(int32_t word) {
  if (word < ACP::TrunkState::normal || word > ACP::TrunkState::disabled)
    return ACP::TrunkState::unknown;
  return static_cast<ACP::TrunkState::NamedNumber>(word);
}

// The requests that take the value itself pass it in the argument word.
unsigned long Value(long v) {
  return static_cast<unsigned long>(v);
}

}  // namespace

void Assign(LGCP::CasChannel& to, cas_channel const& from) {
  to.set_path(from.trunk);
  to.set_timeslot(from.channel);
}

E1Ctl* E1Ctl::instance() {
  static E1Ctl e1;
  return &e1;
}

E1Ctl::E1Ctl() {}

// The timer, the event and the CAS descriptor go with their members.
E1Ctl::~E1Ctl() {
  if (maintenance_ >= 0) ::close(maintenance_);
}

void E1Ctl::OnConnect() {
  SendStatus();
  SetTimer();
  tclk_ = 0;
  UpdateTclk();
  CheckOpenCas();
}

// HandleCasClose leaves alone the trunks not open.
void E1Ctl::OnDisconnect() {
  for (int t = 0; t < kTrunks; ++t) {
    cas_channel ch{};
    ch.trunk = t;
    HandleCasClose(ch);
  }
}

bool E1Ctl::OnCommand(LGCP::Command const& cmd) {
  switch (cmd.currentSelection()) {
    case LGCP::Command::e_ioctl:
      HandleCas(cmd.get_ioctl());
      Success();
      return true;
    case LGCP::Command::e_trunkCfg:
      SetMode(cmd.get_trunkCfg());
      Success();
      return true;
    default:
      return false;
  }
}

bool E1Ctl::IsOpen() {
  if (maintenance_ >= 0) return true;
  maintenance_ = ::open(GetMaintenance(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return maintenance_ >= 0;
}

void E1Ctl::SendStatus() {
  if (!IsOpen()) return;
  LGCP::Signal signal;
  ACP::TrunkStatus& status = signal.select_trunkStatus();
  for (int t = 0; t < kTrunks; ++t) {
    TrunkStatusRecord rec;
    std::memset(&rec, 0, sizeof rec);
    rec.word[kTrunk] = t;
    if (::ioctl(maintenance_, Hardware::Ioc::kTrunkStatus, &rec) < 0) {
      std::cerr << ext::header(this) << "synchronization status read fail, trunk = " << t
                << " cause = " << std::strerror(errno) << std::endl;
      continue;
    }
    status.set_trunk(t);
    status.set_state(StateOf(rec.word[kState]));
    status.set_slips(rec.word[kSlips]);
    status.set_lossBF(rec.word[kLossBF]);
    status.set_lossCarrier(rec.word[kLossCarrier]);
    status.set_lossAIS(rec.word[kAIS]);
    status.set_lossRAI(rec.word[kRAI]);
    // clockMaster false and type e1 are the fresh signal's own values.
    SendSignal(signal);
  }
}

void E1Ctl::SetTimer() {
  statusTimer_.set(kStatusPeriod, &E1Ctl::OnCheckStatus, this);
}

void E1Ctl::OnCheckStatus(Timer*) {
  SendStatus();
  CheckOpenCas();
  SetTimer();
}

void E1Ctl::SetMode(LGCP::TrunkCfg const& cfg) {
  const int trunk = cfg.get_trunk().getValue();
  // The mask has one bit per trunk; a trunk it cannot hold is ignored like
  // a negative one.
  if (trunk < 0 || trunk >= 32) return;
  const unsigned bit = 1u << trunk;
  switch (cfg.get_mode().asInt()) {
    case LGCP::TrunkMode::slave:
      tclk_ |= bit;
      break;
    case LGCP::TrunkMode::master:
      tclk_ &= ~bit;
      break;
    default:
      return;
  }
  UpdateTclk();
}

void E1Ctl::UpdateTclk() {
  if (!IsOpen()) return;
  if (::ioctl(maintenance_, Hardware::Ioc::kSetTclk, Value(tclk_)) < 0) {
    std::cerr << ext::header(this) << "fail to set TCLK [cause=" << std::strerror(errno) << "]"
              << std::endl;
    return;
  }
  std::clog << ext::header(this) << "TCLT = 0x" << std::hex << tclk_ << std::dec << std::endl;
}

void E1Ctl::select_source(int value) {
  if (!IsOpen()) return;
  if (::ioctl(maintenance_, Hardware::Ioc::kSetClockSource, Value(value)) < 0)
    std::cerr << ext::header(this) << "fail to set clock source" << std::endl;
}

bool E1Ctl::CheckOpenCas() {
  if (cas_) return true;
  int fd = ::open(kCasDevice, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  cas_.reset(fd);
  std::clog << ext::header(this) << "cas interface opened!" << std::endl;
  casEvent_.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
  casEvent_.Schedule(cas_, POLLIN);
  return true;
}

// Called on every dispatch of the loop, ready or not: a read that finds
// nothing (EAGAIN) costs one system call. One record per dispatch.
void E1Ctl::OnUpdateCas(int fd, short) {
  cas_channel rec;
  if (::read(fd, &rec, sizeof rec) == static_cast<ssize_t>(sizeof rec))
    SendCASSignal(rec.trunk, rec.channel, rec.rx, rec.tx);
}

void E1Ctl::SendCASSignal(int trunk, int channel, int rx, int tx) {
  LGCP::Signal signal;
  LGCP::CasSignalling& cas = signal.select_cas();
  cas.get_channel().set_path(trunk);
  cas.get_channel().set_timeslot(channel);
  cas.set_rx(rx);
  cas.set_tx(tx);
  SendSignal(signal);
}

void E1Ctl::SendCASTrunkStatus(int trunk, int status) {
  SendCASSignal(trunk, 0, status, 0);
}

void E1Ctl::HandleCas(LGCP::IoctlParams const& params) {
  if (!CheckOpenCas() || params.currentSelection() != LGCP::IoctlParams::e_cas) return;
  LGCP::CasCommand const& cmd = params.get_cas();
  cas_channel ch{};
  ch.trunk = cmd.get_channel().get_path().getValue();
  ch.channel = cmd.get_channel().get_timeslot().getValue();
  LGCP::CasCommandSignal const& what = cmd.get_cmd();
  switch (what.currentSelection()) {
    case LGCP::CasCommandSignal::e_open:
      HandleCasOpen(ch, what.get_open().getValue());
      break;
    case LGCP::CasCommandSignal::e_close:
      HandleCasClose(ch);
      break;
    case LGCP::CasCommandSignal::e_set:
      HandleCasSet(ch, what.get_set().getValue());
      break;
    case LGCP::CasCommandSignal::e_get:
      HandleCasGet(ch);
      break;
    default:
      break;
  }
}

void E1Ctl::ReportBits(cas_channel const& ch) {
  cas_channel rec{};
  rec.trunk = ch.trunk;
  rec.channel = ch.channel;
  int r = ::ioctl(cas_.get(), Hardware::Ioc::kCasGetBits, &rec);
  if (r < 0)
    SendCASSignal(ch.trunk, ch.channel, r, 0);
  else
    SendCASSignal(ch.trunk, ch.channel, rec.rx, rec.tx);
}

void E1Ctl::HandleCasOpen(cas_channel const& ch, int bits) {
  const unsigned t = static_cast<unsigned>(ch.trunk);
  if (t >= kTrunks) return;
  if (!casOpen_[t]) {
    int r = ::ioctl(cas_.get(), Hardware::Ioc::kCasOpenTrunk, Value(t));
    SendCASTrunkStatus(int(t), r);
    if (r < 0) {
      std::clog << ext::header(this) << "open cas signalling on trunk(" << t << ") - fail(" << r
                << ")" << std::endl;
      return;
    }
    std::clog << ext::header(this) << "open cas signalling on trunk(" << t << ") - ok" << std::endl;
    casOpen_[t] = 1;
  } else {
    SendCASTrunkStatus(int(t), 0);
  }
  if (!IsCasTimeslot(ch.channel)) return;
  cas_config cfg{};
  cfg.channel.trunk = ch.trunk;
  cfg.channel.channel = ch.channel;
  cfg.channel.tx = static_cast<uint8_t>(bits & 15);  // stop stays 0: start
  int r = ::ioctl(cas_.get(), Hardware::Ioc::kCasConfigure, &cfg);
  if (r < 0)
    SendCASSignal(ch.trunk, ch.channel, r, 0);
  else
    ReportBits(ch);
}

void E1Ctl::HandleCasClose(cas_channel const& ch) {
  const unsigned t = static_cast<unsigned>(ch.trunk);
  if (t >= kTrunks || !casOpen_[t]) return;
  if (ch.channel == 0) {
    int r = ::ioctl(cas_.get(), Hardware::Ioc::kCasCloseTrunk, Value(t));
    SendCASTrunkStatus(int(t), r == 0 ? 1 : r);
    if (r < 0) return;
    casOpen_[t] = 0;
    return;
  }
  if (!IsCasTimeslot(ch.channel)) return;
  cas_config cfg{};
  cfg.channel.trunk = ch.trunk;
  cfg.channel.channel = ch.channel;
  cfg.stop = 1;
  int r = ::ioctl(cas_.get(), Hardware::Ioc::kCasConfigure, &cfg);
  if (r < 0)
    SendCASSignal(ch.trunk, ch.channel, r, 0);
  else
    SendCASSignal(ch.trunk, ch.channel, -1, 1);
}

void E1Ctl::HandleCasGet(cas_channel const& ch) {
  const unsigned t = static_cast<unsigned>(ch.trunk);
  if (t >= kTrunks || !casOpen_[t]) return;
  ReportBits(ch);
}

void E1Ctl::HandleCasSet(cas_channel const& ch, int bits) {
  const unsigned t = static_cast<unsigned>(ch.trunk);
  if (t >= kTrunks || !casOpen_[t]) return;
  cas_channel rec{};
  rec.trunk = ch.trunk;
  rec.channel = ch.channel;
  rec.tx = static_cast<uint8_t>(bits & 15);
  int r = ::ioctl(cas_.get(), Hardware::Ioc::kCasSetBits, &rec);
  if (r < 0)
    SendCASSignal(ch.trunk, ch.channel, r, 0);
  else
    ReportBits(ch);
}
