#include "core/inet.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace INet4 {

Addr::Addr(uint32_t hostAddress, uint16_t port) {
  Reset();
  sa.sin_addr.s_addr = htonl(hostAddress);
  sa.sin_port = htons(port);
}

void Addr::Reset() {
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
}

bool Addr::Assign(const char* text, int* port) {
  const char* colon = std::strchr(text, ':');
  if (!colon) {
    if (port) *port = -1;
    return ::inet_aton(text, &sa.sin_addr) != 0;
  }
  long p = std::strtol(colon + 1, nullptr, 10);
  sa.sin_port = htons(uint16_t(p));
  if (port) *port = int(p);
  std::string address(text, colon);
  return ::inet_aton(address.c_str(), &sa.sin_addr) != 0;
}

void Addr::Assign(unsigned long address) {
  sa.sin_addr.s_addr = in_addr_t(address);
}

bool Addr::IsEqual(const Addr& other) const {
  return sa.sin_addr.s_addr == other.sa.sin_addr.s_addr && sa.sin_port == other.sa.sin_port;
}

void Addr::Put(std::ostream& out) const {
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
  out << text << ":" << ntohs(sa.sin_port);
}

std::string Addr::GetString() const {
  std::ostringstream out;
  Put(out);
  return out.str();
}

std::vector<unsigned char> Addr::GetVector() const {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&sa.sin_addr.s_addr);
  return std::vector<unsigned char>(b, b + 4);
}

}  // namespace INet4
