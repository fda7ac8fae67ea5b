// DSP receivers: per-timeslot voice functions of the DSP event processor
// behind "/dev/dsp" (VAD, SD, BSS score, noise gate, SelcalSh, mute, receive
// gain, delays, tone filters) and the events it reports.
//
// DSProcReceiverService owns the device: it configures the functions, turns
// them on and off, and reads and routes the events. DSProcReceiver is the
// mix-in of every slot that uses them; it remembers which functions are on
// for its timeslot and receives that timeslot's events.
#ifndef VELMARD_HARDWARE_DSPROC_H
#define VELMARD_HARDWARE_DSPROC_H

#include <cstddef>
#include <cstdint>

#include "asn1/modules/LGCP.h"
#include "core/cyclic.h"
#include "core/multiplexer.h"

// The driver's data records of an event, each read over the 12 data octets
// of the device record. Inside a class derived from
// Hardware::DSProcReceiver the callback of the same name hides these types:
// write ::dsproc_bss_event there.
struct dsproc_bss_event {
  float score;
};
struct dsproc_tone_event {
  uint32_t freq;      // what the slot reads: the filter's frequency
  uint32_t presence;  // and whether the tone is present
  uint32_t reserved;
};
struct dsproc_flags_event {
  uint32_t flags;
  uint32_t mask;
};
static_assert(sizeof(dsproc_bss_event) == 4 && sizeof(dsproc_tone_event) == 12 &&
                  sizeof(dsproc_flags_event) == 8,
              "dsproc event data");

// DSPROC_CONFIGURE: timeslot, function code, 12 parameter octets (zero
// where a function has none).
struct dsproc_config {
  uint32_t timeslot;
  uint32_t function;
  union {
    struct {
      uint16_t voice_th_msec;
      uint16_t silence_th_msec;
      int8_t e_th_dB;
    } vad_v2;
    struct {
      uint32_t a, b, c;  // 3, 127, 0
    } vad_v1;
    struct {
      uint32_t rx, tx, selcal;
    } delays;
    struct {
      int8_t gain_dB;
    } rx_gain;
    struct {
      uint16_t freq;
      uint8_t enable;
      uint16_t dur_th_msec;
      int8_t det_lvl_dB;
    } tone_filter;
    uint8_t raw[12];
  } u;
};
static_assert(sizeof(dsproc_config) == 20, "DSPROC_CONFIGURE record");
static_assert(offsetof(dsproc_config, u.vad_v2.silence_th_msec) == 10 &&
                  offsetof(dsproc_config, u.vad_v2.e_th_dB) == 12 &&
                  offsetof(dsproc_config, u.vad_v1.c) == 16 &&
                  offsetof(dsproc_config, u.delays.selcal) == 16 &&
                  offsetof(dsproc_config, u.rx_gain.gain_dB) == 8 &&
                  offsetof(dsproc_config, u.tone_filter.enable) == 10 &&
                  offsetof(dsproc_config, u.tone_filter.dur_th_msec) == 12 &&
                  offsetof(dsproc_config, u.tone_filter.det_lvl_dB) == 14,
              "DSPROC_CONFIGURE parameter offsets");

// DSPROC_ENABLE and DSPROC_DISABLE (id 0).
struct dsproc_enable {
  uint32_t timeslot;
  uint32_t id;
  uint32_t mask;
};
static_assert(sizeof(dsproc_enable) == 12, "DSPROC_ENABLE record");

// One event read from the device.
struct dsproc_event {
  uint32_t timeslot;
  uint32_t id;
  uint32_t type;
  union {
    struct {
      uint32_t dir_mask;  // bit 0: rx reported, bit 1: tx reported
      int32_t vad_rx;
      int32_t vad_tx;
    } vad;
    struct {
      int32_t sd_rx;
    } sd;
    dsproc_bss_event bss;
    dsproc_tone_event tone;
    dsproc_flags_event flags;
    uint8_t raw[12];
  } u;
};
static_assert(sizeof(dsproc_event) == 24 && offsetof(dsproc_event, u) == 12, "dsproc event");

namespace Hardware {

// Function codes of DSPROC_CONFIGURE, function masks of DSPROC_ENABLE and
// the event types.
namespace DSProc {
constexpr uint32_t kVAD = 0x1;
constexpr uint32_t kSD = 0x2;
constexpr uint32_t kMuteRx = 0x4;
constexpr uint32_t kMuteTx = 0x8;
constexpr uint32_t kBSS = 0x10;
constexpr uint32_t kDelays = 0x20;
constexpr uint32_t kRxGain = 0x40;
constexpr uint32_t kNG = 0x80;
constexpr uint32_t kToneFilter = 0x100;
constexpr uint32_t kFlags = 0x200;
constexpr uint32_t kSelcalSh = 0x400;
}  // namespace DSProc

// Each -1 when the device did not report that direction.
struct DSProcVADEvent {
  int vad_rx;
  int vad_tx;
};

struct DSProcSDEvent {
  int sd_rx;
};

class DSProcReceiverService;

// Mix-in of a slot that uses the DSP functions. Linked into the DSP
// receiver list in construction order: an event goes to the first receiver
// of its timeslot. The owning slot calls CleanBeforeDestroy() before it
// goes away.
class DSProcReceiver {
 public:
  DSProcReceiver();
  DSProcReceiver(const DSProcReceiver&) = delete;
  DSProcReceiver& operator=(const DSProcReceiver&) = delete;
  virtual ~DSProcReceiver();

