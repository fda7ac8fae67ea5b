#include "sim/e1ctl.h"

#include <cerrno>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

// Requests that take the value itself rather than a record.
int32_t ValueOf(void* arg) {
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(arg));
}

bool Bad(std::string* reply, const std::string& why) {
  *reply = why;
  return false;
}

// All words after the first as numbers.
bool Numbers(const std::vector<std::string>& w, size_t from, std::vector<long>* n) {
  for (size_t i = from; i < w.size(); ++i) {
    long v = 0;
    if (!ParseNumber(w[i], &v)) return false;
    n->push_back(v);
  }
  return true;
}

const struct {
  const char* name;
  int word;
} kFields[] = {{"slips", 9}, {"lossBF", 10}, {"lossCarrier", 11},
               {"ais", 12},  {"rai", 13},    {"state", 19}};

}  // namespace

// ---------------------------------------------------------------------------
// "/dev/maintenance"

const Request Maintenance::kRequests[] = {
    {0xC0504D03u, 80, true, "status"},
    {0xC0044D0Au, 4, false, "clock-source"},
    {0xC0044D0Bu, 4, false, "tclk"},
};

void Maintenance::Reset() {
  std::memset(trunks_, 0, sizeof trunks_);
  for (int t = 0; t < kTrunks; ++t) {
    trunks_[t].word[0] = t;
    fail_[t] = 0;
  }
  failTclk_ = 0;
  tclk_ = -1;
  clockSource_ = -1;
}

void Maintenance::OnWrite(Port&, const std::string& packet) {
  // The driver has no write entry point.
  Record("unexpected write of " + std::to_string(packet.size()) + " bytes");
}

int Maintenance::OnIoctl(Port&, unsigned long request, void* arg, int* err) {
  const Request* req =
      DecodeRequest(kRequests, sizeof kRequests / sizeof kRequests[0], request, arg, err);
  if (!req) return -1;
  if (req == &kRequests[0]) {
    auto* rec = static_cast<TrunkRecord*>(arg);
    int32_t t = rec->word[0];
    if (t < 0 || t >= kTrunks) {
      *err = EINVAL;
      return -1;
    }
    if (fail_[t]) {
      *err = fail_[t];
      return -1;
    }
    std::memcpy(&rec->word[1], &trunks_[t].word[1], sizeof rec->word - sizeof rec->word[0]);
    return 0;
  }
  if (req == &kRequests[1]) {
    clockSource_ = ValueOf(arg);
    Record("clock-source " + std::to_string(clockSource_));
    return 0;
  }
  uint32_t mask = static_cast<uint32_t>(ValueOf(arg));
  std::ostringstream text;
  text << "tclk 0x" << std::hex << std::uppercase << mask;
  if (failTclk_) {
    *err = failTclk_;
    Record(text.str() + " failed " + std::to_string(failTclk_));
    return -1;
  }
  Record(text.str());
  tclk_ = mask;
  return 0;
}

bool Maintenance::OnControl(const std::vector<Port*>&, const std::vector<std::string>& w,
                            std::string* reply) {
  long t = -1;
  int e = 0;
  const size_t n = w.size();
  if (n == 0) return Bad(reply, "no words");
  const bool trunkOk = n >= 2 && ParseNumber(w[1], &t) && t >= 0 && t < kTrunks;
  if (n == 1 && w[0] == "show") {
    std::ostringstream out;
    for (int i = 0; i < kTrunks; ++i) {
      out << "trunk " << i;
      for (const auto& f : kFields) out << " " << f.name << " " << trunks_[i].word[f.word];
      out << " fail " << fail_[i] << "\n";
    }
    out << "tclk " << tclk_ << "\nclock-source " << clockSource_;
    *reply = out.str();
  } else if (w[0] == "trunk" && trunkOk && n >= 4 && n % 2 == 0) {
    TrunkRecord rec = trunks_[t];
    for (size_t i = 2; i < n; i += 2) {
      long word = -1, v = 0;
      for (const auto& f : kFields)
        if (w[i] == f.name) word = f.word;
      if (word < 0 && w[i].size() > 1 && w[i][0] == 'w' &&
          (!ParseNumber(w[i].substr(1), &word) || word < 1 || word > 19))
        word = -1;
      if (word < 0) return Bad(reply, "no such field: " + w[i]);
      if (!ParseNumber(w[i + 1], &v)) return Bad(reply, "bad value: " + w[i + 1]);
      rec.word[word] = static_cast<int32_t>(v);
    }
    trunks_[t] = rec;
  } else if (n == 3 && w[0] == "fail" && trunkOk && ParseErrno(w[2], &e)) {
    fail_[t] = e;
  } else if (n == 2 && w[0] == "fail-tclk" && ParseErrno(w[1], &e)) {
    failTclk_ = e;
  } else {
    return Bad(reply, "usage: trunk T FIELD VALUE... | fail T ERRNO | fail-tclk ERRNO | show");
  }
  return true;
}

// ---------------------------------------------------------------------------
// "/dev/e1-cas"

const Request E1Cas::kRequests[] = {
    {0x80044300u, 4, false, "open"},      {0x80044301u, 4, false, "close"},
    {0xC00C4302u, 12, true, "set"},       {0xC00C4303u, 12, true, "get"},
    {0xC0104304u, 16, true, "configure"},
};

void E1Cas::Reset() {
  for (int t = 0; t < kTrunks; ++t) {
    open_[t] = false;
    for (auto& c : channels_[t]) c = Channel();
  }
  for (int op = 0; op < kOps; ++op) result_[op] = resultCount_[op] = 0;
}

