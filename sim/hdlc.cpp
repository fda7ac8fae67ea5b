#include "sim/hdlc.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>

namespace sim {

namespace {

const Request kRequests[] = {
    {0x40144D00u, 20, true, "allocate"},
    {0x20004D02u, 0, false, "timeslot"},
};

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, " %02X", c);
    out += buf;
  }
  return out;
}

bool ParseHex(const std::vector<std::string>& words, size_t from, std::string* bytes) {
  std::string digits;
  for (size_t i = from; i < words.size(); ++i) digits += words[i];
  if (digits.empty() || digits.size() % 2) return false;
  for (size_t i = 0; i < digits.size(); i += 2) {
    long v = 0;
    if (!ParseNumber("0x" + digits.substr(i, 2), &v) || v < 0) return false;
    *bytes += static_cast<char>(v);
  }
  return true;
}

// Puts one end of a pipe whose other end is gone in place of every
// descriptor of the daemon on the socket `inode`: the read end ("hangup":
// poll reports POLLHUP alone, a read gives end of file) or the write end
// ("error": POLLERR alone, a read fails). The channel closes with the
// daemon's last descriptor of the socket. False when the daemon has none.
bool BreakDaemonEnds(ino_t inode, bool hangup) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return false;
  const int keep = p[hangup ? 0 : 1];
  close(p[hangup ? 1 : 0]);
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const int end = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
  bool found = false;
  struct stat st;
  for (int fd = 0; fd < end; ++fd) {
    if (fd == keep || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_ino != inode) continue;
    if (dup3(keep, fd, O_CLOEXEC) == fd) found = true;
  }
  close(keep);
  return found;
}

}  // namespace

void Mcc::OnOpen(Port& port) {
  std::set<int> used;
  for (auto& c : channels_) used.insert(c.second.number);
  int number = kFirstChannel;
  if (next_ && !used.count(*next_)) number = *next_;
  next_.reset();
  while (used.count(number)) ++number;
  Channel& c = channels_[port.inode()];
  c = Channel{};
  c.number = number;
  c.port = &port;
  Record("open " + std::to_string(number));
}

void Mcc::OnClose(Port& port) {
  auto it = channels_.find(port.inode());
  if (it == channels_.end()) return;
  Record("close " + std::to_string(it->second.number));
  channels_.erase(it);
}

void Mcc::OnWrite(Port& port, const std::string& packet) {
  auto it = channels_.find(port.inode());
  if (it == channels_.end()) return;
  Record("tx " + std::to_string(it->second.number) + Hex(packet));
}

int Mcc::OnIoctl(Port& port, unsigned long request, void* arg, int* err) {
  const Request* req = DecodeRequest(kRequests, 2, request, arg, err);
  auto it = channels_.find(port.inode());
  if (!req || it == channels_.end()) return -1;
  Channel& c = it->second;
  const std::string name = req->name;
  std::string line = name + " " + std::to_string(c.number);
  int result = -1;
  if (name == "allocate") {
    auto* r = static_cast<MccAllocateRecord*>(arg);
    for (int v : {r->mode, r->words[0], r->words[1], r->words[2], r->words[3]})
      line += " " + std::to_string(v);
    const bool valid = (r->mode == 0 || r->mode == 1 || r->mode == 3) && r->words[0] == 512 &&
                       r->words[1] == 0 && r->words[2] == 1 && r->words[3] == 4;
    if ((*err = faults_.Take(name)) == 0 && !valid) *err = EINVAL;
    if (*err == 0) {
      c.allocated = true;
      c.record = *r;
      result = 0;
    }
  } else {
    if ((*err = faults_.Take(name)) == 0 && !c.allocated) *err = EINVAL;
    if (*err == 0) result = c.number;
  }
  if (result < 0) line += " failed " + std::to_string(*err);
  Record(line);
  return result;
}

Mcc::Channel* Mcc::Find(const std::vector<Port*>&, const std::string& word, std::string* reply) {
  long n = 0;
  if (ParseNumber(word, &n)) {
    for (auto& c : channels_) {
      if (c.second.number == n) return &c.second;
    }
  }
  *reply = "no such channel: " + word;
  return nullptr;
}

bool Mcc::OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& w,
                   std::string* reply) {
  const bool eof = !w.empty() && w[0] == "eof";
  if (w.size() < 2 || (eof && w.size() != 2)) {
    *reply = "usage: inject /dev/mcc/ctl CH HEX | eof CH";
    return false;
  }
  Channel* c = Find(ports, w[eof ? 1 : 0], reply);
  if (!c) return false;
  std::string frame;
  if (!eof && !ParseHex(w, 1, &frame)) {
    *reply = "bad frame: hex digits in pairs";
    return false;
  }
  // An empty packet is what the daemon's read sees as end of file.
  if (!c->port->Send(frame)) {
    *reply = "channel " + std::to_string(c->number) + " full";
    return false;
  }
  return true;
}

bool Mcc::OnControl(const std::vector<Port*>& ports, const std::vector<std::string>& w,
                    std::string* reply) {
  int err = 0;
  long count = 0;
  const size_t n = w.size();
  if (n == 1 && w[0] == "channels") {
    std::map<int, const Channel*> byNumber;
    for (auto& e : channels_) byNumber[e.second.number] = &e.second;
    for (auto& e : byNumber) {
      const Channel& c = *e.second;
      *reply += "channel " + std::to_string(c.number);
      if (!c.allocated) {
        *reply += " unallocated";
      } else {
        *reply += " mode " + std::to_string(c.record.mode);
        for (int v : c.record.words) *reply += " " + std::to_string(v);
      }
      if (c.port->held()) *reply += " held";
      *reply += "\n";
    }
  } else if (n == 2 && (w[0] == "hold" || w[0] == "release")) {
    Channel* c = Find(ports, w[1], reply);
    if (!c) return false;
    c->port->Hold(w[0] == "hold");
  } else if (n == 2 && (w[0] == "hangup" || w[0] == "error")) {
    Channel* c = Find(ports, w[1], reply);
    if (!c) return false;
    if (!BreakDaemonEnds(c->port->inode(), w[0] == "hangup")) {
      *reply = "channel " + w[1] + ": no descriptor of the daemon";
      return false;
    }
  } else if (n == 3 && w[0] == "fail-read" && ParseErrno(w[2], &err)) {
    Channel* c = Find(ports, w[1], reply);
    if (!c) return false;
    c->port->FailRead(err);
  } else if (n == 2 && w[0] == "next" && ParseNumber(w[1], &count) && count >= 0 &&
             count <= 0x7FFFFFFF) {
    next_ = static_cast<int>(count);
  } else if (n == 4 && w[0] == "fail" && (w[1] == "allocate" || w[1] == "timeslot") &&
             ParseErrno(w[2], &err) && ParseNumber(w[3], &count) && count >= 0) {
    faults_.Arm(w[1], err, static_cast<int>(count));
  } else {
    *reply =
        "usage: channels | hold CH | release CH | hangup CH | error CH | fail-read CH ERRNO |"
        " fail allocate|timeslot ERRNO COUNT | next CH";
    return false;
  }
  return true;
}

std::vector<int> Mcc::Channels() const {
  std::set<int> numbers;
  for (auto& c : channels_) numbers.insert(c.second.number);
  return std::vector<int>(numbers.begin(), numbers.end());
}

}  // namespace sim
