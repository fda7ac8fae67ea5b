#include "sim/hal.h"

#include <cerrno>

namespace sim {

namespace {

// One block of the device: its requests and how they are served.
struct Block {
  const Request* rows;
  size_t count;
};

}  // namespace

void Hal::OnWrite(Port&, const std::string& packet) {
  // The driver has no write entry point.
  Record("unexpected write of " + std::to_string(packet.size()) + " bytes");
}

int Hal::OnIoctl(Port&, unsigned long request, void* arg, int* err) {
  const Block blocks[] = {
      {TdmSwitch::kRequests, TdmSwitch::kRequestCount},
      {ClockSelect::kRequests, ClockSelect::kRequestCount},
      {SpiRegisters::kRequests, SpiRegisters::kRequestCount},
  };
  const Request* req = nullptr;
  size_t block = 0;
  for (; block < 3; ++block) {
    req = DecodeRequest(blocks[block].rows, blocks[block].count, request, arg, err);
    if (req || *err != ENOTTY) break;
  }
  if (!req) return -1;

  std::string line;
  int result = -1;
  if (block == 2 && !spi_.present()) {
    result = spi_.Handle(*req, arg, err, &line);  // ENODEV, whatever a test armed
  } else if (int fault = faults_.Take(req->name)) {
    *err = fault;
    line = block == 0   ? TdmSwitch::Describe(*req, arg)
           : block == 1 ? ClockSelect::Describe(*req, arg)
                        : SpiRegisters::Describe(*req, arg);
  } else if (block == 0) {
    result = tdm_.Handle(*req, arg, err, &line);
  } else if (block == 1) {
    result = clock_.Handle(*req, arg, err, &line);
  } else {
    result = spi_.Handle(*req, arg, err, &line);
  }
  if (result < 0 && !line.empty()) line += " failed " + std::to_string(*err);
  if (!line.empty()) Record(line);
  return result;
}

bool Hal::OnControl(const std::vector<Port*>&, const std::vector<std::string>& w,
                    std::string* reply) {
  long a = 0, b = 0, c = 0;
  int err = 0;
  const size_t n = w.size();
  if (n == 2 && w[0] == "tdm" && ParseNumber(w[1], &a)) {
    *reply = tdm_.Show(static_cast<int>(a));
  } else if (n == 3 && w[0] == "preset" && ParseNumber(w[1], &a) &&
             (w[2] == "none" || (ParseNumber(w[2], &b) && b >= 0 && b <= 255))) {
    tdm_.Preset(static_cast<int>(a), w[2] == "none" ? -1 : static_cast<int>(b));
  } else if (n == 4 && w[0] == "fail" && ParseErrno(w[2], &err) && ParseNumber(w[3], &a) &&
             a >= 0) {
    static const char* const kNames[] = {"connect", "disable",  "write",    "read",
                                         "clock",   "spi-read", "spi-write"};
    bool known = false;
    for (const char* name : kNames) known = known || w[1] == name;
    if (!known) {
      *reply = "no such request: " + w[1];
      return false;
    }
    Fail(w[1], err, static_cast<int>(a));
  } else if (n == 1 && w[0] == "clock") {
    *reply = "clock " + std::to_string(clock_.code());
  } else if ((n == 3 || n == 4) && w[0] == "spi" && ParseNumber(w[1], &a) && a >= 0 &&
             a < SpiRegisters::kChannels && ParseNumber(w[2], &b) && b >= 0 && b <= 255) {
    if (n == 4) {
      if (!ParseNumber(w[3], &c) || c < 0 || c > 255) {
        *reply = "bad register value: " + w[3];
        return false;
      }
      spi_.Set(static_cast<int>(a), static_cast<int>(b), static_cast<uint8_t>(c));
    }
    *reply = "spi " + w[1] + " " + w[2] + " " +
             HexByte(spi_.Get(static_cast<int>(a), static_cast<int>(b)));
  } else if (n == 2 && w[0] == "spi-present" && (w[1] == "on" || w[1] == "off")) {
    spi_.SetPresent(w[1] == "on");
  } else if (n == 2 && w[0] == "spi-high" && ParseNumber(w[1], &a) && a >= 0) {
    spi_.SetReadHigh(static_cast<uint32_t>(a));
  } else {
    *reply =
        "usage: tdm CH | preset CH BYTE|none | fail REQUEST ERRNO COUNT | clock |"
        " spi CH REG [BYTE] | spi-present on|off | spi-high BITS";
    return false;
  }
  return true;
}

void Hal::Reset() {
  tdm_.Reset();
  clock_.Reset();
  spi_.Reset();
  faults_.Clear();
}

}  // namespace sim
