// libFuzzer target: the records the daemon reads from the board's devices,
// on the simulated board.  Each record, of any length and content, is
// queued on the device and read by its handler from the real loop, one pass
// per record, on the frozen clock:
//   "/dev/e1-cas"  12-byte cas_channel records  -> E1Ctl, `cas` signals
//   "/dev/dtmf"    16-byte tone event records   -> a tone receiver
//   "/dev/dsp"     24-byte DSP event records    -> a DSP receiver
//   "/dev/mcc/ctl" one frame per read           -> an HDLC channel's user
// The device hands a reader that asks for less the start of a longer record
// and the whole of a shorter one.  What reaches the handler's user must be
// what the record says, and nothing may come of a record that is not whole.
//
// Input: one plan octet, then records.  Plan bits 0-1: the device; bit 2:
// records that name the receiver's timeslot get its live event id, so they
// reach it; bit 3: the event traces on.  Each record is one length octet,
// then that many octets; an HDLC length of 255 takes the rest of the input.

#include <poll.h>
#include <sys/eventfd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "control/ctrlsrv.h"
#include "control/packet.h"
#include "core/multiplexer.h"
#include "core/timer.h"
#include "core/traces.h"
#include "hardware/dsproc.h"
#include "hardware/e1ctl.h"
#include "hardware/hdlc.h"
#include "hardware/tonec.h"
#include "sim/board.h"
#include "tests/fuzz/fuzz_loop.h"

namespace {

using Hardware::DSProcReceiver;
using Hardware::TonecEventRecord;
using Hardware::TonecReceiver;

constexpr unsigned kTimeslot = 5;
constexpr char const* kPaths[] = {"/dev/e1-cas", "/dev/dtmf", "/dev/dsp", "/dev/mcc/ctl"};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// What the handlers passed on for the record of this pass.
struct Seen {
  int cas = 0;
  LGCP::CasSignalling casSignal;
  int tones = 0;
  TonecReceiver::Params tone{};
  int dsp = 0;
  int frames = 0;
  std::string frame;
  int errors = 0;
} seen;

// Bound beside E1Ctl, it is offered every signal the others send.
class SignalProbe : public CtrlSrv::Service {
 public:
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }
  void OnSignal(LGCP::Signal const& signal) override {
    if (signal.currentSelection() != LGCP::Signal::e_cas) return;
    ++seen.cas;
    seen.casSignal = signal.get_cas();
  }
};

struct Tones : TonecReceiver {
  void tonec_event(const Params& p) override {
    ++seen.tones;
    seen.tone = p;
  }
  unsigned tonec_timeslot() const override { return kTimeslot; }
};

struct Dsp : DSProcReceiver {
  void dsproc_vad_event(const Hardware::DSProcVADEvent&) override { ++seen.dsp; }
  void dsproc_bss_event(const ::dsproc_bss_event*) override { ++seen.dsp; }
  void dsproc_sd_event(const Hardware::DSProcSDEvent&) override { ++seen.dsp; }
  void dsproc_tone_flt_event(const ::dsproc_tone_event*) override { ++seen.dsp; }
  void dsproc_flags_event(const ::dsproc_flags_event*) override { ++seen.dsp; }
  uint32_t dsproc_timeslot() const override { return kTimeslot; }
};

struct Frames : HDLC::Notify {
  void on_hdlc_receive(Packet& frame) override {
    ++seen.frames;
    seen.frame.assign(reinterpret_cast<char const*>(frame.data()), frame.length());
  }
  void on_hdlc_error(Cause::Type) override { ++seen.errors; }
  void on_hdlc_ready() override {}
};

fuzzloop::NullBuf nullBuf;
fuzzloop::Stopper* stopper;
SignalProbe probe;
Tones* tones;
Dsp* dsp;
Frames frames;
HDLC* hdlc;
std::string channel;  // the HDLC channel's number on the board

void Pass() {
  stopper->mux_detach();
  stopper->mux_attach();
  multiplexer.run(false, true);
}

// Opens the channel and learns the number the board gave it.
void OpenChannel() {
  Check(hdlc->activate());
  std::istringstream lines(sim::Board::instance().Control("/dev/mcc/ctl", "channels"));
  std::string word, number, mode;
  while (lines >> word >> number >> mode) {
    if (word == "channel" && mode == "mode") channel = number;
    std::getline(lines, word);
  }
  Check(!channel.empty());
}

