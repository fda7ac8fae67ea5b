#include "sim/dsproc.h"

#include <cerrno>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

struct Configure {
  uint32_t ts, function;
  uint8_t params[12];
};
struct Enable {
  uint32_t ts, id, mask;
};
static_assert(sizeof(Configure) == 20 && sizeof(Enable) == 12, "dsp records");

enum Request : uint32_t {
  kConfigure = 0x40146401,
  kEnable = 0x400C6402,
  kDisable = 0x400C6403,
  kVersion = 0x40046404,
};
static_assert(((kConfigure >> 16) & 0x1FFF) == sizeof(Configure) &&
                  ((kEnable >> 16) & 0x1FFF) == sizeof(Enable) &&
                  ((kDisable >> 16) & 0x1FFF) == sizeof(Enable),
              "request sizes");

template <class T>
T At(const uint8_t* params, size_t offset) {
  T v;
  std::memcpy(&v, params + offset - 8, sizeof v);
  return v;
}

// The parameter octets of one function, decoded at their offsets from the
// record start; octets the function does not use must be zero.
std::string DecodeConfigure(const Configure& r, int version) {
  std::ostringstream out;
  std::vector<bool> used(12, false);
  auto use = [&used](size_t offset, size_t n) {
    for (size_t i = 0; i < n; ++i) used[offset - 8 + i] = true;
  };
  const uint8_t* p = r.params;
  switch (r.function) {
    case 0x1:
      if (version == 2) {
        out << ",VAD,voice_th_msec=" << At<uint16_t>(p, 8)
            << ",silence_th_msec=" << At<uint16_t>(p, 10) << ",e_th_dB=" << int(At<int8_t>(p, 12));
        use(8, 4);
        use(12, 1);
      } else {
        out << ",VAD," << At<uint32_t>(p, 8) << "," << At<uint32_t>(p, 12) << ","
            << At<uint32_t>(p, 16);
        use(8, 12);
      }
      break;
    case 0x2:
      out << ",SD";
      break;
    case 0x20:
      out << ",DELAYS,rx=" << At<uint32_t>(p, 8) << ",tx=" << At<uint32_t>(p, 12)
          << ",selcal=" << At<uint32_t>(p, 16);
      use(8, 12);
      break;
    case 0x40:
      out << ",RX_GAIN,gain_dB=" << int(At<int8_t>(p, 8));
      use(8, 1);
      break;
    case 0x100:
      out << ",TONE_FILTER,freq=" << At<uint16_t>(p, 8) << ",enable=" << int(At<uint8_t>(p, 10))
          << ",dur_th_msec=" << At<uint16_t>(p, 12) << ",det_lvl_dB=" << int(At<int8_t>(p, 14));
      use(8, 3);
      use(12, 3);
      break;
    default:
      out << ",function=0x" << std::hex << r.function << std::dec;
      break;
  }
  for (size_t i = 0; i < 12; ++i) {
    if (!used[i] && p[i] != 0) {
      out << ",nonzero@" << i + 8;
      break;
    }
  }
  return out.str();
}

}  // namespace

void Dsproc::OnWrite(Port&, const std::string& packet) {
  Record("write," + std::to_string(packet.size()) + " bytes");
}

int Dsproc::OnIoctl(Port&, unsigned long request, void* arg, int* err) {
  std::ostringstream line;
  switch (request) {
    case kVersion:
      line << "DSPROC_VERSION";
      break;
    case kConfigure: {
      if (!arg) break;
      auto* r = static_cast<const Configure*>(arg);
      line << "DSPROC_CONFIGURE,ts=" << r->ts << DecodeConfigure(*r, version_);
      break;
    }
    case kEnable:
    case kDisable: {
      if (!arg) break;
      auto* r = static_cast<const Enable*>(arg);
      line << (request == kEnable ? "DSPROC_ENABLE" : "DSPROC_DISABLE") << ",ts=" << r->ts
           << ",id=" << r->id << ",mask=0x" << std::hex << r->mask << std::dec;
      break;
    }
    default:
      *err = ENOTTY;
      return -1;
  }
  if (request != kVersion && !arg) {
    *err = EFAULT;
    return -1;
  }
  if (int e = fault_.Take()) {
    line << ",errno=" << e;
    Record(line.str());
    *err = e;
    return -1;
  }
  if (request == kVersion) {
    Record(line.str());
    return version_;
  }
  int result = 0;
  if (result_.count > 0) {
    --result_.count;
    result = result_.value;
    line << ",result=" << result;
  }
  Record(line.str());
  if (request != kConfigure) {
    auto* r = static_cast<const Enable*>(arg);
    uint32_t& on = enabled_[r->ts];
    on = request == kEnable ? (on | r->mask) : (on & ~r->mask);
  }
  return result;
}

bool Dsproc::OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& w,
                      std::string* reply) {
  bool ok = false;
  if (CommonInject(ports, w, &fault_, reply, &ok)) return ok;
  uint32_t v[6];
  bool words = w.size() == 7 && w[0] == "event";
  for (size_t i = 1; words && i < 7; ++i) words = ParseWord(w[i], &v[i - 1]);
  if (words) {
    SendAll(ports, Words({v[0], v[1], v[2], v[3], v[4], v[5]}));
    *reply = "sent " + std::to_string(ports.size());
    return true;
  }
  if (w.size() == 2 && w[0] == "version" && ParseWord(w[1], &v[0])) {
    version_ = static_cast<int>(v[0]);
    *reply = "version " + std::to_string(version_);
    return true;
  }
  if (w.size() == 3 && w[0] == "result" && ParseWord(w[1], &v[0]) && ParseWord(w[2], &v[1]) &&
      static_cast<int>(v[0]) >= 0) {
    result_.value = static_cast<int>(v[0]);
    result_.count = static_cast<int>(v[1]);
    *reply = "armed";
    return true;
  }
  if (w.size() == 2 && w[0] == "state" && ParseWord(w[1], &v[0])) {
    std::ostringstream out;
    out << "state ts=" << v[0] << " mask=0x" << std::hex << enabled_[v[0]];
    *reply = out.str();
    return true;
  }
  *reply =
      "usage: inject /dev/dsp event TS ID TYPE W0 W1 W2 | short N | empty | raw HEX | "
      "version N | "
      "state TS | fail ERRNO COUNT | result VALUE COUNT";
  return false;
}

void Dsproc::Reset() {
  version_ = 1;
  enabled_.clear();
  fault_ = RequestFault();
  result_.value = result_.count = 0;
}

}  // namespace sim
