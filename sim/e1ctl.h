// The E1 side of the board: the maintenance driver "/dev/maintenance" (trunk
// synchronisation status and transmit clocks) and the CAS driver
// "/dev/e1-cas" (signalling bits of trunk timeslots, with bit changes read
// as records).
//
// Both keep the request numbers and record layouts of the board's drivers
// themselves, so a wrong constant in the daemon is refused here. At power-on
// the four trunks are in sync with nothing counted, which is what a board
// with healthy lines reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/requests.h"

namespace sim {

// One 80-byte status record per trunk: word 0 names the trunk, the driver
// fills the others (slips @36, lossBF @40, lossCarrier @44, AIS @48,
// RAI @52, state @76).
struct TrunkRecord {
  int32_t word[20];
};
static_assert(sizeof(TrunkRecord) == 80, "trunk status record is 80 bytes");

// Control words ("ctl /dev/maintenance ...", all numbers decimal or 0x hex,
// ERRNO a number or a name):
//   trunk T FIELD VALUE...  FIELD: state slips lossBF lossCarrier ais rai,
//                           or wN for word N (1..19)
//   fail T ERRNO            status reads of trunk T fail (0: they work again)
//   fail-tclk ERRNO         set-TCLK requests fail (0: they work again)
//   show                    "trunk T slips N lossBF N lossCarrier N ais N
//                           rai N state S fail E" per trunk, then "tclk N"
//                           and "clock-source N" (-1: never set)
// Journal: "tclk 0xMASK", "clock-source N" (status reads are not journaled:
// the daemon makes four a second).
class Maintenance : public Device {
 public:
  static constexpr const char* kPath = "/dev/maintenance";
  static constexpr int kTrunks = 4;
  static const Request kRequests[];

  Maintenance() { Reset(); }
  void OnWrite(Port& port, const std::string& packet) override;
  int OnIoctl(Port& port, unsigned long request, void* arg, int* err) override;
  bool OnControl(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                 std::string* reply) override;
  void Reset() override;

  // What the driver fills in for trunk t (0..3); word 0 is the caller's.
  TrunkRecord& trunk(int t) { return trunks_[t]; }
  void Fail(int t, int err) { fail_[t] = err; }
  void FailTclk(int err) { failTclk_ = err; }
  // The last values written; -1 before the first.
  long tclk() const { return tclk_; }
  long clockSource() const { return clockSource_; }

 private:
  TrunkRecord trunks_[kTrunks];
  int fail_[kTrunks];
  int failTclk_ = 0;
  long tclk_ = -1;
  long clockSource_ = -1;
};

// The CAS driver's channel record; a configure request adds one word
// (0 start, 1 stop).
struct CasChannelRecord {
  int32_t trunk;
  int32_t channel;
  uint8_t rx;
  uint8_t tx;
  uint8_t reserved[2];
};
static_assert(sizeof(CasChannelRecord) == 12, "cas_channel is 12 bytes");
static_assert(offsetof(CasChannelRecord, rx) == 8 && offsetof(CasChannelRecord, tx) == 9,
              "cas_channel bits follow the two words");
struct CasConfigRecord {
  CasChannelRecord channel;
  int32_t stop;
};
static_assert(sizeof(CasConfigRecord) == 16, "CAS configuration record is 16 bytes");

// Inject words ("inject /dev/e1-cas ..."):
//   T CH RX TX              a bit change, read by the daemon as one record
// Control words ("ctl /dev/e1-cas ..."):
//   rx T CH BITS            the bits received on a channel
//   result OP VALUE [N]     the next N (default 1) requests OP (open, close,
//                           set, get, configure) give VALUE; a negative
//                           VALUE fails with that errno, as a driver's
//                           negative result does
//   show                    "trunk T open|closed" per trunk, then
//                           "channel T CH on|off rx R tx X" per channel used
// Journal: "open T", "close T", "configure T CH start TX",
// "configure T CH stop", "set T CH TX", "get T CH"; " failed ERRNO" added
// when the driver refused.
class E1Cas : public Device {
 public:
  static constexpr const char* kPath = "/dev/e1-cas";
  static constexpr int kTrunks = 4;
  static constexpr int kChannels = 32;
  static const Request kRequests[];
  enum Op { kOpen, kClose, kSet, kGet, kConfigure, kOps };
  struct Channel {
    bool used = false;  // touched since power-on, for "show"
    bool configured = false;
    uint8_t rx = 0;
    uint8_t tx = 0;
  };

  E1Cas() { Reset(); }
  void OnWrite(Port& port, const std::string& packet) override;
  int OnIoctl(Port& port, unsigned long request, void* arg, int* err) override;
  bool OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                std::string* reply) override;
  bool OnControl(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                 std::string* reply) override;
  void Reset() override;

  bool open(int t) const { return open_[t]; }
  // Null outside trunks 0..3 and timeslots 0..31.
  Channel* channel(int32_t trunk, int32_t channel);
  void SetResult(Op op, int value, int count = 1) {
    result_[op] = value;
    resultCount_[op] = count;
  }

 private:
  // The injected result for the next request of op, when one is armed.
  bool TakeResult(Op op, int* result, int* err);
  int Serve(Op op, void* arg, int* err);

  bool open_[kTrunks];
  Channel channels_[kTrunks][kChannels];
  int result_[kOps];
  int resultCount_[kOps];
};

}  // namespace sim
