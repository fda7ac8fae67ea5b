// Answers of the slot table and the slot model that no rule of the
// controller's protocol fixes, in one place so that a controller writer can
// find them (docs/ARCHITECTURE.md lists them too).
#ifndef VELMARD_SLOTS_ANSWERS_H
#define VELMARD_SLOTS_ANSWERS_H

#include "asn1/modules/LGCP.h"

namespace SlotAnswers {

using Cause = LGCP::ErrorCause::NamedNumber;

// --- Commands: the error answered ---------------------------------------
// `create` on a number that holds a slot.
constexpr Cause createOnBusyNumber = LGCP::ErrorCause::slotIdBusy;
// `create` that no factory makes.
constexpr Cause createNotMade = LGCP::ErrorCause::insufficientResources;
// Any other slot command on a number that holds no slot; also `connect`
// to such a destination.
constexpr Cause noSuchSlot = LGCP::ErrorCause::slotNotExists;
// Any command on a slot whose destroy is under way.
constexpr Cause beingDestroyed = LGCP::ErrorCause::destroyInProgress;
// `connect` of a slot to itself.
constexpr Cause connectToItself = LGCP::ErrorCause::invalidParams;
// The hardware step of `connect` / `disconnect` failed.
constexpr Cause connectFailed = LGCP::ErrorCause::connectFail;
constexpr Cause disconnectFailed = LGCP::ErrorCause::disconnectFail;
// `activate`, `deactivate`, `userData`, `ioctl` on a kind that takes none.
constexpr Cause notTaken = LGCP::ErrorCause::unsupported;
// `disconnect` of a slot that has no source: success (nothing to undo).
// `query`: the `query` signal first, then success.

// --- Resources: what a factory that makes nothing reports ---------------
// Every count 0, empty lists, no driver version; `mux` true while the TDM
// switch is open.

// --- Signals --------------------------------------------------------------
// The cause carried by `deactivated`.
constexpr LGCP::DeactivateCause::NamedNumber deactivateCause = LGCP::DeactivateCause::otherError;
// The INTEGER of an `active` stream (`receiver`, `transmitter`).
constexpr int activeStream = 0;
// BSS score: the float as the standard stream prints it ("0.75").
// Tone filter: `tone-presence` {freq: first word, presence: second word
// not 0}, timestamp 0.

// --- Tone codes of the tone DSP, as `TonecCode` ---------------------------
struct ToneCodeRow {
  unsigned first, last;  // the driver's codes, inclusive
  int alternative;       // TonecCode alternative
  int base = 0;          // value = code - first + base (dtmf, r1, iva)
};
constexpr ToneCodeRow toneCodes[] = {
    {0, 127, LGCP::TonecCode::e_dtmf},      // the digit as the driver gives it
    {128, 130, LGCP::TonecCode::e_r1},      // none, noise, silence
    {131, 131, LGCP::TonecCode::e_ced},     //
    {132, 132, LGCP::TonecCode::e_cng},     //
    {133, 153, LGCP::TonecCode::e_iva, 1},  // IVA code 1..21
    {154, 154, LGCP::TonecCode::e_iva},     // IVA value 0: ringoff
    {155, 155, LGCP::TonecCode::e_dtmfDone},
};
// Any other code is logged ("unknown tone code ") and sends nothing.

// --- Controller gone ------------------------------------------------------
// Slots whose release had not completed get this long before they are
// destroyed outright; the loop runs on meanwhile.
constexpr unsigned releaseGraceMs = 1000;

}  // namespace SlotAnswers

#endif  // VELMARD_SLOTS_ANSWERS_H
