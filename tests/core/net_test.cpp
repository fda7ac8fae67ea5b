#include "core/net.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace {
INet4::Addr A(const char* text) {
  INet4::Addr a;
  EXPECT_TRUE(a.Assign(text));
  return a;
}
}  // namespace

// A board with lo, 10.1.2.3 and 169.254.1.1.
TEST(NetIfconfig, ModeFilter) {
  struct {
    const char* name;
    const char* addr;
  } board[] = {{"lo", "127.0.0.1"}, {"eth0", "10.1.2.3"}, {"eth1", "169.254.1.1"}};
  auto chosen = [&](Net::ifconfig_mode_t mode) {
    std::string names;
    for (auto& i : board)
      if (Net::ifconfig_match(i.name, A(i.addr), mode)) names += std::string(i.name) + " ";
    return names;
  };
  EXPECT_EQ("eth0 ", chosen(4));
  EXPECT_EQ("eth0 eth1 ", chosen(3));
  EXPECT_EQ("lo eth0 eth1 ", chosen(0));
  EXPECT_EQ("eth1 ", chosen(2));
  EXPECT_EQ("eth0 eth1 ", chosen(1));
}

TEST(NetIfconfig, LoopbackNameIgnoresCaseAndPrivateRanges) {
  EXPECT_FALSE(Net::ifconfig_match("LO", A("127.0.0.1"), Net::IFCONFIG_NOT_LOOPBACK));
  EXPECT_TRUE(Net::ifconfig_match("lo0", A("127.0.0.1"), Net::IFCONFIG_NOT_LOOPBACK));
  for (const char* p : {"10.0.0.1", "172.16.0.1", "172.31.255.255", "192.168.0.1"})
    EXPECT_TRUE(Net::ifconfig_match("x", A(p), Net::IFCONFIG_PRIVATE)) << p;
  for (const char* p : {"172.32.0.1", "172.15.0.1", "192.169.0.1", "11.0.0.1", "169.254.0.1"})
    EXPECT_FALSE(Net::ifconfig_match("x", A(p), Net::IFCONFIG_PRIVATE)) << p;
  EXPECT_FALSE(Net::ifconfig_match("x", A("169.253.0.1"), Net::IFCONFIG_LINK_LOCAL));
}

// The IPv4 interfaces getifaddrs(3) knows, their addresses and the names of
// those up and looped back.
TEST(NetIfconfig, ListsThisHostsInterfaces) {
  std::multiset<uint32_t> addresses, got;
  std::multiset<std::string> names, gotNames;
  ifaddrs* list = nullptr;
  ASSERT_EQ(0, ::getifaddrs(&list));
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    addresses.insert(ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr));
    if ((i->ifa_flags & (IFF_UP | IFF_LOOPBACK)) == (IFF_UP | IFF_LOOPBACK))
      names.insert(i->ifa_name);
  }
  ::freeifaddrs(list);
  if (addresses.size() > 16) GTEST_SKIP() << "more interfaces than one request sees";

  std::list<INet4::Addr> all;
  int n = Net::ifconfig(all, Net::IFCONFIG_ALL);
  EXPECT_EQ(int(addresses.size()), n);
  for (const INet4::Addr& a : all) got.insert(a.GetAddress());
  EXPECT_EQ(addresses, got);

  std::list<INet4::Addr> notLo;
  Net::ifconfig(notLo, Net::IFCONFIG_NOT_LOOPBACK);
  for (const INet4::Addr& a : notLo) EXPECT_NE(0x7F000001u, a.GetAddress());

  std::list<std::string> up;
  EXPECT_EQ(int(names.size()), Net::ifconfig(up, Net::IFCONFIG_ALL, IFF_UP | IFF_LOOPBACK));
  gotNames.insert(up.begin(), up.end());
  EXPECT_EQ(names, gotNames);
}

// Without a descriptor to spare there is no interface list.
TEST(NetIfconfigDeathTest, NoSocketIsMinusOne) {
  EXPECT_EXIT(
      {
        rlimit zero{};
        ::setrlimit(RLIMIT_NOFILE, &zero);
        std::list<INet4::Addr> addresses;
        std::list<std::string> names;
        bool none = Net::ifconfig(addresses, 0) == -1 && addresses.empty();
        none &= Net::ifconfig(names, 0, 0) == -1 && names.empty();
        std::_Exit(none ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
