#include "hardware/tonec.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "hardware/board_ioc.h"
#include "hardware/devnames.h"

namespace Hardware {

const char Dtmf::strRep[17] = "0123456789*#ABCD";
const unsigned short Dtmf::freq1[16] = {941, 697, 697, 697, 770, 770, 770, 852,
                                        852, 852, 941, 941, 697, 770, 852, 941};
const unsigned short Dtmf::freq2[16] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209,
                                        1336, 1477, 1209, 1477, 1633, 1633, 1633, 1633};

namespace {

std::map<char, std::pair<unsigned short, unsigned short>> MakeTonesValidator() {
  std::map<char, std::pair<unsigned short, unsigned short>> m;
  for (int i = 0; i < 16; ++i) m[Dtmf::strRep[i]] = {Dtmf::freq1[i], Dtmf::freq2[i]};
  return m;
}

}  // namespace

const std::map<char, std::pair<unsigned short, unsigned short>> Dtmf::tonesValidator =
    MakeTonesValidator();

namespace {

// The tone receivers in construction order (the DSP unit has a list of
// its own under the same name).
Containers::CyclicList receivers;

constexpr unsigned short kDefaultAmp = 16384;
constexpr unsigned kDefaultDurationMs = 70;
// A timer further ahead than this looks like a clock set back to the loop,
// which then moves every timer of the daemon: no tone may last longer.
constexpr unsigned kLongestDurationMs = 7200000;
constexpr unsigned short kDefaultSelcalAmp = 12000;

// The error part of a failure line.
struct ErrnoPart {
  int err;
};
std::ostream& operator<<(std::ostream& out, ErrnoPart e) {
  return out << " errno=\"" << std::strerror(e.err) << '"';
}

TonecReceiver* ReceiverOf(Containers::CyclicList* node,
                          Containers::CyclicList TonecReceiver::*link) {
  return Containers::offset<TonecReceiver>(node, link);
}

// An optional duration of the controller: absent or negative means the
// default.
unsigned DurationMs(const LGCP::TranslateDtmfParams& p, unsigned optional,
                    const ASN1::INTEGER& value) {
  if (!p.hasOptionalField(optional) || value.getValue() < 0) return kDefaultDurationMs;
  return std::min(static_cast<unsigned>(value.getValue()), kLongestDurationMs);
}

unsigned short Amp(const LGCP::TranslateDtmfParams& p, unsigned optional,
                   const ASN1::INTEGER& value) {
  return p.hasOptionalField(optional) ? static_cast<unsigned short>(value.getValue()) : kDefaultAmp;
}

}  // namespace

// --- TonecReceiver

TonecReceiver::TonecReceiver() {
  receivers.AddTail(&link_);
}

TonecReceiver::~TonecReceiver() {
  link_.Unlink();
}

bool TonecReceiver::configureDTMF(const LGCP::DTMFParams& params) {
  return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on) {
  bool ok = TonecReceiverService::instance().enableDTMF(*this, on);
  if (ok) dtmfOn_ = on;
  return ok;
}

bool TonecReceiver::disableDTMF() {
  return enableDTMF(false);
}

bool TonecReceiver::echoCancel(bool on) {
  return TonecReceiverService::instance().echoCancel(tonec_timeslot(), on);
}

bool TonecReceiver::enableDTMFReject(bool on) {
  bool ok = TonecReceiverService::instance().enableDTMFReject(tonec_timeslot(), on);
  if (ok) dtmfRejectOn_ = on;
  return ok;
}

bool TonecReceiver::enableIVA(bool on) {
  bool ok = TonecReceiverService::instance().enableIVA(*this, on);
  if (ok) ivaOn_ = on;
  return ok;
}

bool TonecReceiver::configureIVA(const LGCP::IVAParams& params) {
  return TonecReceiverService::instance().configureIVA(*this, params);
}

bool TonecReceiver::enableToneGenerator(unsigned short freq1, unsigned short freq2,
                                        unsigned short level1, unsigned short level2) {
  return TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), freq1, freq2,
                                                              level1, level2);
}

bool TonecReceiver::enableSilence() {
  return enableToneGenerator(1000, 1000, 0, 0);
}

