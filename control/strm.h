// Bottom layer of a stream protocol stack: owns a connected stream socket,
// passes up whatever one read returns, and writes each packet handed down
// completely before returning (or fails the connection).
#ifndef VELMARD_CONTROL_STRM_H
#define VELMARD_CONTROL_STRM_H

#include <ostream>
#include <string>

#include "control/protocol.h"
#include "core/fd.h"
#include "core/multiplexer.h"

class StrmProtocol : public Protocol {
 public:
  // Total time a write may wait for socket buffer space, per packet.
  static constexpr unsigned write_timeout_ms = 1000;

  StrmProtocol();
  explicit StrmProtocol(Fd fd);
  ~StrmProtocol() override;

  // Takes its own duplicate of the socket (an rvalue is simply taken over).
  void attach(Fd fd);
  // Leaves the loop and closes the socket.
  void release();
  bool attached() const { return bool(fd_); }
  int fd() const { return fd_.get(); }

  // Socket buffer figures; -1 when the query fails.
  int sendbuf_space() const;
  int recvbuf_space() const;
  int inq_space() const;
  int outq_space() const;
  int free_space() const;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;

  void on_event(int fd, short revents);
  void on_error(std::string const& text);

  void set_service_name(std::string const& name) { service_name_ = name; }
  std::string const& service_name() const { return service_name_; }
  Measure const& read_measure() const { return read_measure_; }
  Measure const& write_measure() const { return write_measure_; }
  // Write errors and write time-outs so far.
  u32 failed_writes() const { return failed_writes_; }
  bool send_queue_mode() const { return send_queue_mode_; }

  void PutHeader(std::ostream& out) const;

 private:
  void do_read();
  void report_write_failure(char const* what, int error);

  std::string text_;
  Protocol_name_str name_str_;
  Fd fd_;
  bool send_queue_mode_;
  std::string service_name_;
  Event event_;
  Measure read_measure_;
  Measure write_measure_;
  u32 failed_writes_;
};

#endif  // VELMARD_CONTROL_STRM_H
