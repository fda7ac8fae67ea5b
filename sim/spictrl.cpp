#include "sim/spictrl.h"

#include <cerrno>
#include <cstring>

namespace sim {

const Request SpiRegisters::kRequests[] = {
    {0xC0034203u, 3, true, "spi-read"},
    {0xC0034204u, 3, true, "spi-write"},
};
const size_t SpiRegisters::kRequestCount = sizeof kRequests / sizeof kRequests[0];

std::string SpiRegisters::Describe(const Request& req, const void* arg) {
  auto* r = static_cast<const SpiRegisterRecord*>(arg);
  std::string text =
      std::string(req.name) + " " + std::to_string(r->channel) + " " + std::to_string(r->reg);
  if (std::strcmp(req.name, "spi-write") == 0) text += " " + HexByte(r->data);
  return text;
}

int SpiRegisters::Handle(const Request& req, void* arg, int* err, std::string* line) {
  auto* r = static_cast<SpiRegisterRecord*>(arg);
  const bool write = std::strcmp(req.name, "spi-write") == 0;
  // A read asks with 0xFF in the data byte; anything else is journaled.
  *line = write             ? Describe(req, arg)
          : r->data != 0xFF ? Describe(req, arg) + " data " + HexByte(r->data)
                            : std::string();
  if (!present_) {
    *err = ENODEV;
    return -1;
  }
  if (r->channel >= kChannels) {
    *err = EINVAL;
    return -1;
  }
  if (write) {
    reg_[r->channel][r->reg] = r->data;
    return 0;
  }
  // As the driver: the record is only the question, the value is the
  // result's low 8 bits.
  return static_cast<int>(readHigh_ | reg_[r->channel][r->reg]);
}

void SpiRegisters::Reset() {
  std::memset(reg_, 0, sizeof reg_);
  // Lines in sync at power-on (carrier, basic frame, no alarm), as on a
  // board with its line interfaces plugged in.
  for (auto& channel : reg_) channel[kStatusRegister] = kLineInSync;
  present_ = true;
  readHigh_ = 0;
}

}  // namespace sim
