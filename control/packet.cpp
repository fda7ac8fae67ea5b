#include "control/packet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>

_Packet::_Packet(_Packet const& o)
    : count(0), data(buffer + (o.data - o.buffer)), tail(buffer + (o.tail - o.buffer)) {
  if (o.tail > o.data) std::memcpy(data, o.data, std::size_t(o.tail - o.data));
}

void* _Packet::operator new(std::size_t) {
  _Packet* p = Packet_pool::allocate();
  if (!p) throw std::bad_alloc();
  return p;
}

void _Packet::operator delete(void* p) {
  Packet_pool::deallocate(static_cast<_Packet*>(p));
}

// ---------------------------------------------------------------------------

PacketInfo::PacketInfo(Packet const& p)
    : null(p.is_null()), valid(false), head(0), length(0), tail(0) {
  _Packet const* r = p.get();
  if (!r) return;
  head = long(r->data - r->buffer);
  length = long(r->tail - r->data);
  tail = long(r->buffer_end() - r->tail);
  valid = r->valid();
  if (valid) bytes.assign(reinterpret_cast<char const*>(r->data), r->_length());
}

void PacketInfo::put(std::ostream& out) const {
  if (null) {
    out << "(null)" << std::endl;
    return;
  }
  out << "head=" << head << ", data=" << length << ", tail=" << tail << std::endl;
  if (!valid) {
    out << "can't dump packet: wrong pointers" << std::endl;
    return;
  }
  if (bytes.empty()) return;
  out << "dump:" << std::endl;
  std::ios::fmtflags flags = out.flags();
  for (unsigned char c : bytes) out << ' ' << std::hex << unsigned(c);
  out.flags(flags);
  out << std::endl;
}

// ---------------------------------------------------------------------------

unsigned Packet::length() const {
  _Packet const* r = get();
  return r ? r->_length() : 0;
}

unsigned Packet::headroom() const {
  _Packet const* r = get();
  return r ? r->_headroom() : 0;
}

unsigned Packet::tailroom() const {
  _Packet const* r = get();
  return r ? r->_tailroom() : 0;
}

u8 const* Packet::data() const {
  _Packet const* r = get();
  return r ? r->data : nullptr;
}

void Packet::reserve_head(unsigned n) {
  passert(n <= packet_max_size, "length>packet_max_size");
  if (is_null()) {
    *this = new _Packet;  // pool exhausted: std::bad_alloc
    passert(!is_null(), "allocation fail");
    _Packet* r = get();
    r->data = r->tail = r->buffer + n;
    return;
  }
  // The window moves as a whole, so it must still end inside the block.
  _Packet const* r = get();
  passert(std::size_t(r->_headroom()) + r->_length() + n <= packet_max_size,
          "new_len>packet_max_size");
  _Packet* w = operator->();
  w->data += n;
  w->tail += n;
}

void Packet::reserve_tail(unsigned n) {
  passert(n <= packet_max_size, "len>packet_max_size");
  if (is_null()) {
    *this = new _Packet;
    passert(!is_null(), "allocation fail");
    _Packet* r = get();
    r->data = r->tail = r->buffer_end() - n;
    return;
  }
  _Packet const* r = get();
  passert(std::size_t(r->_tailroom()) + r->_length() + n <= packet_max_size,
          "_tailroom()+len <= packet_max_size");
  _Packet* w = operator->();
  w->data -= n;
  w->tail -= n;
}

void Packet::put8(u8 v) {
  passert(!is_null(), "null packet");
  passert(get()->_tailroom() >= 1, "len<=_tailroom()");
  _Packet* r = operator->();
  u8* at = r->tail;
  ++r->tail;
  check("put");
  *at = v;
}

void Packet::push8(u8 v) {
  passert(!is_null(), "null packet");
  passert(get()->_headroom() >= 1, "len<=_headroom()");
  _Packet* r = operator->();
  --r->data;
  check("push");
  *r->data = v;
}

u8 Packet::pull8() {
  passert(!is_null(), "null packet");
  // An empty window changes nothing, so a shared block is not copied.
  if (get()->tail <= get()->data) return 0;
  return *operator->()->data++;
}

// Multi-byte operations go byte by byte, each byte asserting its own room.
void Packet::put16_b(unsigned short v) {
  put8(u8(v >> 8));
  put8(u8(v));
}

void Packet::put16(unsigned short v) {
  put8(u8(v));
  put8(u8(v >> 8));
}

void Packet::push16_b(unsigned short v) {
  push8(u8(v));
  push8(u8(v >> 8));
}

