#include "core/net.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "core/fd.h"

namespace Net {

namespace {

// SIOCGIFCONF answers into a buffer of this many records; interfaces
// beyond it are not seen.
const int kMaxInterfaces = 16;

bool IsLinkLocal(uint32_t a) {
  return (a & 0xFFFF0000u) == 0xA9FE0000u;
}

bool IsPrivate(uint32_t a) {
  return (a & 0xFF000000u) == 0x0A000000u || (a & 0xFFF00000u) == 0xAC100000u ||
         (a & 0xFFFF0000u) == 0xC0A80000u;
}

// Walks the IPv4 interfaces that pass the mode; -1 when the socket or the
// interface list cannot be had, otherwise the count that `take` accepted.
template <class Take>
int ForEachInterface(ifconfig_mode_t mode, Take take) {
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock) return -1;

  ifreq records[kMaxInterfaces];
  std::memset(records, 0, sizeof records);
  ifconf conf;
  conf.ifc_len = sizeof records;
  conf.ifc_req = records;
  if (::ioctl(sock.get(), SIOCGIFCONF, &conf) < 0) return -1;

  int count = 0;
  int n = conf.ifc_len / int(sizeof(ifreq));
  for (int i = 0; i < n; ++i) {
    ifreq& r = records[i];
    if (r.ifr_addr.sa_family != AF_INET) continue;
    INet4::Addr addr(*reinterpret_cast<const sockaddr_in*>(&r.ifr_addr));
    if (!ifconfig_match(r.ifr_name, addr, mode)) continue;
    if (take(sock.get(), r)) ++count;
  }
  return count;
}

}  // namespace

bool ifconfig_match(const char* name, const INet4::Addr& addr, ifconfig_mode_t mode) {
  if (mode == 0) return true;
  uint32_t a = addr.GetAddress();
  return ((mode & IFCONFIG_NOT_LOOPBACK) && ::strcasecmp(name, "lo") != 0) ||
         ((mode & IFCONFIG_LINK_LOCAL) && IsLinkLocal(a)) ||
         ((mode & IFCONFIG_PRIVATE) && IsPrivate(a));
}

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode) {
  return ForEachInterface(mode, [&out](int sock, ifreq r) {
    if (::ioctl(sock, SIOCGIFADDR, &r) < 0) return false;
    out.push_back(INet4::Addr(*reinterpret_cast<const sockaddr_in*>(&r.ifr_addr)));
    return true;
  });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, int flags) {
  return ForEachInterface(mode, [&out, flags](int sock, ifreq r) {
    if (::ioctl(sock, SIOCGIFFLAGS, &r) < 0) return false;
    if ((r.ifr_flags & flags) != flags) return false;
    out.push_back(r.ifr_name);
    return true;
  });
}

std::string hostname() {
  char name[512];
  if (::gethostname(name, sizeof name) < 0) return std::string();
  name[sizeof name - 1] = '\0';
  return name;
}

int hostname(const std::string& name) {
  return ::sethostname(name.c_str(), name.size());
}

}  // namespace Net
