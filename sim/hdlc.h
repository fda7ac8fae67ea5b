// "/dev/mcc/ctl": the multi-channel HDLC controller. Every open is one
// channel: allocated in a mode (MCC_ALLOCATE), it answers its controller
// channel number (MCC_TIMESLOT), takes one frame per write and gives one
// frame per read.
//
// Controller channel numbers are 16384 and up, the lowest free one at each
// open: they collide neither with trunk timeslots nor with the switch's
// internal outputs 8192..10239. A test may have the next open numbered
// otherwise (0 included, which a driver may answer as well).
//
// Journal: "open CH", "allocate CH MODE W1 W2 W3 W4", "timeslot CH",
// "tx CH HH HH ..." per frame the daemon wrote, "close CH"; a request the
// board refused ends in " failed ERRNO".
#ifndef VELMARD_SIM_HDLC_H
#define VELMARD_SIM_HDLC_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/requests.h"

namespace sim {

struct MccAllocateRecord {
  int32_t mode;      // 0, 1 or 3
  int32_t words[4];  // 512, 0, 1, 4
};
static_assert(sizeof(MccAllocateRecord) == 20 && offsetof(MccAllocateRecord, words) == 4, "");

class Mcc : public Device {
 public:
  static constexpr const char* kPath = "/dev/mcc/ctl";
  static constexpr int kFirstChannel = 16384;

  void OnOpen(Port& port) override;
  void OnClose(Port& port) override;
  void OnWrite(Port& port, const std::string& packet) override;
  int OnIoctl(Port& port, unsigned long request, void* arg, int* err) override;
  // "CH HEX": a frame for channel CH (hex digits, any number of words);
  // "eof CH": the channel reads end of file once.
  bool OnInject(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                std::string* reply) override;
  // "hangup CH" / "error CH": the daemon's descriptors of the channel
  // report POLLHUP / POLLERR without data (see sim/README.md).
  bool OnControl(const std::vector<Port*>& ports, const std::vector<std::string>& words,
                 std::string* reply) override;
  void Reset() override {
    faults_.Clear();
    next_.reset();
  }

  // The controller channel numbers of the open channels, ascending.
  std::vector<int> Channels() const;

 private:
  struct Channel {
    int number = 0;
    bool allocated = false;
    MccAllocateRecord record{};
    Port* port = nullptr;
  };
  Channel* Find(const std::vector<Port*>& ports, const std::string& word, std::string* reply);

  std::map<ino_t, Channel> channels_;
  RequestFaults faults_;
  std::optional<int> next_;  // the number of the next open, when free; else the lowest free
};

}  // namespace sim

#endif  // VELMARD_SIM_HDLC_H
