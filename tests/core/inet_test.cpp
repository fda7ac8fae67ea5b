#include "core/inet.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <sstream>

TEST(INet4Addr, LaidOutAsSockaddrIn)
{
    INet4::Addr a;
    EXPECT_EQ(16u, sizeof a);
    EXPECT_EQ(AF_INET, a.sa.sin_family);
    EXPECT_EQ(0u, a.sa.sin_addr.s_addr);
    EXPECT_EQ(0, a.sa.sin_port);
    EXPECT_EQ(reinterpret_cast<const sockaddr*>(&a.sa), a.get());
    EXPECT_EQ(sizeof(sockaddr_in), INet4::Addr::length());
}

TEST(INet4Addr, AssignAddressAndPort)
{
    INet4::Addr a;
    int port = 0;
    EXPECT_TRUE(a.Assign("10.0.0.1:5060", &port));
    EXPECT_EQ(5060, port);
    EXPECT_EQ(5060, a.GetPort());
    EXPECT_EQ(0x0A000001u, a.GetAddress());
    EXPECT_EQ("10.0.0.1:5060", a.GetString());
}

TEST(INet4Addr, AssignWithoutPortKeepsThePort)
{
    INet4::Addr a;
    a.SetPort(77);
    int port = 0;
    EXPECT_TRUE(a.Assign("10.0.0.1", &port));
    EXPECT_EQ(-1, port);
    EXPECT_EQ(77, a.GetPort());
    EXPECT_TRUE(a.Assign("192.168.7.9"));
    EXPECT_EQ("192.168.7.9:77", a.GetString());
}

TEST(INet4Addr, HostNameIsRejectedButThePortIsStored)
{
    INet4::Addr a;
    int port = 0;
    EXPECT_FALSE(a.Assign("controller.example:1", &port));
    EXPECT_EQ(1, port);
    EXPECT_EQ(1, a.GetPort());
    EXPECT_FALSE(a.Assign("not an address"));
}

TEST(INet4Addr, PutWritesDottedQuadColonPort)
{
    INet4::Addr a(0xC0A80102u, 20001);
    std::ostringstream out;
    a.Put(out);
    EXPECT_EQ("192.168.1.2:20001", out.str());
    std::ostringstream out2;
    out2 << a;
    EXPECT_EQ(out.str(), out2.str());
}

TEST(INet4Addr, EqualityIgnoresTheFamily)
{
    INet4::Addr a(0x7F000001u, 80), b(0x7F000001u, 80), c(0x7F000001u, 81);
    b.sa.sin_family = AF_UNSPEC;
    EXPECT_TRUE(a.IsEqual(b));
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a.IsEqual(c));
    EXPECT_TRUE(a != c);
}

TEST(INet4Addr, AssignNumericAddressAndVector)
{
    INet4::Addr a;
    a.SetPort(5);
    a.Assign(htonl(0x01020304u));
    EXPECT_EQ("1.2.3.4:5", a.GetString());
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3, 4}), a.GetVector());
    a.Reset();
    EXPECT_EQ("0.0.0.0:0", a.GetString());
}