std::string Hex(std::uint8_t const* p, std::size_t n) {
  static char const digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

void Setup() {
  std::cout.rdbuf(&nullBuf);
  std::cerr.rdbuf(&nullBuf);
  std::clog.rdbuf(&nullBuf);
  stopper = new fuzzloop::Stopper;
  Mux::g_tv_time.tv_sec = 1000000;
  ctrlServer.Bind(E1Ctl::instance());
  ctrlServer.Bind(&probe);
  Check(E1Ctl::instance()->CheckOpenCas());
  tones = new Tones;
  Check(tones->enableDTMF(true) && tones->detectorOn());
  dsp = new Dsp;
  Check(dsp->enableVAD(true) && dsp->enableBSS(true) && dsp->enableSD(true));
  hdlc = new HDLC;
  hdlc->timeslot = 1;
  hdlc->notify = &frames;
  OpenChannel();
}

// One record through its device and one loop pass, then what came of it.
void Deliver(unsigned device, bool liveIds, std::uint8_t const* p, std::size_t n) {
  std::vector<std::uint8_t> rec(p, p + n);
  if (liveIds && device == 1 && n >= sizeof(TonecEventRecord)) {
    TonecEventRecord ev;
    std::memcpy(&ev, rec.data(), sizeof ev);
    if (ev.timeslot == kTimeslot) ev.id = tones->detectorId();
    std::memcpy(rec.data(), &ev, sizeof ev);
  }
  if (liveIds && device == 2 && n >= sizeof(dsproc_event)) {
    dsproc_event ev;
    std::memcpy(&ev, rec.data(), sizeof ev);
    if (ev.timeslot == kTimeslot)
      ev.id = ev.type == Hardware::DSProc::kSD ? dsp->sd().id : dsp->vad().id;
    std::memcpy(rec.data(), &ev, sizeof ev);
  }
  std::string words = Hex(rec.data(), rec.size());
  if (device == 3)
    words = n ? channel + " " + words : "eof " + channel;
  else
    words = "raw " + words;
  std::string reply;
  std::vector<std::string> split;
  std::istringstream in(words);
  for (std::string w; in >> w;) split.push_back(w);
  Check(sim::Board::instance().Inject(kPaths[device], split, &reply));

  seen = Seen();
  Pass();
  switch (device) {
    case 0: {
      // A shorter record is no event; a longer one is cut to one.
      cas_channel ch;
      Check(seen.cas == (n >= sizeof ch));
      if (!seen.cas) break;
      std::memcpy(&ch, rec.data(), sizeof ch);
      LGCP::CasSignalling const& s = seen.casSignal;
      Check(s.get_channel().get_path().getValue() == ch.trunk &&
            s.get_channel().get_timeslot().getValue() == ch.channel &&
            s.get_rx().getValue() == ch.rx && s.get_tx().getValue() == ch.tx);
      break;
    }
    case 1: {
      TonecEventRecord ev;
      if (n < sizeof ev) {
        Check(seen.tones == 0);
        break;
      }
      std::memcpy(&ev, rec.data(), sizeof ev);
      bool mine = ev.timeslot == kTimeslot && ev.id == tones->detectorId();
      Check(seen.tones == int(mine));
      Check(!mine || (seen.tone.code == ev.code && seen.tone.timestamp == ev.timestamp));
      break;
    }
    case 2: {
      dsproc_event ev{};
      if (n) std::memcpy(&ev, rec.data(), n < sizeof ev ? n : sizeof ev);
      Check(seen.dsp <= 1 && (seen.dsp == 0 || (n >= sizeof ev && ev.timeslot == kTimeslot)));
      break;
    }
    case 3:
      // An empty read is the channel's end: its user hears of it, and
      // opens it again as a link layer would.
      if (n == 0) {
        Check(seen.errors == 1 && seen.frames == 0 && !hdlc->is_open());
        OpenChannel();
      } else {
        Check(seen.errors == 0 && seen.frames == 1 &&
              seen.frame == std::string(reinterpret_cast<char const*>(p), n));
      }
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (Setup(), true);
  (void)ready;
  if (size == 0 || size > 65536) return 0;
  std::uint8_t const plan = data[0];
  unsigned const device = plan & 3;
  traces.signalling_events = traces.signalling_hdlc = plan & 8;
  std::size_t at = 1;
  while (at < size) {
    std::size_t n = data[at++];
    if (device == 3 && n == 255) n = size - at;
    if (n > size - at) n = size - at;
    Deliver(device, plan & 4, data + at, n);
    at += n;
  }
  traces.signalling_events = traces.signalling_hdlc = false;
  sim::Board& board = sim::Board::instance();
  for (char const* path : kPaths) board.ClearJournal(path);
  board.ClearJournal("/dev/hal");
  // Every frame block went back to the pool.
  Check(Packet_pool::available() == Packet_pool::capacity());
  return 0;
}
