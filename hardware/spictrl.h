// The eight line-interface channels behind the SPI bus of "/dev/hal": their
// set-up, the clock master choice, and a `trunkStatus` signal of type `bri`
// per channel once a second while a controller is connected. It takes no
// command.
//
// A "/dev/hal" without SPI support (ENODEV on any register request) switches
// the service off for the rest of the run: no request, report or line after
// that.
#ifndef VELMARD_HARDWARE_SPICTRL_H
#define VELMARD_HARDWARE_SPICTRL_H

#include <cstdint>
#include <ostream>

#include "control/ctrlsrv.h"
#include "core/timer.h"

class spiCtrl : public CtrlSrv::Service {
 public:
  static constexpr int kChannels = 8;
  static constexpr unsigned kStatusPeriod = 1000;  // ms

  // Line-interface registers.
  enum Register : unsigned {
    kInit48 = 48,
    kDisable = 50,  // 0x80 disabled, 0x00 enabled
    kStatus = 51,
    kInit52 = 52,
    kInit53 = 53,
    kInit54 = 54,
    kInit55 = 55,
    kClockMaster = 87,  // 0x38 on the clock master, 0x30 elsewhere
  };

  static spiCtrl* instance();

  // Opens the device and sets up the channels.
  spiCtrl();
  // Disables every channel and gives up the clock master role.
  ~spiCtrl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const&) override { return false; }

  // Each does nothing once SPI is known to be missing.
  void write(unsigned channel, unsigned reg, unsigned data);
  // The register's value; 0 on any failure.
  unsigned read(unsigned channel, unsigned reg);
  void init_device_and_channels();
  void init_channel(int channel);
  void enable_channel(int channel);
  void disable_channel(int channel);
  // Makes channel the clock master; -1: none of them.
  void clock(int channel);
  // One report of all eight channels, then the next one is armed.
  void status();

  bool reporting() const { return timer_.pending(); }

  void PutHeader(std::ostream& out) const { out << "spi: "; }

 private:
  // A failed register request: ENODEV turns SPI off for good.
  bool LostSpi(int err);
  void SetRegister(int channel, unsigned reg, unsigned data, const char* what);

  int fd_ = -1;
  Timer timer_;
  bool usable_ = true;
  // Per channel: its last report counted a slip that is still flagged.
  bool slipsLatch_[kChannels] = {};
};

#endif  // VELMARD_HARDWARE_SPICTRL_H
