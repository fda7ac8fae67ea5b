#include "sim/hwmux.h"

#include <cerrno>

namespace sim {

const Request TdmSwitch::kRequests[] = {
    {0x80084D02u, 8, true, "connect"},
    {0x80044D03u, 4, true, "disable"},
    {0xC0084D04u, 8, true, "write"},
    {0xC0084D05u, 8, true, "read"},
};
const size_t TdmSwitch::kRequestCount = sizeof kRequests / sizeof kRequests[0];

std::string TdmSwitch::Describe(const Request& req, const void* arg) {
  const std::string name = req.name;
  if (name == "connect") {
    auto* r = static_cast<const TdmConnectRecord*>(arg);
    return "connect " + std::to_string(r->output) + " " + std::to_string(r->input);
  }
  if (name == "disable")
    return "disable " + std::to_string(static_cast<const TdmOutputRecord*>(arg)->output);
  auto* r = static_cast<const TdmByteRecord*>(arg);
  if (name == "write") return "write " + std::to_string(r->channel) + " " + HexByte(r->value);
  return "read " + std::to_string(r->channel);
}

int TdmSwitch::Handle(const Request& req, void* arg, int* err, std::string* line) {
  const std::string name = req.name;
  *line = Describe(req, arg);
  if (name == "connect") {
    auto* r = static_cast<TdmConnectRecord*>(arg);
    if (r->output < 0 || r->input < 0) {
      *err = EINVAL;
      return -1;
    }
    Output& o = outputs_[r->output];
    o.state = State::kConnected;
    o.value = r->input;
    return 0;
  }
  if (name == "disable") {
    auto* r = static_cast<TdmOutputRecord*>(arg);
    if (r->output < 0) {
      *err = EINVAL;
      return -1;
    }
    Output& o = outputs_[r->output];
    if (o.state == State::kDisabled) line->clear();
    o.state = State::kDisabled;
    ++o.disables;
    return 0;
  }
  auto* r = static_cast<TdmByteRecord*>(arg);
  if (r->channel < 0) {
    *err = EINVAL;
    return -1;
  }
  if (name == "write") {
    Output& o = outputs_[r->channel];
    o.state = State::kDriven;
    o.value = r->value & 0xFF;
    return 0;
  }
  r->value = ReadBack(r->channel);
  *line += " " + HexByte(r->value);
  return 0;
}

TdmSwitch::Output TdmSwitch::At(int channel) const {
  auto it = outputs_.find(channel);
  return it == outputs_.end() ? Output{} : it->second;
}

int TdmSwitch::ReadBack(int channel) const {
  Output o = At(channel);
  if (o.state == State::kDriven) return o.value;
  auto it = presets_.find(channel);
  return it == presets_.end() ? 0xFF : it->second;
}

void TdmSwitch::Preset(int channel, int byte) {
  if (byte < 0)
    presets_.erase(channel);
  else
    presets_[channel] = byte & 0xFF;
}

std::string TdmSwitch::Show(int channel) const {
  Output o = At(channel);
  std::string text = "tdm " + std::to_string(channel) + " ";
  switch (o.state) {
    case State::kUnset:
      text += "unset";
      break;
    case State::kDisabled:
      text += "disabled";
      break;
    case State::kDriven:
      text += "driven " + HexByte(o.value);
      break;
    case State::kConnected:
      text += "connected " + std::to_string(o.value);
      break;
  }
  return text + " disables " + std::to_string(o.disables);
}

void TdmSwitch::Reset() {
  outputs_.clear();
  presets_.clear();
}

}  // namespace sim