bool TonecReceiver::disableToneGenerator(bool force) {
  if (!force && !sending_) return false;
  if (sending_) {
    timer_.reset();
    sending_ = false;
  }
  return enableToneGenerator(0, 0, 0, 0);
}

bool TonecReceiver::activateAudibleCall() {
  // The ringback takes the timer over from a DTMF string: without clearing
  // the sending state the ringback could never be cancelled and no later
  // string would start.
  sending_ = false;
  return RingbackTone();
}

bool TonecReceiver::RingbackTone() {
  bool ok = enableToneGenerator(425, 0, 2048, 2048);
  timer_.set(1000, &TonecReceiver::OnRingbackTone, this);
  return ok;
}

// The tone phase is over: silence for 3000 ms, then the tone again.
void TonecReceiver::OnRingbackTone() {
  enableSilence();
  timer_.set(3000, &TonecReceiver::OnRingbackSilence, this);
}

void TonecReceiver::OnRingbackSilence() {
  RingbackTone();
}

bool TonecReceiver::cancelAudibleCall() {
  if (sending_) return true;
  timer_.reset();
  return enableToneGenerator(0, 0, 0, 0);
}

bool TonecReceiver::translateDTMF(const LGCP::TranslateDtmfParams& params) {
  dtmfString_ = params;
  if (sending_) return true;
  sending_ = true;
  return DigitStep();
}

bool TonecReceiver::DigitStep() {
  auto& digits = dtmfString_.get_digits();
  if (digits.empty()) {
    bool ok = disableToneGenerator(true);
    // The slot may act on the end of the string; nothing is touched after.
    tone_gen_complete();
    return ok;
  }
  const auto f1 = static_cast<unsigned short>(digits[0].get_freq1().getValue());
  const auto f2 = static_cast<unsigned short>(digits[0].get_freq2().getValue());
  digits.erase(digits.begin());
  const LGCP::TranslateDtmfParams& p = dtmfString_;
  bool ok = enableToneGenerator(f1, f2, Amp(p, LGCP::TranslateDtmfParams::o_amp1, p.get_amp1()),
                                Amp(p, LGCP::TranslateDtmfParams::o_amp2, p.get_amp2()));
  timer_.set(DurationMs(p, LGCP::TranslateDtmfParams::o_toneDuration, p.get_toneDuration()),
             &TonecReceiver::OnDigit, this);
  return ok;
}

// A digit has sounded long enough: the pause after it.
void TonecReceiver::OnDigit() {
  enableSilence();
  const LGCP::TranslateDtmfParams& p = dtmfString_;
  timer_.set(DurationMs(p, LGCP::TranslateDtmfParams::o_pauseDuration, p.get_pauseDuration()),
             &TonecReceiver::OnPause, this);
}

void TonecReceiver::OnPause() {
  DigitStep();
}

int TonecReceiver::translateSelcal(const TERM::SelcalCommand& cmd) {
  return TonecReceiverService::instance().translateSelcal(*this, cmd);
}

void TonecReceiver::CleanBeforeDestroy() {
  // A ringback or a string still playing would go on sounding on the
  // timeslot once the slot is gone: the generator goes off with the timer.
  if (timer_.pending()) {
    timer_.reset();
    sending_ = false;
    enableToneGenerator(0, 0, 0, 0);
  }
  if (dtmfOn_) disableDTMF();
  if (ivaOn_) enableIVA(false);
  if (dtmfRejectOn_) enableDTMFReject(false);
}

// --- TonecReceiverService

// Never destroyed: a slot still alive at exit (the slot table is torn down
// by the exit handlers too, in no order these services could rely on) still
// releases its receiver through a live service.
TonecReceiverService& TonecReceiverService::instance() {
  static TonecReceiverService* service = new TonecReceiverService;
  return *service;
}

TonecReceiverService::TonecReceiverService() {
  init();
}

