// The SPI block of "/dev/hal" (request type 'B'): the registers of the eight
// line-interface channels behind the SPI bus. A board built without SPI
// answers every request of the block ENODEV.
#ifndef VELMARD_SIM_SPICTRL_H
#define VELMARD_SIM_SPICTRL_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/requests.h"

namespace sim {

struct SpiRegisterRecord {
  uint8_t channel;
  uint8_t reg;
  uint8_t data;  // 0xFF on a read
};
static_assert(sizeof(SpiRegisterRecord) == 3 && offsetof(SpiRegisterRecord, reg) == 1 &&
                  offsetof(SpiRegisterRecord, data) == 2,
              "");

class SpiRegisters {
 public:
  static constexpr int kChannels = 8;
  static constexpr int kStatusRegister = 51;
  static constexpr uint8_t kLineInSync = 0xC5;
  static const Request kRequests[];
  static const size_t kRequestCount;

  // A read answers the register's value as the call's low 8 bits and
  // leaves the record as it was. Reads are not journaled (the daemon polls
  // a status register every second), but for one whose data byte is not
  // 0xFF: "spi-read CH REG data 0xHH".
  SpiRegisters() { Reset(); }
  int Handle(const Request& req, void* arg, int* err, std::string* line);
  static std::string Describe(const Request& req, const void* arg);

  uint8_t Get(int channel, int reg) const { return reg_[channel][reg]; }
  void Set(int channel, int reg, uint8_t value) { reg_[channel][reg] = value; }
  void SetPresent(bool present) { present_ = present; }
  // Bits a read's result carries above the register's value (0 at power-on).
  void SetReadHigh(uint32_t bits) { readHigh_ = bits & 0x7FFFFF00u; }
  bool present() const { return present_; }
  void Reset();

 private:
  // All set by Reset(), which the constructor calls.
  uint8_t reg_[kChannels][256];
  bool present_;
  uint32_t readHigh_;
};

}  // namespace sim

#endif  // VELMARD_SIM_SPICTRL_H
