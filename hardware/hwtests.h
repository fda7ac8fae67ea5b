// The controller's test of one internal TDM bus (`testBpc`): a run of the
// bus's channels is written, read back or released through the switch.
// Two boards can test each other: both derive the same bytes from the
// seed, one writes and the other reads and compares.
#ifndef VELMARD_HARDWARE_HWTESTS_H
#define VELMARD_HARDWARE_HWTESTS_H

#include <ostream>

#include "control/ctrlsrv.h"

class HwTests : public CtrlSrv::Service {
 public:
  // The 16 buses of 128 channels are outputs 8192..10239 of the switch.
  static constexpr unsigned kFirstBusChannel = 8192;
  static constexpr unsigned kBusChannels = 128;

  static HwTests* instance();

  HwTests() {}

  void OnConnect() override {}
  void OnDisconnect() override {}
  // Takes `testBpc` and answers it before returning.
  bool OnCommand(LGCP::Command const& cmd) override;

  void OnTestBpc(LGCP::BpcTestParams const& params);
  void TestRead();
  void TestWrite();
  void TestDisconnect();

  void PutHeader(std::ostream& out) const { out << "bus " << bus_ << ": "; }

 private:
  // Reads the run back against the seed's bytes; the first mismatch is
  // logged with `what`, `expected` and `got` and answered busError.
  void Compare(const char* what, const char* expected, const char* got);

  // The test in progress; kept after it.
  unsigned bus_ = 0;
  unsigned first_ = 0;
  unsigned end_ = 0;
  unsigned seed_ = 0;
};

#endif  // VELMARD_HARDWARE_HWTESTS_H
