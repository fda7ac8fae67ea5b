#include "core/inet.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <sstream>

TEST(INet4Addr, LaidOutAsSockaddrIn) {
  INet4::Addr a;
  EXPECT_EQ(16u, sizeof a);
  EXPECT_EQ(AF_INET, a.sa.sin_family);
  EXPECT_EQ(0u, a.sa.sin_addr.s_addr);
  EXPECT_EQ(0, a.sa.sin_port);
}

// The port after a colon is stored even when the address part is bad;
// without a colon the stored port stays (77 here) and the output is -1.
TEST(INet4Addr, AssignTextWithAndWithoutPort) {
  struct {
    const char* text;
    bool ok;
    int portOut;
    int storedPort;
    const char* printed;  // null: the address is not checked
  } rows[] = {
      {"10.0.0.1:5060", true, 5060, 5060, "10.0.0.1:5060"},
      {"10.0.0.1", true, -1, 77, "10.0.0.1:77"},
      {"controller.example:1", false, 1, 1, nullptr},
      {"not an address", false, -1, 77, nullptr},
  };
  for (const auto& r : rows) {
    INet4::Addr a;
    a.SetPort(77);
    int port = 0;
    EXPECT_EQ(r.ok, a.Assign(r.text, &port)) << r.text;
    EXPECT_EQ(r.portOut, port) << r.text;
    EXPECT_EQ(r.storedPort, a.GetPort()) << r.text;
    if (r.printed) {
      EXPECT_EQ(r.printed, a.GetString()) << r.text;
    }
  }
  INet4::Addr noOutput;
  EXPECT_TRUE(noOutput.Assign("192.168.7.9:9"));
  EXPECT_EQ(0xC0A80709u, noOutput.GetAddress());
}

TEST(INet4Addr, PutWritesDottedQuadColonPort) {
  INet4::Addr a(0xC0A80102u, 20001);
  std::ostringstream out;
  out << a;
  EXPECT_EQ("192.168.1.2:20001", out.str());
}

TEST(INet4Addr, EqualityIgnoresTheFamily) {
  INet4::Addr a(0x7F000001u, 80), b(0x7F000001u, 80), c(0x7F000001u, 81);
  b.sa.sin_family = AF_UNSPEC;
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a != c);
}

TEST(INet4Addr, AssignNumericAddressAndVector) {
  INet4::Addr a;
  a.SetPort(5);
  a.Assign(htonl(0x01020304u));
  EXPECT_EQ("1.2.3.4:5", a.GetString());
  EXPECT_EQ((std::vector<unsigned char>{1, 2, 3, 4}), a.GetVector());
  a.Reset();
  EXPECT_EQ("0.0.0.0:0", a.GetString());
}
