#include "hardware/hwmux.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "core/ext.h"
#include "core/fd.h"
#include "hardware/board_ioc.h"

namespace {

// The driver's records: 32-bit words in the machine's order.
struct TdmConnect {
  int32_t output;
  int32_t input;
};
struct TdmOutput {
  int32_t output;
};
struct TdmByte {
  int32_t channel;
  int32_t value;
};
static_assert(sizeof(TdmConnect) == 8 && offsetof(TdmConnect, input) == 4, "connect record");
static_assert(sizeof(TdmOutput) == 4, "disable record");
static_assert(sizeof(TdmByte) == 8 && offsetof(TdmByte, value) == 4, "byte record");

}  // namespace

HwMux& HwMux::instance() {
  static HwMux mux;
  return mux;
}

HwMux::HwMux() {
  for (uint16_t& e : table) e = kDisabled;
  std::clog << "hwMux: init" << std::endl;
  IsOpened();
  refresh.Bind(this, &HwMux::OnDPC);
}

// The refresh Dpc leaves the loop and drops its handler by itself.
HwMux::~HwMux() {
  if (fd >= 0) ::close(fd);
}

void HwMux::PutHeader(std::ostream& out) const {
  out << "hwMux: ";
}

bool HwMux::IsOpened() {
  if (fd >= 0) return true;
  int f = ::open("/dev/hal", O_RDWR);
  if (f < 0) {
    std::clog << ext::header(this) << "can't open device: " << std::strerror(errno) << std::endl;
    return false;
  }
  SetCloexec(f, true);
  fd = f;
  std::clog << ext::header(this) << "device opened" << std::endl;
  // Whatever the switch did before, no output carries anything yet. The
  // table says so already (nothing changes it before the first open), and
  // the refresh starts from its first cursor.
  for (int i = 0; i < kTracked; ++i) {
    TdmOutput rec{kFirstTracked + i};
    (void)::ioctl(fd, Hardware::Ioc::kTdmDisable, &rec);
  }
  refresh.Activate();
  ::usleep(500);
  return true;
}

bool HwMux::Connect(int src, int dst) {
  if (!IsOpened() || src < 0 || dst < 0) {
    std::clog << ext::header(this) << "ERROR not opened" << std::endl;
    return false;
  }
  // The entry holds the intent, also when the driver refuses it.
  SetEntry(dst, static_cast<uint16_t>(src));
  TdmConnect rec{dst, src};
  if (::ioctl(fd, Hardware::Ioc::kTdmConnect, &rec) < 0) {
    std::clog << ext::header(this) << "connect " << src << " -> " << dst
              << " failed: " << std::strerror(errno) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disconnect(int ch) {
  if (!IsOpened() || ch < 0) return false;
  SetEntry(ch, kDriven);
  TdmByte rec{ch, kIdleByte};
  if (::ioctl(fd, Hardware::Ioc::kTdmWriteByte, &rec) < 0) {
    std::clog << ext::header(this) << "disconnect failed " << ch << " : " << std::strerror(errno)
              << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disable(int ch) {
  if (!IsOpened() || ch < 0) return false;
  SetEntry(ch, kDisabled);
  TdmOutput rec{ch};
  if (::ioctl(fd, Hardware::Ioc::kTdmDisable, &rec) < 0) {
    std::clog << ext::header(this) << "disable failed " << ch << " : " << std::strerror(errno)
              << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Write(int ch, unsigned char value) {
  if (!IsOpened() || ch < 0) return false;
  SetEntry(ch, kDriven);
  TdmByte rec{ch, value};
  if (::ioctl(fd, Hardware::Ioc::kTdmWriteByte, &rec) < 0) {
    std::clog << ext::header(this) << "write failed " << ch << " <- "
              << ext::OutUnsignedInHex(value) << " : " << std::strerror(errno) << std::endl;
    return false;
  }
  return true;
}

int HwMux::Read(int ch) {
  if (!IsOpened() || ch < 0) return 255;
  TdmByte rec{ch, 255};
  if (::ioctl(fd, Hardware::Ioc::kTdmReadByte, &rec) < 0) {
    std::clog << ext::header(this) << "read failed " << ch << " -> "
              << ext::OutUnsignedInHex(static_cast<uint32_t>(rec.value)) << " : "
              << std::strerror(errno) << std::endl;
    return 255;
  }
  return rec.value & 0xFF;
}

void HwMux::RefreshChannel(int index) {
  if (index < 0 || index >= kTracked || table[index] != kDisabled) return;
  TdmOutput rec{kFirstTracked + index};
  (void)::ioctl(fd, Hardware::Ioc::kTdmDisable, &rec);
}

// Bounded so that re-asserting the disabled outputs never stalls the loop:
// a whole sweep takes 16 runs.
void HwMux::OnDPC() {
  if (fd < 0) return;
  for (int i = 0; i < kRefreshBatch; ++i) {
    cursor = (cursor + 1) % kTracked;
    RefreshChannel(static_cast<int>(cursor));
  }
}

void print_trace() {
  constexpr int kMaxFrames = 10;
  void* frames[kMaxFrames];
  int n = backtrace(frames, kMaxFrames);
  char** symbols = backtrace_symbols(frames, n);
  std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(n));
  for (int i = 0; symbols && i < n; ++i) std::printf("%s\n", symbols[i]);
  std::free(symbols);
}
