#include "core/net.h"

#include <gtest/gtest.h>

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

TEST(NetIfconfig, ListsThisHostsInterfaces) {
  std::list<INet4::Addr> all;
  int n = Net::ifconfig(all, Net::IFCONFIG_ALL);
  ASSERT_GE(n, 0);
  EXPECT_EQ(size_t(n), all.size());
  bool loopback = false;
  for (const INet4::Addr& a : all) loopback |= a.GetAddress() == 0x7F000001u;
  if (n > 0) {
    EXPECT_TRUE(loopback);
  }

  std::list<INet4::Addr> notLo;
  Net::ifconfig(notLo, Net::IFCONFIG_NOT_LOOPBACK);
  for (const INet4::Addr& a : notLo) EXPECT_NE(0x7F000001u, a.GetAddress());

  std::list<std::string> names;
  EXPECT_EQ(n, Net::ifconfig(names, Net::IFCONFIG_ALL, 0));
}