void E1Cas::OnWrite(Port&, const std::string& packet) {
  Record("unexpected write of " + std::to_string(packet.size()) + " bytes");
}

bool E1Cas::TakeResult(Op op, int* result, int* err) {
  if (resultCount_[op] <= 0) return false;
  --resultCount_[op];
  *result = result_[op] < 0 ? -1 : result_[op];
  if (result_[op] < 0) *err = -result_[op];
  return true;
}

E1Cas::Channel* E1Cas::channel(int32_t trunk, int32_t channel) {
  if (trunk < 0 || trunk >= kTrunks || channel < 0 || channel >= kChannels) return nullptr;
  return &channels_[trunk][channel];
}

int E1Cas::OnIoctl(Port&, unsigned long request, void* arg, int* err) {
  const Request* req = DecodeRequest(kRequests, kOps, request, arg, err);
  if (!req) return -1;
  Op op = static_cast<Op>(req - kRequests);
  std::string line = req->name;
  if (op == kOpen || op == kClose) {
    line += " " + std::to_string(ValueOf(arg));
  } else {
    auto* rec = static_cast<CasChannelRecord*>(arg);
    line += " " + std::to_string(rec->trunk) + " " + std::to_string(rec->channel);
    if (op == kSet) line += " " + std::to_string(rec->tx);
    if (op == kConfigure)
      line +=
          static_cast<CasConfigRecord*>(arg)->stop ? " stop" : " start " + std::to_string(rec->tx);
  }
  int result = 0;
  if (!TakeResult(op, &result, err)) result = Serve(op, arg, err);
  if (result < 0) line += " failed " + std::to_string(*err);
  Record(line);
  return result;
}

int E1Cas::Serve(Op op, void* arg, int* err) {
  *err = EINVAL;
  if (op == kOpen || op == kClose) {
    int32_t t = ValueOf(arg);
    if (t < 0 || t >= kTrunks) return -1;
    open_[t] = op == kOpen;
    // Closing a trunk stops signalling on all its channels.
    if (op == kClose)
      for (auto& c : channels_[t]) c.configured = false;
    return 0;
  }
  auto* rec = static_cast<CasChannelRecord*>(arg);
  Channel* c = channel(rec->trunk, rec->channel);
  // Timeslots 0 and 16 carry framing and the multiframe, never CAS.
  if (!c || rec->channel == 0 || rec->channel == 16 || !open_[rec->trunk]) return -1;
  c->used = true;
  if (op == kConfigure) {
    bool stop = static_cast<CasConfigRecord*>(arg)->stop != 0;
    c->configured = !stop;
    c->tx = stop ? 0 : rec->tx & 15;
    return 0;
  }
  if (!c->configured) return -1;
  if (op == kSet) {
    c->tx = rec->tx & 15;
  } else {
    rec->rx = c->rx;
    rec->tx = c->tx;
  }
  return 0;
}

bool E1Cas::OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& w,
                     std::string* reply) {
  std::vector<long> n;
  if (w.size() != 4 || !Numbers(w, 0, &n)) return Bad(reply, "usage: T CH RX TX");
  if (ports.empty()) return Bad(reply, "device not open");
  CasChannelRecord rec{};
  rec.trunk = static_cast<int32_t>(n[0]);
  rec.channel = static_cast<int32_t>(n[1]);
  rec.rx = static_cast<uint8_t>(n[2]);
  rec.tx = static_cast<uint8_t>(n[3]);
  std::string bytes(reinterpret_cast<const char*>(&rec), sizeof rec);
  for (Port* p : ports)
    if (!p->Send(bytes)) return Bad(reply, "event queue full");
  return true;
}

bool E1Cas::OnControl(const std::vector<Port*>&, const std::vector<std::string>& w,
                      std::string* reply) {
  std::vector<long> n;
  const size_t size = w.size();
  if (size == 1 && w[0] == "show") {
    std::ostringstream out;
    for (int t = 0; t < kTrunks; ++t) out << "trunk " << t << (open_[t] ? " open\n" : " closed\n");
    for (int t = 0; t < kTrunks; ++t) {
      for (int ch = 0; ch < kChannels; ++ch) {
        const Channel& c = channels_[t][ch];
        if (c.used)
          out << "channel " << t << " " << ch << (c.configured ? " on" : " off") << " rx "
              << int(c.rx) << " tx " << int(c.tx) << "\n";
      }
    }
    *reply = out.str();
    return true;
  }
  if (size == 4 && w[0] == "rx" && Numbers(w, 1, &n)) {
    Channel* c = channel(static_cast<int32_t>(n[0]), static_cast<int32_t>(n[1]));
    if (!c) return Bad(reply, "no such channel");
    c->used = true;
    c->rx = static_cast<uint8_t>(n[2] & 15);
    return true;
  }
  if ((size == 3 || size == 4) && w[0] == "result" && Numbers(w, 2, &n)) {
    for (int op = 0; op < kOps; ++op) {
      if (w[1] != kRequests[op].name) continue;
      SetResult(static_cast<Op>(op), static_cast<int>(n[0]), n.size() > 1 ? int(n[1]) : 1);
      return true;
    }
    return Bad(reply, "no such request: " + w[1]);
  }
  return Bad(reply, "usage: rx T CH BITS | result OP VALUE [N] | show");
}

}  // namespace sim
