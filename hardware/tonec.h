// Tone receivers: DTMF and IVA detection, tone generation (single tones,
// DTMF strings, ringback, Selcal) and the echo canceller of the tone DSP
// behind "/dev/dtmf", per TDM timeslot.
//
// TonecReceiverService owns the device: it passes the requests to the driver
// and reads the detection events, routing each one to the receiver that
// listens on the event's timeslot. TonecReceiver is the mix-in of every slot
// that uses these functions; it keeps the slot's detector state and plays
// ringback and DTMF strings with its own timer.
#ifndef VELMARD_HARDWARE_TONEC_H
#define VELMARD_HARDWARE_TONEC_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>

#include "asn1/modules/LGCP.h"
#include "asn1/modules/TERM.h"
#include "core/cyclic.h"
#include "core/multiplexer.h"
#include "core/timer.h"

namespace Hardware {

// The DTMF digits and their frequency pairs in Hz (ITU-T Q.23).
struct Dtmf {
  static const char strRep[17];  // "0123456789*#ABCD"
  static const unsigned short freq1[16];
  static const unsigned short freq2[16];
  // Digit character to {freq1, freq2}, built from the tables at start-up.
  static const std::map<char, std::pair<unsigned short, unsigned short>> tonesValidator;
};

// Records of "/dev/dtmf", in the driver's layout (native words).
struct TonecDetectorConfig {  // DTMF_CONFIGURE_DETECTOR
  uint32_t timeslot;
  uint32_t twist;
  uint32_t ratio;
  uint32_t silence;
  uint32_t noise;
};
static_assert(sizeof(TonecDetectorConfig) == 20, "DTMF_CONFIGURE_DETECTOR record");

struct TonecDetectorEnable {  // DTMF_ENABLE_DETECTOR
  uint32_t timeslot;
  uint32_t id;
};
static_assert(sizeof(TonecDetectorEnable) == 8, "DTMF_ENABLE_DETECTOR record");

struct TonecDial {  // DTMF_DIAL
  uint32_t timeslot;
  uint16_t freq1;
  uint16_t freq2;
  uint16_t level1;
  uint16_t level2;
};
static_assert(sizeof(TonecDial) == 12 && offsetof(TonecDial, level2) == 10, "DTMF_DIAL record");

struct TonecIvaConfig {  // IVA_CONFIGURE_DETECTOR
  uint32_t timeslot;
  int32_t det_lvl_dB;
};
static_assert(sizeof(TonecIvaConfig) == 8, "IVA_CONFIGURE_DETECTOR record");

struct TonecSelcalDial {  // SELCAL_DIAL
  int32_t timeslot;
  uint16_t amp;
  char signs[4];
  uint8_t zero[2];
};
static_assert(sizeof(TonecSelcalDial) == 12 && offsetof(TonecSelcalDial, signs) == 6,
              "SELCAL_DIAL record");

struct TonecEventRecord {  // one event read from the device
  uint32_t code;
  uint32_t timeslot;
  uint32_t timestamp;
  uint32_t id;
};
static_assert(sizeof(TonecEventRecord) == 16, "tone event record");

class TonecReceiverService;

// Mix-in of a slot that uses the tone DSP. Linked into the tone receiver
// list in construction order: an event goes to the first receiver of its
// timeslot, so of two receivers on one timeslot the older one hears it.
// The owning slot calls CleanBeforeDestroy() before it goes away.
class TonecReceiver {
 public:
  struct Params {
    unsigned code;
    unsigned timestamp;
  };

  TonecReceiver();
  TonecReceiver(const TonecReceiver&) = delete;
  TonecReceiver& operator=(const TonecReceiver&) = delete;
  virtual ~TonecReceiver();

  // One detection event for this receiver.
  virtual void tonec_event(const Params& params) = 0;
  // The TDM timeslot the receiver listens and generates on.
  virtual unsigned tonec_timeslot() const = 0;
  // A DTMF string has been played to its end.
  virtual void tone_gen_complete() {}

