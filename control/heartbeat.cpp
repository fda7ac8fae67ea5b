#include "control/heartbeat.h"

#include <iostream>

HeartBeatCtl* HeartBeatCtl::instance() {
  static HeartBeatCtl heartbeat;
  return &heartbeat;
}

bool HeartBeatCtl::OnCommand(LGCP::Command const& cmd) {
  ResetTimeOut();
  if (cmd.currentSelection() != LGCP::Command::e_ping) return false;
  Success();
  return true;
}

void HeartBeatCtl::ResetTimeOut() {
  watch_.set(timeout_, &HeartBeatCtl::OnHeartbeatTimeout, this);
}

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  std::clog << "heartbeat timeout!!!" << std::endl;
  CtrlSrv::Server* server = GetServer();
  (server ? server : &ctrlServer)->OnHeartbeatTimeout();
}