void TonecReceiverService::init() {
  int dev = ::open(GetDTMFDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (dev < 0) {
    std::cerr << "open tonec fail, DTMF proceeding disabled: " << std::strerror(errno) << std::endl;
    return;
  }
  Bind("TonecReceiverService::OnEvent", &TonecReceiverService::OnEvent, this);
  Schedule(dev, POLLIN);
  ::close(dev);
}

namespace {

// A request that takes the timeslot itself; the success line goes to the
// log stream as "NAME[ts] ok".
bool TimeslotRequest(int dev, uint32_t request, const std::string& name, unsigned timeslot) {
  if (::ioctl(dev, request, static_cast<unsigned long>(timeslot)) < 0) {
    int e = errno;
    std::cerr << name << " fail:"
              << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
    return false;
  }
  std::clog << name << "[" << timeslot << "] ok" << std::endl;
  return true;
}

}  // namespace

bool TonecReceiverService::configureDTMF(unsigned timeslot, const LGCP::DTMFParams& params) {
  if (!isOpen()) init();
  if (!isOpen()) {
    std::cerr << "configure DTMF fail: (interface not opened)"
              << " timeslot=" << timeslot << std::endl;
    return false;
  }
  TonecDetectorConfig rec{};
  rec.timeslot = timeslot;
  rec.twist = static_cast<uint32_t>(params.get_threshold().get_twist().getValue());
  rec.ratio = static_cast<uint32_t>(params.get_threshold().get_ratio().getValue());
  rec.noise = static_cast<uint32_t>(params.get_threshold().get_noise().getValue());
  rec.silence = static_cast<uint32_t>(params.get_level().get_silence().getValue());
  if (::ioctl(fd.get(), Ioc::DTMF_CONFIGURE_DETECTOR, &rec) < 0) {
    int e = errno;
    std::cerr << "DTMF_CONFIGURE_DETECTOR fail:"
              << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
    return false;
  }
  std::clog << "DTMF_CONFIGURE_DETECTOR"
            << " ts=" << timeslot << " twist=" << rec.twist << " ratio=" << rec.ratio
            << " noise=" << rec.noise << " silence=" << rec.silence << std::endl;
  return true;
}

bool TonecReceiverService::echoCancel(unsigned timeslot, bool on) {
  return on ? TimeslotRequest(fd.get(), Ioc::CHANNEL_LMS_ON, "CHANNEL_LMS_ON", timeslot)
            : TimeslotRequest(fd.get(), Ioc::CHANNEL_LMS_OFF, "CHANNEL_LMS_OFF", timeslot);
}

bool TonecReceiverService::enableDTMFReject(unsigned timeslot, bool on) {
  return on ? TimeslotRequest(fd.get(), Ioc::DTMF_REJECTION_ENABLE, "DTMF_REJECTION_ENABLE",
                              timeslot)
            : TimeslotRequest(fd.get(), Ioc::DTMF_REJECTION_DISABLE, "DTMF_REJECTION_DISABLE",
                              timeslot);
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on) {
  if (receiver.dtmfDetectorOn_ == on) return true;
  const unsigned timeslot = receiver.tonec_timeslot();
  if (on) {
    counter_ = NextId(counter_);
    TonecDetectorEnable rec{timeslot, counter_};
    if (::ioctl(fd.get(), Ioc::DTMF_ENABLE_DETECTOR, &rec) < 0) {
      int e = errno;
      std::cerr << "DTMF_ENABLE_DETECTOR fail:"
                << " timeslot=" << timeslot << " id=" << counter_ << ErrnoPart{e} << std::endl;
      return false;
    }
    receiver.detectorId_ = counter_;
    receiver.dtmfDetectorOn_ = true;
    std::cerr << "DTMF_ENABLE_DETECTOR done:"
              << " timeslot=" << timeslot << " id=" << counter_ << std::endl;
    return true;
  }
  if (::ioctl(fd.get(), Ioc::DTMF_DISABLE_DETECTOR, static_cast<unsigned long>(timeslot)) < 0) {
    int e = errno;
    std::cerr << "DTMF_DISABLE_DETECTOR fail:"
              << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
    return false;
  }
  receiver.dtmfDetectorOn_ = false;
  std::cerr << "DTMF_DISABLE_DETECTOR done:"
            << " timeslot=" << timeslot << std::endl;
  return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned timeslot, unsigned short freq1,
                                               unsigned short freq2, unsigned short level1,
                                               unsigned short level2) {
  TonecDial rec{timeslot, freq1, freq2, level1, level2};
  if (::ioctl(fd.get(), Ioc::DTMF_DIAL, &rec) < 0) {
    int e = errno;
    std::cerr << "DTMF_DIAL fail:"
              << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
    return false;
  }
  return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params) {
  const unsigned timeslot = receiver.tonec_timeslot();
  if (!isOpen()) init();
  if (!isOpen()) {
    std::cerr << "configure IVA fail: (interface not opened)"
              << " timeslot=" << timeslot << std::endl;
    return false;
  }
  TonecIvaConfig rec{timeslot, params.get_det_lvl_dB().getValue()};
  if (::ioctl(fd.get(), Ioc::IVA_CONFIGURE_DETECTOR, &rec) < 0) {
    int e = errno;
    std::cerr << "IVA_CONFIGURE_DETECTOR fail:"
              << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
    return false;
  }
  std::clog << "IVA_CONFIGURE_DETECTOR"
            << " ts=" << timeslot << " det_lvl_dB=" << rec.det_lvl_dB << std::endl;
  return true;
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on) {
  const unsigned timeslot = receiver.tonec_timeslot();
  bool ok =
      on ? TimeslotRequest(fd.get(), Ioc::IVA_DETECTOR_ENABLE, "IVA_DETECTOR_ENABLE", timeslot)
         : TimeslotRequest(fd.get(), Ioc::IVA_DETECTOR_DISABLE, "IVA_DETECTOR_DISABLE", timeslot);
  if (ok) receiver.ivaDetectorOn_ = on;
  return ok;
}

int TonecReceiverService::translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& cmd) {
  const unsigned timeslot = receiver.tonec_timeslot();
  const std::string& signs = cmd.get_signs();
  if (signs.size() < 4) {
    std::cerr << "SELCAL_DIAL fail:"
              << " timeslot=" << timeslot << " incorect signs:" << signs << std::endl;
    return -1;
  }
  TonecSelcalDial rec{};
  rec.timeslot = static_cast<int32_t>(timeslot);
  rec.amp = cmd.hasOptionalField(TERM::SelcalCommand::o_amp)
                ? static_cast<uint16_t>(cmd.get_amp().getValue())
                : kDefaultSelcalAmp;
  std::memcpy(rec.signs, signs.data(), sizeof rec.signs);
  int r = ::ioctl(fd.get(), Ioc::SELCAL_DIAL, &rec);
  if (r < 0) {
    int e = errno;
    std::cerr << "SELCAL_DIAL fail:"
              << " timeslot=" << timeslot << ErrnoPart{e} << std::endl;
  }
  return r;
}

