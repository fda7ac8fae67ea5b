#include "core/childwait.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>

#include <iostream>

#include "core/ipc.h"

ChildWaitService* ChildWaitService::childWaitService = nullptr;

namespace {

int usageCount = 0;

// The write end as the SIGCHLD handler sees it; -1 while the watcher is
// not active.
volatile sig_atomic_t sigWriteFd = -1;

// The raw wait status that waitpid will give for this child.
int WaitStatus(const siginfo_t& info) {
  switch (info.si_code) {
    case CLD_EXITED:
      return (info.si_status & 0xFF) << 8;
    case CLD_KILLED:
      return info.si_status & 0x7F;
    case CLD_DUMPED:
      return (info.si_status & 0x7F) | 0x80;
    default:
      return 0;
  }
}

bool QueueRecord(int fd, int32_t pid, int32_t status) {
  iovec iov[2] = {{&pid, sizeof pid}, {&status, sizeof status}};
  msghdr msg = {};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  return ::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL) == ssize_t(sizeof pid + sizeof status);
}

// Reaps every ended child whose exit record could be queued. The child is
// only looked at (WNOWAIT) until its record is on the queue: when the
// queue is full it stays a zombie, and the loop calls this again once it
// has emptied the queue, so no exit is lost and the handler never blocks.
void ReapChildren() {
  int fd = sigWriteFd;
  if (fd < 0) return;
  for (;;) {
    siginfo_t info;
    info.si_pid = 0;
    if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 || info.si_pid == 0) return;
    if (!QueueRecord(fd, info.si_pid, WaitStatus(info))) return;
    int status;
    ::waitpid(info.si_pid, &status, WNOHANG);
  }
}

// The same from the loop: SIGCHLD is held off meanwhile, so the handler
// cannot queue a second record for a child between its record and its
// reaping.
void ReapChildrenInLoop() {
  sigset_t chld, old;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  ::sigprocmask(SIG_BLOCK, &chld, &old);
  ReapChildren();
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

// ------------------------------------------------------------- ChildWait

ChildWait::UsageCounter::UsageCounter() {
  if (++usageCount == 1) ChildWait::Initialize();
}

ChildWait::UsageCounter::~UsageCounter() {
  if (--usageCount == 0) ChildWait::Cleanup();
}

ChildWait::ChildWait() : handler(new (storage) DummyHandler) {}

ChildWait::~ChildWait() {
  handler->~Handler();
  handler = nullptr;
  Detach();
}

void ChildWait::Attach(int childPid) {
  pid = childPid;
  ChildWaitService* svc = ChildWaitService::childWaitService;
  if (!svc) return;
  if (inList) svc->list.remove(this);
  svc->list.insert_to_tail(this);
  inList = true;
}

void ChildWait::Detach() {
  ChildWaitService* svc = ChildWaitService::childWaitService;
  if (!svc || !inList) return;
  svc->list.remove(this);
  inList = false;
}

void ChildWait::Initialize() {
  if (!ChildWaitService::childWaitService)
    ChildWaitService::childWaitService = new ChildWaitService;
}

void ChildWait::Cleanup() {
  ChildWaitService* svc = ChildWaitService::childWaitService;
  if (!svc) return;
  sigWriteFd = -1;
  ChildWaitService::childWaitService = nullptr;
  while (ChildWait* c = svc->list.remove_from_head()) c->inList = false;
  svc->Release();
  delete svc;
}

void ChildWait::Activate() {
  ChildWaitService* svc = ChildWaitService::childWaitService;
  if (!svc || svc->writeEnd) return;

  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) < 0) {
    std::cerr << "ChildWaitService: initialize fails" << std::endl;
    return;
  }
  Fd writeSide(pair[0]);
  Fd readSide(pair[1]);

  svc->writeEnd = writeSide;
  svc->Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, svc);
  NonBlockMode(readSide.get());
  svc->Schedule(readSide, POLLIN);

  sigWriteFd = svc->writeEnd.get();
  IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
  // Children that ended before the handler was installed.
  ReapChildrenInLoop();
}

// ------------------------------------------------------ ChildWaitService

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*) {
  ReapChildren();
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    Record r;
    iovec iov[2] = {{&r.pid, sizeof r.pid}, {&r.status, sizeof r.status}};
    ssize_t n = ::readv(fd, iov, 2);
    if (n != ssize_t(sizeof r)) break;
    Serve(r);
  }
  // The queue has room again: reap the children whose records did not fit.
  ReapChildrenInLoop();
}

void ChildWaitService::Serve(const Record& r) {
  std::clog << "terminate child process, pid=" << r.pid << " status=" << r.status << std::endl;
  for (ChildWait& c : list) {
    if (c.pid != r.pid) continue;
    list.remove(&c);
    c.inList = false;
    c.handler->Invoke(c, r.status);
    return;
  }
}
