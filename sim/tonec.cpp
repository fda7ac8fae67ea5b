#include "sim/tonec.h"

#include <cerrno>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

// The driver's own records and request numbers.
struct ConfigureDetector {
  uint32_t ts, twist, ratio, silence, noise;
};
struct EnableDetector {
  uint32_t ts, id;
};
struct Dial {
  uint32_t ts;
  uint16_t freq1, freq2, level1, level2;
};
struct IvaConfigure {
  uint32_t ts;
  int32_t level;
};
struct SelcalDial {
  int32_t ts;
  uint16_t amp;
  char signs[4];
  uint8_t zero[2];
};
static_assert(sizeof(ConfigureDetector) == 20 && sizeof(EnableDetector) == 8 &&
                  sizeof(Dial) == 12 && sizeof(IvaConfigure) == 8 && sizeof(SelcalDial) == 12,
              "dtmf records");

enum Request : uint32_t {
  kConfigure = 0x40144202,
  kEnable = 0x40084203,
  kDisable = 0x40044204,
  kDial = 0x400C4205,
  kLmsOn = 0x40044206,
  kLmsOff = 0x40044207,
  kRejectOn = 0x40044209,
  kRejectOff = 0x4004420A,
  kIvaOn = 0x4004420B,
  kIvaOff = 0x4004420C,
  kIvaConfigure = 0x4008420D,
  kSelcal = 0x400C420E,
};

constexpr uint32_t SizeOf(uint32_t request) {
  return (request >> 16) & 0x1FFF;
}
static_assert(SizeOf(kConfigure) == sizeof(ConfigureDetector) &&
                  SizeOf(kEnable) == sizeof(EnableDetector) && SizeOf(kDial) == sizeof(Dial) &&
                  SizeOf(kIvaConfigure) == sizeof(IvaConfigure) &&
                  SizeOf(kSelcal) == sizeof(SelcalDial) && SizeOf(kDisable) == 4,
              "request sizes");

const char* Name(uint32_t request) {
  switch (request) {
    case kConfigure:
      return "DTMF_CONFIGURE_DETECTOR";
    case kEnable:
      return "DTMF_ENABLE_DETECTOR";
    case kDisable:
      return "DTMF_DISABLE_DETECTOR";
    case kDial:
      return "DTMF_DIAL";
    case kLmsOn:
      return "CHANNEL_LMS_ON";
    case kLmsOff:
      return "CHANNEL_LMS_OFF";
    case kRejectOn:
      return "DTMF_REJECTION_ENABLE";
    case kRejectOff:
      return "DTMF_REJECTION_DISABLE";
    case kIvaOn:
      return "IVA_DETECTOR_ENABLE";
    case kIvaOff:
      return "IVA_DETECTOR_DISABLE";
    case kIvaConfigure:
      return "IVA_CONFIGURE_DETECTOR";
    case kSelcal:
      return "SELCAL_DIAL";
    default:
      return nullptr;
  }
}

// Requests whose argument is the timeslot itself, not a pointer.
bool TakesValue(uint32_t request) {
  return SizeOf(request) == 4;
}

}  // namespace

void Tonec::OnWrite(Port&, const std::string& packet) {
  Record("write," + std::to_string(packet.size()) + " bytes");
}

