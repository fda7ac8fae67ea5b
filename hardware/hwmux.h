// The board's TDM switch, driven through "/dev/hal". Every output channel
// is connected from one input, driven with a constant byte, or disabled.
// HwMux is the only programmer of the switch: slots, HDLC channels and the
// bus test all go through it.
#ifndef VELMARD_HARDWARE_HWMUX_H
#define VELMARD_HARDWARE_HWMUX_H

#include <cstdint>
#include <ostream>

#include "core/timer.h"

class HwMux {
 public:
  // The outputs of the 16 internal buses of 128 channels, which map slots
  // address as 8192 + bus * 128 + channel; only these are tracked.
  static constexpr int kFirstTracked = 8192;
  static constexpr int kTracked = 2048;
  // Table entries besides a connected input channel.
  static constexpr uint16_t kDisabled = 0xFFFF;
  static constexpr uint16_t kDriven = 0xFFFE;
  // The byte a released output carries.
  static constexpr unsigned char kIdleByte = 0xD5;
  // Outputs re-asserted per run of the refresh.
  static constexpr int kRefreshBatch = 128;

  static HwMux& instance();
  ~HwMux();

  // True when "/dev/hal" is open, opening it first when it is not.
  bool IsOpened();
  // Each returns false (Read: 255) when the device cannot be opened, a
  // channel is negative or the driver refuses.
  bool Connect(int src, int dst);
  bool Disconnect(int ch);
  bool Disable(int ch);
  bool Write(int ch, unsigned char value);
  // The byte seen on channel ch, 0..255; 255 on any failure (also a
  // legal byte).
  int Read(int ch);
  // Re-asserts output kFirstTracked + index when it is meant to be
  // disabled.
  void RefreshChannel(int index);
  void OnDPC();
  void Reset() {}

  // The table entry of a tracked output (index 0..2047).
  uint16_t Entry(int index) const { return table[index]; }
  int descriptor() const { return fd; }

  void PutHeader(std::ostream& out) const;

 private:
  HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  static bool Tracked(int ch) { return ch >= kFirstTracked && ch < kFirstTracked + kTracked; }
  void SetEntry(int ch, uint16_t value) {
    if (Tracked(ch)) table[ch - kFirstTracked] = value;
  }

  int fd = -1;
  uint16_t table[kTracked];
  unsigned cursor = 0;
  Dpc refresh;
};

// A backtrace of the calling thread on standard output (at most 10 frames).
void print_trace();

#endif
