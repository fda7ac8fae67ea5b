// The board's network interfaces and host name.
#ifndef VELMARD_CORE_NET_H
#define VELMARD_CORE_NET_H

#include <list>
#include <string>

#include "core/inet.h"

namespace Net {

// Which interfaces to take: 0 takes every IPv4 interface; otherwise one
// matching bit is enough.
typedef unsigned ifconfig_mode_t;
enum : ifconfig_mode_t {
  IFCONFIG_ALL = 0,
  IFCONFIG_NOT_LOOPBACK = 1,  // name is not "lo", case ignored
  IFCONFIG_LINK_LOCAL = 2,    // 169.254.0.0/16
  IFCONFIG_PRIVATE = 4,       // 10/8, 172.16/12, 192.168/16
};

// True when an interface of that name and IPv4 address passes the mode.
bool ifconfig_match(const char* name, const INet4::Addr& addr, ifconfig_mode_t mode);

// Appends the chosen interfaces' addresses; the count appended, or -1 when
// no socket or interface list could be had. At most 16 interfaces are seen.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// Appends the names of the chosen interfaces whose flags hold all `flags`.
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, int flags);

std::string hostname();
int hostname(const std::string& name);

}  // namespace Net

#endif  // VELMARD_CORE_NET_H
