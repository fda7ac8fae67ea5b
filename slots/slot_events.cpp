// What the tone and DSP devices report for a slot, turned into the slot's
// signals.
#include <iostream>
#include <sstream>

#include "core/ext.h"
#include "slots/answers.h"
#include "slots/slot.h"

namespace {

// Flag bits of the DSP's flags event.
constexpr uint32_t kFlagVadRx = 1u << 29;
constexpr uint32_t kFlagVadTx = 1u << 30;
constexpr uint32_t kFlagSelcal = 1u << 31;

void SetVad(LGCP::VADEvent& event, bool rx, bool value) {
  if (rx) {
    event.includeOptionalField(LGCP::VADEvent::o_vad_rx, LGCP::VADEvent::f_vad_rx);
    event.set_vad_rx(value);
  } else {
    event.includeOptionalField(LGCP::VADEvent::o_vad_tx, LGCP::VADEvent::f_vad_tx);
    event.set_vad_tx(value);
  }
}

}  // namespace

void Slot::processTonecEvent(Hardware::TonecReceiver::Params const& params) {
  for (SlotAnswers::ToneCodeRow const& row : SlotAnswers::toneCodes) {
    if (params.code < row.first || params.code > row.last) continue;
    LGCP::TonecEvent event;
    event.set_timestamp(int(params.timestamp));
    LGCP::TonecCode& code = event.get_event();
    int value = int(params.code - row.first) + row.base;
    switch (row.alternative) {
      case LGCP::TonecCode::e_dtmf:
        code.select_dtmf().setValue(value);
        break;
      case LGCP::TonecCode::e_r1:
        code.select_r1().setFromInt(value);
        break;
      case LGCP::TonecCode::e_iva:
        if (value == 0)
          code.select_iva().select_ringoff();
        else
          code.select_iva().select_code().setValue(value);
        break;
      default:
        code.select(row.alternative);
        break;
    }
    OnTonecEvent(event);
    return;
  }
  std::cerr << ext::header(this) << "unknown tone code " << params.code << std::endl;
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& event) {
  LGCP::VADEvent vad;
  if (event.vad_rx >= 0) SetVad(vad, true, event.vad_rx != 0);
  if (event.vad_tx >= 0) SetVad(vad, false, event.vad_tx != 0);
  OnVADEvent(vad);
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& event) {
  if (event.sd_rx < 0) return;
  LGCP::SDEvent sd;
  sd.includeOptionalField(LGCP::SDEvent::o_sd_rx, LGCP::SDEvent::f_sd_rx);
  sd.set_sd_rx(event.sd_rx > 0);
  OnSDEvent(sd);
}

void Slot::processBSSEvent(::dsproc_bss_event const* event) {
  std::ostringstream score;
  score << event->score;
  LGCP::Signal s;
  s.select_bss().get_score() = score.str();
  SendSignal(s);
}

void Slot::processFlagsEvent(::dsproc_flags_event const* event) {
  if (event->mask & (kFlagVadRx | kFlagVadTx)) {
    LGCP::VADEvent vad;
    if (event->mask & kFlagVadRx) SetVad(vad, true, event->flags & kFlagVadRx);
    if (event->mask & kFlagVadTx) SetVad(vad, false, event->flags & kFlagVadTx);
    OnVADEvent(vad);
  }
  if (event->mask & kFlagSelcal) {
    LGCP::Signal s;
    s.select_selcal().set_in_progress(event->flags & kFlagSelcal);
    SendSignal(s);
  }
}

void Slot::processToneFltEvent(::dsproc_tone_event const* event) {
  LGCP::TonecEvent tone;  // timestamp 0
  LGCP::TonePresence& presence = tone.get_event().select_tone_presence();
  presence.set_freq(int(event->freq));
  presence.set_presence(event->presence != 0);
  OnTonecEvent(tone);
}