void TonecReceiverService::OnEvent(int dev, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    TonecEventRecord ev;
    ssize_t n = ::read(dev, &ev, sizeof ev);
    if (n < 0) {
      if (errno != EAGAIN)  // EWOULDBLOCK is the same number
        std::cerr << "fail to read from tonec: " << std::strerror(errno) << std::endl;
      return;
    }
    // Only whole records are events: anything else ends the pass, so an
    // empty read cannot spin the loop.
    if (n != static_cast<ssize_t>(sizeof ev)) {
      std::cerr << "short read from tonec: " << n << " bytes" << std::endl;
      return;
    }
    std::clog << "dtmf event: "
              << " timestamp=" << ev.timestamp << " timeslot=" << ev.timeslot << " code=" << ev.code
              << " id=" << ev.id << std::endl;
    TonecReceiver* owner = nullptr;
    for (auto it = receivers.begin(); it != receivers.end(); ++it) {
      TonecReceiver* r = ReceiverOf(&*it, &TonecReceiver::link_);
      if (r->tonec_timeslot() == ev.timeslot) {
        owner = r;
        break;
      }
    }
    if (!owner) {
      std::cerr << "receive tonec event from unknown timeslot " << ev.timeslot << std::endl;
    } else if (!owner->detectorOn()) {
      std::clog << "ignore spurious dtmf event (DTMF disabled): "
                << " timestamp=" << ev.timestamp << " timeslot=" << ev.timeslot
                << " code=" << ev.code << " id=" << ev.id << std::endl;
    } else if (owner->detectorId_ != ev.id) {
      std::clog << "ignore spurious dtmf event: "
                << " timestamp=" << ev.timestamp << " timeslot=" << ev.timeslot
                << " code=" << ev.code << " id=" << ev.id << " rid=" << owner->detectorId_
                << std::endl;
    } else {
      owner->tonec_event(TonecReceiver::Params{ev.code, ev.timestamp});
    }
  }
}

}  // namespace Hardware
