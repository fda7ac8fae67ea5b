#include "hardware/dsproc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "core/traces.h"
#include "hardware/board_ioc.h"
#include "hardware/devnames.h"

namespace Hardware {

namespace {

// The DSP receivers in construction order (the tone unit has a list of its
// own under the same name).
Containers::CyclicList receivers;

struct ErrnoPart {
  int err;
};
std::ostream& operator<<(std::ostream& out, ErrnoPart e) {
  return out << " errno=\"" << std::strerror(e.err) << '"';
}

dsproc_config ConfigRecord(unsigned timeslot, uint32_t function) {
  dsproc_config rec;
  std::memset(&rec, 0, sizeof rec);
  rec.timeslot = timeslot;
  rec.function = function;
  return rec;
}

}  // namespace

// --- DSProcReceiver

DSProcReceiver::DSProcReceiver() {
  receivers.AddTail(&link_);
}

DSProcReceiver::~DSProcReceiver() {
  link_.Unlink();
}

bool DSProcReceiver::configureVAD(const LGCP::VADParams& params) {
  return DSProcReceiverService::instance().configureVAD(dsproc_timeslot(), params);
}

bool DSProcReceiver::enableVAD(bool on) {
  return DSProcReceiverService::instance().enableVAD(*this, on);
}

bool DSProcReceiver::disableVAD() {
  return enableVAD(false);
}

bool DSProcReceiver::enableBSS(bool on) {
  return DSProcReceiverService::instance().enableBSS(*this, on);
}

bool DSProcReceiver::disableBSS() {
  return enableBSS(false);
}

bool DSProcReceiver::enableNG(bool on) {
  return DSProcReceiverService::instance().enableNG(*this, on);
}

bool DSProcReceiver::disableNG() {
  return enableNG(false);
}

bool DSProcReceiver::enableSelcalSh(bool on) {
  return DSProcReceiverService::instance().enableSelcalSh(*this, on);
}

bool DSProcReceiver::disableSelcalSh() {
  return enableSelcalSh(false);
}

bool DSProcReceiver::configureSD() {
  return DSProcReceiverService::instance().configureSD(dsproc_timeslot());
}

bool DSProcReceiver::enableSD(bool on) {
  return DSProcReceiverService::instance().enableSD(*this, on);
}

bool DSProcReceiver::disableSD() {
  return enableSD(false);
}

bool DSProcReceiver::enableMute(bool rx, bool tx) {
  return DSProcReceiverService::instance().enableMute(*this, rx, tx);
}

bool DSProcReceiver::disableMute() {
  return enableMute(false, false);
}

bool DSProcReceiver::configureDelays(unsigned rx, unsigned tx, unsigned selcal) {
  bool ok = DSProcReceiverService::instance().configureDelays(dsproc_timeslot(), rx, tx, selcal);
  // Whatever the result: the clean-up then clears them once more.
  delaysSet_ = rx != 0 || tx != 0 || selcal != 0;
  return ok;
}

bool DSProcReceiver::configureRxGain(int8_t gain_dB) {
  bool ok = DSProcReceiverService::instance().configureRxGain(dsproc_timeslot(), gain_dB);
  rxGainSet_ = gain_dB != 0;
  return ok;
}

bool DSProcReceiver::configureToneFilter(unsigned freq, unsigned en, int dur_th_msec,
                                         int det_lvl_dB) {
  return DSProcReceiverService::instance().configureToneFilter(dsproc_timeslot(), freq, en,
                                                               dur_th_msec, det_lvl_dB);
}

bool DSProcReceiver::disableToneAll() {
  return DSProcReceiverService::instance().disableToneAll(*this);
}

void DSProcReceiver::CleanBeforeDestroy() {
  if (vad_.state == 1) disableVAD();
  if (bss_.state == 1) disableBSS();
  if (ng_.state == 1) disableNG();
  if (selcalSh_.state == 1) disableSelcalSh();
  if (delaysSet_) configureDelays(0, 0, 0);
  if (rxGainSet_) configureRxGain(0);
  disableToneAll();
}

// --- DSProcReceiverService

// Never destroyed: a slot still alive at exit (the slot table is torn down
// by the exit handlers too, in no order these services could rely on) still
// releases its receiver through a live service.
DSProcReceiverService& DSProcReceiverService::instance() {
  static DSProcReceiverService* service = new DSProcReceiverService;
  return *service;
}

DSProcReceiverService::DSProcReceiverService() {
  init();
}

void DSProcReceiverService::init() {
  int dev = ::open(GetDSPDevName(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (dev < 0) {
    std::cerr << "open dsproc fail, VAD proceeding disabled: " << std::strerror(errno) << std::endl;
    return;
  }
  Bind("DSProcReceiverService::OnEvent", &DSProcReceiverService::OnEvent, this);
  Schedule(dev, POLLIN);
  ::close(dev);
}

int DSProcReceiverService::version() {
  return ::ioctl(fd.get(), Ioc::DSPROC_VERSION, nullptr);
}

namespace {

// A configure request needs the device: a closed one is opened again first.
bool Opened(DSProcReceiverService& service, const char* notOpened, unsigned timeslot) {
  if (!service.isOpen()) service.init();
  if (service.isOpen()) return true;
  std::cerr << notOpened << " timeslot=" << timeslot << std::endl;
  return false;
}

bool Configure(int dev, const dsproc_config& rec, const char* failed) {
  if (::ioctl(dev, Ioc::DSPROC_CONFIGURE, &rec) >= 0) return true;
  int e = errno;
  std::cerr << failed << " timeslot=" << rec.timeslot << ErrnoPart{e} << std::endl;
  return false;
}

}  // namespace

bool DSProcReceiverService::configureVAD(unsigned timeslot, const LGCP::VADParams& params) {
  if (!Opened(*this, "configure VAD fail: (interface not opened)", timeslot)) return false;
  dsproc_config rec = ConfigRecord(timeslot, DSProc::kVAD);
  if (version() == 2) {
    if (params.currentSelection() != LGCP::VADParams::e_v2) {
      std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: "
                << " timeslot=" << timeslot << std::endl;
      return false;
    }
    const TERM::VADParamsV2& v2 = params.get_v2();
    rec.u.vad_v2.voice_th_msec = static_cast<uint16_t>(v2.get_voice_th_msec().getValue());
    rec.u.vad_v2.silence_th_msec = static_cast<uint16_t>(v2.get_silence_th_msec().getValue());
    rec.u.vad_v2.e_th_dB = static_cast<int8_t>(v2.get_e_th_dB().getValue());
  } else {
    // The first driver takes fixed parameters: 3, 127 and a zero word.
    rec.u.vad_v1.a = 3;
    rec.u.vad_v1.b = 127;
  }
  if (!Configure(fd.get(), rec, "DSPROC_CONFIGURE VAD fail:")) return false;
  std::clog << "DSPROC_CONFIGURE VAD"
            << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configureSD(unsigned timeslot) {
  if (!Opened(*this, "configure SD fail: (interface not opened)", timeslot)) return false;
  if (!Configure(fd.get(), ConfigRecord(timeslot, DSProc::kSD), "DSPROC_CONFIGURE SD fail:"))
    return false;
  std::clog << "DSPROC_CONFIGURE SD"
            << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configureDelays(unsigned timeslot, unsigned rx, unsigned tx,
                                            unsigned selcal) {
  if (!Opened(*this, "configure Delays fail: (interface not opened)", timeslot)) return false;
  dsproc_config rec = ConfigRecord(timeslot, DSProc::kDelays);
  rec.u.delays.rx = rx;
  rec.u.delays.tx = tx;
  rec.u.delays.selcal = selcal;
  if (!Configure(fd.get(), rec, "DSPROC_CONFIGURE DELAYS fail:")) return false;
  std::clog << "DSPROC_CONFIGURE DELAYS"
            << " ts=" << timeslot << " rx=" << rx << " tx=" << tx << " selcal=" << selcal
            << std::endl;
  return true;
}

bool DSProcReceiverService::configureRxGain(unsigned timeslot, int8_t gain_dB) {
  if (!Opened(*this, "Configure Rx gain fail: (interface not opened)", timeslot)) return false;
  dsproc_config rec = ConfigRecord(timeslot, DSProc::kRxGain);
  rec.u.rx_gain.gain_dB = gain_dB;
  if (!Configure(fd.get(), rec, "DSPROC_CONFIGURE Rx Gain fail:")) return false;
  std::clog << "DSPROC_CONFIGURE RX GAIN"
            << " ts=" << timeslot << " gain_dB=" << static_cast<int>(gain_dB) << std::endl;
  return true;
}

bool DSProcReceiverService::configureToneFilter(unsigned timeslot, unsigned freq, unsigned en,
                                                int dur_th_msec, int det_lvl_dB) {
  if (!Opened(*this, "Configure Tone Filter fail: (interface not opened)", timeslot)) return false;
  dsproc_config rec = ConfigRecord(timeslot, DSProc::kToneFilter);
  rec.u.tone_filter.freq = static_cast<uint16_t>(freq);
  rec.u.tone_filter.enable = static_cast<uint8_t>(en);
  rec.u.tone_filter.dur_th_msec = static_cast<uint16_t>(dur_th_msec);
  rec.u.tone_filter.det_lvl_dB = static_cast<int8_t>(det_lvl_dB);
  if (!Configure(fd.get(), rec, "DSPROC_CONFIGURE Tone Filter fail:")) return false;
  std::clog << "DSPROC_CONFIGURE TONE FILTER"
            << " ts=" << timeslot << " freq=" << rec.u.tone_filter.freq
            << ", en=" << static_cast<unsigned>(rec.u.tone_filter.enable)
            << ", dur_th_msec=" << rec.u.tone_filter.dur_th_msec
            << ", det_lvl_dB=" << static_cast<int>(rec.u.tone_filter.det_lvl_dB) << std::endl;
  return true;
}

namespace {

// One function of a receiver switched on or off through DSPROC_ENABLE and
// DSPROC_DISABLE; the lines name it ("VAD", "BSS", ...).
bool Switch(int dev, uint32_t& counter, unsigned timeslot, DSProcReceiver::Function& f,
            uint32_t mask, const char* name, bool on) {
  if (f.state == (on ? 1 : 0)) return true;  // an unknown state (-1) never matches
  if (on) {
    counter = DSProcReceiverService::NextId(counter);
    dsproc_enable rec{timeslot, counter, mask};
    if (::ioctl(dev, Ioc::DSPROC_ENABLE, &rec) < 0) {
      int e = errno;
      std::cerr << "DSPROC_ENABLE " << name << " fail:"
                << " timeslot=" << timeslot << " id=" << counter << ErrnoPart{e} << std::endl;
      return false;
    }
    f.id = counter;
    f.state = 1;
    std::cerr << "DSPROC_ENABLE " << name << " done:"
              << " timeslot=" << timeslot << " id=" << counter << std::endl;
    return true;
  }
  dsproc_enable rec{timeslot, 0, mask};
  if (::ioctl(dev, Ioc::DSPROC_DISABLE, &rec) < 0) {
    int e = errno;
    std::cerr << "DSPROC_DISABLE " << name << " fail:"
              << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
    return false;
  }
  f.state = 0;
  std::cerr << "DSPROC_DISABLE " << name << " done:"
            << " timeslot=" << timeslot << std::endl;
  return true;
}

}  // namespace

bool DSProcReceiverService::enableVAD(DSProcReceiver& r, bool on) {
  return Switch(fd.get(), counter_, r.dsproc_timeslot(), r.vad_, DSProc::kVAD, "VAD", on);
}

bool DSProcReceiverService::enableBSS(DSProcReceiver& r, bool on) {
  return Switch(fd.get(), counter_, r.dsproc_timeslot(), r.bss_, DSProc::kBSS, "BSS", on);
}

bool DSProcReceiverService::enableNG(DSProcReceiver& r, bool on) {
  return Switch(fd.get(), counter_, r.dsproc_timeslot(), r.ng_, DSProc::kNG, "NG", on);
}

bool DSProcReceiverService::enableSelcalSh(DSProcReceiver& r, bool on) {
  return Switch(fd.get(), counter_, r.dsproc_timeslot(), r.selcalSh_, DSProc::kSelcalSh,
                "SELCAL_SH", on);
}

bool DSProcReceiverService::enableSD(DSProcReceiver& r, bool on) {
  return Switch(fd.get(), counter_, r.dsproc_timeslot(), r.sd_, DSProc::kSD, "SD", on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& r, bool rx, bool tx) {
  if (r.muteRx_ == int(rx) && r.muteTx_ == int(tx)) return true;  // both known and equal
  const unsigned timeslot = r.dsproc_timeslot();
  if (!rx && !tx) {
    dsproc_enable rec{timeslot, 0, DSProc::kMuteRx | DSProc::kMuteTx};
    if (::ioctl(fd.get(), Ioc::DSPROC_DISABLE, &rec) < 0) {
      int e = errno;
      std::cerr << "DSPROC_DISABLE MUTE fail:"
                << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
      return false;
    }
    r.muteRx_ = r.muteTx_ = 0;
    std::cerr << "DSPROC_DISABLE MUTE done:"
              << " timeslot=" << timeslot << std::endl;
    return true;
  }
  counter_ = NextId(counter_);
  dsproc_enable rec{timeslot, counter_, (rx ? DSProc::kMuteRx : 0) | (tx ? DSProc::kMuteTx : 0)};
  if (::ioctl(fd.get(), Ioc::DSPROC_ENABLE, &rec) < 0) {
    int e = errno;
    std::cerr << "DSPROC_ENABLE MUTE fail:"
              << " timeslot=" << timeslot << " id=" << counter_ << ErrnoPart{e} << std::endl;
    return false;
  }
  r.muteId_ = counter_;
  r.muteRx_ = rx;
  r.muteTx_ = tx;
  std::cerr << "DSPROC_ENABLE MUTE done:"
            << " timeslot=" << timeslot << " id=" << counter_ << std::endl;
  return true;
}

bool DSProcReceiverService::disableToneAll(DSProcReceiver& r) {
  const unsigned timeslot = r.dsproc_timeslot();
  if (!Opened(*this, "Disable All Tone fail: (interface not opened)", timeslot)) return false;
  dsproc_enable rec{timeslot, 0, DSProc::kToneFilter};
  if (::ioctl(fd.get(), Ioc::DSPROC_DISABLE, &rec) < 0) {
    int e = errno;
    std::cerr << "Disable All Tone fail:"
              << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
    return false;
  }
  std::clog << "DISABLE ALL TONE done: "
            << " ts=" << timeslot << std::endl;
  return true;
}

namespace {

void TraceEvent(const dsproc_event& ev) {
  std::clog << "dsproc event: "
            << " timeslot=" << ev.timeslot << " id=" << ev.id << " type=" << ev.type << std::endl;
  switch (ev.type) {
    case DSProc::kVAD:
      std::clog << "dsproc vad event: "
                << " dir_mask=" << ev.u.vad.dir_mask << " vad_rx=" << ev.u.vad.vad_rx
                << " vad_tx=" << ev.u.vad.vad_tx << std::endl;
      break;
    case DSProc::kSD:
      std::clog << "dsproc sd event: "
                << " sd_rx=" << ev.u.sd.sd_rx << std::endl;
      break;
    case DSProc::kBSS:
      std::clog << "dsproc bss event: "
                << " score=" << ev.u.bss.score << std::endl;
      break;
    case DSProc::kFlags:
      std::clog << "dsproc flags event: " << std::hex << " flags=" << ev.u.flags.flags
                << ", mask=" << ev.u.flags.mask << std::dec << std::endl;
      break;
    default:
      break;
  }
}

void TraceDropped(const char* why, const dsproc_event& ev) {
  std::clog << why << " timeslot=" << ev.timeslot << " id=" << ev.id << " type=" << ev.type;
}

}  // namespace

void DSProcReceiverService::OnEvent(int dev, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    dsproc_event ev;
    ssize_t n = ::read(dev, &ev, sizeof ev);
    if (n < 0) {
      if (errno != EAGAIN)  // EWOULDBLOCK is the same number
        std::cerr << "fail to read from dsproc: " << std::strerror(errno) << std::endl;
      return;
    }
    // Only whole records are events: anything else ends the pass, so an
    // empty read cannot spin the loop.
    if (n != static_cast<ssize_t>(sizeof ev)) {
      std::cerr << "short read from dsproc: " << n << " bytes" << std::endl;
      return;
    }
    const bool trace = traces.signalling_events;
    if (trace) TraceEvent(ev);
    DSProcReceiver* r = nullptr;
    for (auto it = receivers.begin(); it != receivers.end(); ++it) {
      DSProcReceiver* candidate = Containers::offset<DSProcReceiver>(&*it, &DSProcReceiver::link_);
      if (candidate->dsproc_timeslot() == ev.timeslot) {
        r = candidate;
        break;
      }
    }
    if (!r) {
      if (trace)
        std::cerr << "receive dsproc event from unknown timeslot " << ev.timeslot << std::endl;
      continue;
    }
    // Each callback may end the slot: the record is done with after it.
    switch (ev.type) {
      case DSProc::kVAD:
        if (r->vad_.state == 0) {
          if (trace) {
            TraceDropped("ignore spurious dsproc vad event (dsproc disabled): ", ev);
            std::clog << std::endl;
          }
        } else if (ev.id == r->vad_.id) {
          DSProcVADEvent vad{(ev.u.vad.dir_mask & 1) ? ev.u.vad.vad_rx : -1,
                             (ev.u.vad.dir_mask & 2) ? ev.u.vad.vad_tx : -1};
          r->dsproc_vad_event(vad);
        } else if (trace) {
          TraceDropped("ignore spurious dsproc vad event: ", ev);
          std::clog << " rid=" << r->vad_.id << std::endl;
        }
        break;
      case DSProc::kSD:
        if (r->sd_.state != 0 && ev.id == r->sd_.id)
          r->dsproc_sd_event(DSProcSDEvent{ev.u.sd.sd_rx});
        break;
      case DSProc::kBSS:
        if (r->bss_.state == 0) {
          if (trace) {
            TraceDropped("ignore spurious dsproc bss event (dsproc disabled): ", ev);
            std::clog << std::endl;
          }
        } else {
          r->dsproc_bss_event(&ev.u.bss);
        }
        break;
      case DSProc::kFlags:
        r->dsproc_flags_event(&ev.u.flags);
        break;
      case DSProc::kToneFilter:
        r->dsproc_tone_flt_event(&ev.u.tone);
        break;
      default:
        break;
    }
  }
}

}  // namespace Hardware