  // Each returns true on success; the flags change only on success.
  bool configureDTMF(const LGCP::DTMFParams& params);
  bool enableDTMF(bool on);
  bool disableDTMF();
  bool echoCancel(bool on);
  bool enableDTMFReject(bool on);
  bool enableIVA(bool on);
  bool configureIVA(const LGCP::IVAParams& params);
  bool enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short level1,
                           unsigned short level2);
  // The generator running at level 0.
  bool enableSilence();
  // Unforced: only a receiver that is sending a DTMF string is stopped
  // (false and nothing done otherwise). Forced: the generator goes off.
  bool disableToneGenerator(bool force);
  // Ringback: 1000 ms of 425 Hz, 3000 ms of silence, until cancelled.
  bool activateAudibleCall();
  // Ends the ringback; does nothing (true) while a DTMF string is sent.
  bool cancelAudibleCall();
  // Plays a DTMF string; a call while sending replaces the digits to come.
  bool translateDTMF(const LGCP::TranslateDtmfParams& params);
  // The driver's result of SELCAL_DIAL; -1 when the request was refused.
  int translateSelcal(const TERM::SelcalCommand& cmd);
  // Switches off what the slot enabled: a ringback or DTMF string still
  // playing (the generator goes off, without tone_gen_complete()), DTMF,
  // IVA and DTMF rejection.
  void CleanBeforeDestroy();

  // Events are taken while a detector is on; ids stale after a re-enable
  // are ignored.
  bool detectorOn() const { return dtmfDetectorOn_ || ivaDetectorOn_; }
  unsigned detectorId() const { return detectorId_; }
  bool sending() const { return sending_; }
  bool dtmfOn() const { return dtmfOn_; }
  bool ivaOn() const { return ivaOn_; }
  bool dtmfRejectOn() const { return dtmfRejectOn_; }

 private:
  friend class TonecReceiverService;

  bool RingbackTone();
  void OnRingbackTone();
  void OnRingbackSilence();
  bool DigitStep();
  void OnDigit();
  void OnPause();

  // The DTMF and the IVA detector each keep their own flag: with one flag
  // for both, enabling one after the other would be answered without a
  // request, and disabling one would leave the other on in the driver.
  bool dtmfDetectorOn_ = false;
  bool ivaDetectorOn_ = false;
  // Shared by the ringback cycle and the DTMF string: starting either
  // replaces what the other had scheduled.
  Timer timer_;
  bool sending_ = false;
  unsigned detectorId_ = 0;
  LGCP::TranslateDtmfParams dtmfString_;
  Containers::CyclicList link_;
  bool ivaOn_ = false;
  bool dtmfOn_ = false;
  bool dtmfRejectOn_ = false;
};

// The one owner of "/dev/dtmf", built at the first receiver operation.
class TonecReceiverService : public Event {
 public:
  static TonecReceiverService& instance();

  // Opens the device (read-only, non-blocking) and polls it; a failure is
  // reported and leaves the service closed.
  void init();
  bool isOpen() const { return scheduled(); }

  bool configureDTMF(unsigned timeslot, const LGCP::DTMFParams& params);
  bool echoCancel(unsigned timeslot, bool on);
  bool enableDTMFReject(unsigned timeslot, bool on);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  bool enableToneGenerator(unsigned timeslot, unsigned short freq1, unsigned short freq2,
                           unsigned short level1, unsigned short level2);
  bool configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params);
  bool enableIVA(TonecReceiver& receiver, bool on);
  int translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& cmd);

  // Reads and routes the queued event records.
  void OnEvent(int fd, short revents);

  // The detector id handed out after last: 1 and up, 0 skipped on
  // wrap-around.
  static unsigned NextId(unsigned last) { return last == UINT_MAX ? 1 : last + 1; }

 private:
  TonecReceiverService();

  unsigned counter_ = 0;  // the last detector id handed out
};

}  // namespace Hardware

#endif  // VELMARD_HARDWARE_TONEC_H