int Tonec::OnIoctl(Port&, unsigned long request, void* arg, int* err) {
  const char* name = Name(static_cast<uint32_t>(request));
  if (!name || request > 0xFFFFFFFFul) {
    *err = ENOTTY;
    return -1;
  }
  if (!TakesValue(request) && !arg) {
    *err = EFAULT;
    return -1;
  }
  const uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
  std::ostringstream line;
  line << name;
  uint32_t ts = value;
  std::string signs;
  switch (request) {
    case kConfigure: {
      auto* r = static_cast<const ConfigureDetector*>(arg);
      ts = r->ts;
      line << ",ts=" << ts << ",twist=" << r->twist << ",ratio=" << r->ratio
           << ",silence=" << r->silence << ",noise=" << r->noise;
      break;
    }
    case kEnable: {
      auto* r = static_cast<const EnableDetector*>(arg);
      ts = r->ts;
      line << ",ts=" << ts << ",id=" << r->id;
      break;
    }
    case kDial: {
      auto* r = static_cast<const Dial*>(arg);
      ts = r->ts;
      line << ",ts=" << ts << ",freq1=" << r->freq1 << ",freq2=" << r->freq2
           << ",level1=" << r->level1 << ",level2=" << r->level2;
      break;
    }
    case kIvaConfigure: {
      auto* r = static_cast<const IvaConfigure*>(arg);
      ts = r->ts;
      line << ",ts=" << ts << ",det_lvl_dB=" << r->level;
      break;
    }
    case kSelcal: {
      auto* r = static_cast<const SelcalDial*>(arg);
      ts = static_cast<uint32_t>(r->ts);
      signs.assign(r->signs, 4);
      line << ",ts=" << r->ts << ",amp=" << r->amp << ",signs=" << signs;
      if (r->zero[0] || r->zero[1]) line << ",nonzero-tail";
      break;
    }
    default:
      line << ",ts=" << ts;
      break;
  }
  if (int e = fault_.Take()) {
    line << ",errno=" << e;
    Record(line.str());
    *err = e;
    return -1;
  }
  Record(line.str());
  Timeslot& s = slots_[ts];
  switch (request) {
    case kConfigure: {
      auto* r = static_cast<const ConfigureDetector*>(arg);
      s.configure = std::to_string(r->twist) + "/" + std::to_string(r->ratio) + "/" +
                    std::to_string(r->silence) + "/" + std::to_string(r->noise);
      break;
    }
    case kEnable:
      s.detector = true;
      s.detectorId = static_cast<const EnableDetector*>(arg)->id;
      break;
    case kDisable:
      s.detector = false;
      break;
    case kDial: {
      auto* r = static_cast<const Dial*>(arg);
      s.generator = (r->freq1 | r->freq2 | r->level1 | r->level2) == 0
                        ? "off"
                        : std::to_string(r->freq1) + "/" + std::to_string(r->freq2) + "/" +
                              std::to_string(r->level1) + "/" + std::to_string(r->level2);
      break;
    }
    case kLmsOn:
      s.lms = true;
      break;
    case kLmsOff:
      s.lms = false;
      break;
    case kRejectOn:
      s.rejection = true;
      break;
    case kRejectOff:
      s.rejection = false;
      break;
    case kIvaOn:
      s.iva = true;
      break;
    case kIvaOff:
      s.iva = false;
      break;
    case kIvaConfigure:
      s.ivaLevel = static_cast<const IvaConfigure*>(arg)->level;
      break;
    case kSelcal:
      s.selcal = std::to_string(static_cast<const SelcalDial*>(arg)->amp) + "/" + signs;
      break;
    default:
      break;
  }
  return 0;
}

bool Tonec::OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& w,
                     std::string* reply) {
  bool ok = false;
  if (CommonInject(ports, w, &fault_, reply, &ok)) return ok;
  uint32_t v[4];
  if (w.size() == 5 && w[0] == "event" && ParseWord(w[1], &v[0]) && ParseWord(w[2], &v[1]) &&
      ParseWord(w[3], &v[2]) && ParseWord(w[4], &v[3])) {
    SendAll(ports, Words({v[0], v[1], v[2], v[3]}));
    *reply = "sent " + std::to_string(ports.size());
    return true;
  }
  if (w.size() == 2 && w[0] == "state" && ParseWord(w[1], &v[0])) {
    const Timeslot& s = slots_[v[0]];
    std::ostringstream out;
    out << "state ts=" << v[0] << " detector=" << (s.detector ? "on" : "off")
        << " id=" << s.detectorId << " generator=" << s.generator
        << " lms=" << (s.lms ? "on" : "off") << " rejection=" << (s.rejection ? "on" : "off")
        << " iva=" << (s.iva ? "on" : "off") << " iva_level=" << s.ivaLevel
        << " configure=" << s.configure << " selcal=" << s.selcal;
    *reply = out.str();
    return true;
  }
  *reply =
      "usage: inject /dev/dtmf event CODE TS TIMESTAMP ID | short N | empty | state TS | "
      "fail ERRNO COUNT";
  return false;
}

void Tonec::Reset() {
  slots_.clear();
  fault_ = RequestFault();
}

}  // namespace sim
