#include "hardware/hwtests.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "core/ext.h"
#include "hardware/hwmux.h"

namespace {

// The byte of the next channel: the low 8 bits of glibc's random(), the
// generator the other board uses too.
unsigned char NextByte() {
  return static_cast<unsigned char>(random() & 0xFF);
}

}  // namespace

HwTests* HwTests::instance() {
  static HwTests tests;
  return &tests;
}

bool HwTests::OnCommand(LGCP::Command const& cmd) {
  if (cmd.currentSelection() != LGCP::Command::e_testBpc) return false;
  OnTestBpc(cmd.get_testBpc());
  return true;
}

void HwTests::OnTestBpc(LGCP::BpcTestParams const& params) {
  bus_ = params.get_bus().getValue();
  first_ = kFirstBusChannel + bus_ * kBusChannels + params.get_timeslot_start().getValue();
  end_ = first_ + params.get_timeslot_length().getValue();
  seed_ = static_cast<unsigned>(params.get_seed().getValue());
  srandom(seed_);
  switch (params.get_mode().currentSelection()) {
    case LGCP::BpcTestMode::e_read:
      TestRead();
      break;
    case LGCP::BpcTestMode::e_write:
      TestWrite();
      break;
    case LGCP::BpcTestMode::e_disconnect:
      TestDisconnect();
      break;
    default:
      Error(LGCP::ErrorCause::invalidParams);
      break;
  }
}

void HwTests::Compare(const char* what, const char* expected, const char* got) {
  HwMux& mux = HwMux::instance();
  for (unsigned ch = first_; ch < end_; ++ch) {
    const unsigned char want = NextByte();
    // A failed read gives 255, a mismatch unless 255 was expected.
    const unsigned char seen = static_cast<unsigned char>(mux.Read(int(ch)));
    if (want == seen) continue;
    std::cerr << ext::header(this) << what << " failed on channel " << ch % kBusChannels << " "
              << expected << " " << ext::OutBufInHex(&want, &want + 1) << " " << got << " "
              << ext::OutBufInHex(&seen, &seen + 1) << std::endl;
    Error(LGCP::ErrorCause::busError);
    return;
  }
  Success();
}

void HwTests::TestRead() {
  Compare("test", "expected", "read");
}

void HwTests::TestWrite() {
  HwMux& mux = HwMux::instance();
  for (unsigned ch = first_; ch < end_; ++ch) mux.Write(int(ch), NextByte());
  // Lets the switch put the bytes on the bus before they are read back.
  usleep(500);
  srandom(seed_);
  Compare("write", "write", "written");
}

void HwTests::TestDisconnect() {
  HwMux& mux = HwMux::instance();
  for (unsigned ch = first_; ch < end_; ++ch) mux.Disable(int(ch));
  usleep(250);
  Success();
}
