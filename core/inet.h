// IPv4 endpoint value: the system's sockaddr_in, passed unchanged to
// bind, connect and sendto.
#ifndef VELMARD_CORE_INET_H
#define VELMARD_CORE_INET_H

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace INet4 {

class Addr {
 public:
  Addr() { Reset(); }
  explicit Addr(const sockaddr_in& sa) : sa(sa) {}
  // Address and port in host byte order.
  Addr(uint32_t hostAddress, uint16_t port);

  // All zero, family AF_INET.
  void Reset();
  // "a.b.c.d" or "a.b.c.d:port". With a colon the port is stored (and
  // written to *port); without one *port gets -1 and the stored port is
  // kept. True when the address part is a valid dotted address.
  bool Assign(const char* text, int* port = nullptr);
  // The address only, in network byte order (as s_addr).
  void Assign(unsigned long address);
  void SetPort(uint16_t port) { sa.sin_port = htons(port); }

  bool IsEqual(const Addr& other) const;
  bool operator==(const Addr& other) const { return IsEqual(other); }
  bool operator!=(const Addr& other) const { return !IsEqual(other); }

  // Dotted quad, ":", port in decimal.
  void Put(std::ostream& out) const;
  std::string GetString() const;
  // The four address bytes in network order.
  std::vector<unsigned char> GetVector() const;

  uint16_t GetPort() const { return ntohs(sa.sin_port); }
  uint32_t GetAddress() const { return ntohl(sa.sin_addr.s_addr); }

  sockaddr* get() { return reinterpret_cast<sockaddr*>(&sa); }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&sa); }
  static socklen_t length() { return sizeof(sockaddr_in); }

  sockaddr_in sa;
};

static_assert(sizeof(Addr) == sizeof(sockaddr_in), "Addr is laid out as sockaddr_in");

inline std::ostream& operator<<(std::ostream& out, const Addr& a) {
  a.Put(out);
  return out;
}

}  // namespace INet4

#endif  // VELMARD_CORE_INET_H