unsigned short Packet::pull16_b() {
  unsigned hi = pull8();
  unsigned lo = pull8();
  return static_cast<unsigned short>(hi << 8 | lo);
}

unsigned short Packet::pull16_l() {
  unsigned lo = pull8();
  unsigned hi = pull8();
  return static_cast<unsigned short>(hi << 8 | lo);
}

u8* Packet::tail_space() {
  passert(!is_null(), "null packet");
  return operator->()->tail;
}

void Packet::extend_tail(unsigned len) {
  passert(!is_null(), "null packet");
  passert(len <= get()->_tailroom(), "len<=_tailroom()");
  operator->()->tail += len;
  check("put");
}

void Packet::put(void const* bytes, unsigned len) {
  passert(!is_null(), "null packet");
  passert(len <= get()->_tailroom(), "len<=_tailroom()");
  u8* at = tail_space();
  extend_tail(len);
  if (len) std::memmove(at, bytes, len);
}

unsigned Packet::pull(void* to, unsigned len) {
  passert(!is_null(), "null packet");
  _Packet* r = operator->();
  unsigned have = r->_length();
  if (len > have) len = have;
  if (to && len) std::memcpy(to, r->data, len);
  r->data += len;
  return len;
}

void Packet::put(std::string const& s) {
  passert(!is_null(), "null packet");
  // The length travels in one byte: a longer string cannot be read back.
  passert(s.size() <= 255, "string length>255");
  put8(u8(s.size()));
  for (char c : s) put8(u8(c));
}

std::string Packet::pull_string() {
  passert(!is_null(), "null packet");
  unsigned n = pull8();
  std::string s;
  s.reserve(n);
  for (unsigned i = 0; i < n; ++i) s.push_back(char(pull8()));
  return s;
}

void Packet::put(Packet const& other) {
  passert(!is_null(), "null packet");
  passert(!other.is_null() && other.get()->valid(), "index out of range");
  // Holding a reference keeps the source bytes in place even when `other`
  // is this very handle and the first byte makes the block private.
  Packet source = other;
  u8 const* from = source.data();
  for (unsigned i = 0, n = source.length(); i < n; ++i) put8(from[i]);
}

Packet Packet::sub(unsigned len, unsigned start) const {
  passert(!is_null(), "null packet");
  unsigned have = length();
  passert(start <= have, "start<=_length()");
  passert(len <= have - start, "start+len<=_length()");
  Packet p;
  p = new _Packet(*get());
  _Packet* r = p.get();
  r->data += start;
  r->tail = r->data + len;
  return p;
}

std::string Packet::text() const {
  _Packet const* r = get();
  if (!r) return "(null)";
  if (!r->valid()) return "(bad)";
  std::string s;
  char hex[4];
  for (u8 const* b = r->data; b < r->tail; ++b) {
    if (b != r->data) s.push_back(' ');
    std::snprintf(hex, sizeof hex, "%02X", unsigned(*b));
    s += hex;
  }
  return s;
}

bool Packet::dump(std::ostream& out) const {
  _Packet const* r = get();
  if (!r) return false;
  out << "head=" << (r->data - r->buffer) << ", data=" << (r->tail - r->data)
      << ", tail=" << (r->buffer_end() - r->tail);
  return true;
}

bool Packet::dump_context(std::ostream& out) const {
  _Packet const* r = get();
  if (!r || !r->valid()) return false;
  if (r->data == r->tail) return true;
  std::ios::fmtflags flags = out.flags();
  out << "dump:";
  for (u8 const* b = r->data; b < r->tail; ++b) out << ' ' << std::hex << unsigned(*b);
  out.flags(flags);
  return true;
}

void Packet::check(char const* where) const {
  _Packet const* r = get();
  if (!r) check_fail("after \"%s\" packet is null", where);
  if (r->data < r->buffer || r->data > r->buffer_end())
    check_fail("after \"%s\" fdata invalid", where);
  if (r->tail < r->buffer || r->tail > r->buffer_end())
    check_fail("after \"%s\" ftail invalid", where);
  if (r->data > r->tail) check_fail("after \"%s\" fdata>ftail", where);
}

void Packet::check_fail(char const* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::clog << "packet check fail" << std::endl << text << std::endl << "terminate." << std::endl;
  std::terminate();
}

void Packet::passert(bool cond, std::string const& text) const {
  if (!cond) passert_fail(text.c_str());
}

void Packet::passert_fail(char const* text) const {
  std::clog << "PACKET ASSERTION FAILED!" << std::endl << text << std::endl;
  PacketInfo(*this).put(std::clog);
  std::clog << std::endl;
  std::terminate();
}