  virtual void dsproc_vad_event(const DSProcVADEvent& event) = 0;
  virtual void dsproc_bss_event(const ::dsproc_bss_event* event) = 0;
  virtual void dsproc_sd_event(const DSProcSDEvent& event) = 0;
  virtual void dsproc_tone_flt_event(const ::dsproc_tone_event* event) = 0;
  virtual void dsproc_flags_event(const ::dsproc_flags_event* event) = 0;
  // The timeslot the slot's DSP functions work on.
  virtual uint32_t dsproc_timeslot() const = 0;

  // Each returns true on success; a failed switch changes no state.
  bool configureVAD(const LGCP::VADParams& params);
  bool enableVAD(bool on);
  bool disableVAD();
  bool enableBSS(bool on);
  bool disableBSS();
  bool enableNG(bool on);
  bool disableNG();
  bool enableSelcalSh(bool on);
  bool disableSelcalSh();
  bool configureSD();
  bool enableSD(bool on);
  bool disableSD();
  bool enableMute(bool rx, bool tx);
  bool disableMute();
  bool configureDelays(unsigned rx, unsigned tx, unsigned selcal);
  bool configureRxGain(int8_t gain_dB);
  bool configureToneFilter(unsigned freq, unsigned en, int dur_th_msec, int det_lvl_dB);
  bool disableToneAll();
  // Switches off VAD, BSS, NG and SelcalSh when on, clears delays and the
  // receive gain when set, then every tone filter.
  void CleanBeforeDestroy();

  // One function's state: -1 unknown, 0 off, 1 on; the id is the event id
  // given at its last switch-on.
  struct Function {
    int state;
    uint32_t id;
  };
  const Function& vad() const { return vad_; }
  const Function& bss() const { return bss_; }
  const Function& ng() const { return ng_; }
  const Function& selcalSh() const { return selcalSh_; }
  const Function& sd() const { return sd_; }
  int muteRx() const { return muteRx_; }
  int muteTx() const { return muteTx_; }
  uint32_t muteId() const { return muteId_; }
  bool delaysSet() const { return delaysSet_; }
  bool rxGainSet() const { return rxGainSet_; }

 private:
  friend class DSProcReceiverService;

  Function vad_{-1, 0};
  Function bss_{0, 0};
  Function ng_{0, 0};
  Function selcalSh_{0, 0};
  Function sd_{-1, 0};
  int muteRx_ = -1;
  int muteTx_ = -1;
  uint32_t muteId_ = 0;
  bool delaysSet_ = false;
  bool rxGainSet_ = false;
  Containers::CyclicList link_;
};

// The one owner of "/dev/dsp", built at first use.
class DSProcReceiverService : public Event {
 public:
  static DSProcReceiverService& instance();

  // Opens the device (read-write, non-blocking) and polls it; a failure is
  // reported and leaves the service closed.
  void init();
  bool isOpen() const { return scheduled(); }
  // The driver version the device reports; -1 when the query fails.
  int version();

  bool configureVAD(unsigned timeslot, const LGCP::VADParams& params);
  bool configureSD(unsigned timeslot);
  bool configureDelays(unsigned timeslot, unsigned rx, unsigned tx, unsigned selcal);
  bool configureRxGain(unsigned timeslot, int8_t gain_dB);
  bool configureToneFilter(unsigned timeslot, unsigned freq, unsigned en, int dur_th_msec,
                           int det_lvl_dB);
  bool enableVAD(DSProcReceiver& receiver, bool on);
  bool enableBSS(DSProcReceiver& receiver, bool on);
  bool enableNG(DSProcReceiver& receiver, bool on);
  bool enableSelcalSh(DSProcReceiver& receiver, bool on);
  bool enableSD(DSProcReceiver& receiver, bool on);
  bool enableMute(DSProcReceiver& receiver, bool rx, bool tx);
  bool disableToneAll(DSProcReceiver& receiver);

  // Reads and routes the queued event records.
  void OnEvent(int fd, short revents);

  // The event id handed out after last: 1 and up, 0 skipped on wrap-around.
  static uint32_t NextId(uint32_t last) { return last == UINT32_MAX ? 1 : last + 1; }

 private:
  DSProcReceiverService();

  uint32_t counter_ = 0;  // the last event id handed out
};

}  // namespace Hardware

#endif  // VELMARD_HARDWARE_DSPROC_H
