#include "core/ipc.h"

#include <cerrno>

namespace IPC {
namespace Signal {

namespace {

// The handlers installed per signal. Written before sigaction installs
// the trampoline, read only by it.
Handler volatile plainHandlers[NSIG];
InfoHandler volatile infoHandlers[NSIG];

// Installed as a plain one-argument handler: the kernel then passes no
// signal information, so a three-argument handler gets none either.
void Trampoline(int sig) {
  int savedErrno = errno;
  if (sig > 0 && sig < NSIG) {
    if (InfoHandler ih = infoHandlers[sig])
      ih(sig, nullptr, nullptr);
    else if (Handler h = plainHandlers[sig])
      h(sig);
  }
  errno = savedErrno;
}

int Install(int sig, Handler h, InfoHandler ih, const Set& mask, int flags) {
  if (!Set::is_signal(sig)) {
    errno = EINVAL;
    return -1;
  }
  struct sigaction sa = {};
  if (!ih && (h == SIG_IGN || h == SIG_DFL)) {
    sa.sa_handler = h;
  } else {
    plainHandlers[sig] = h;
    infoHandlers[sig] = ih;
    sa.sa_handler = Trampoline;
  }
  sa.sa_mask = mask.get();
  sa.sa_flags = flags & ~SA_SIGINFO;
  return ::sigaction(sig, &sa, nullptr);
}

int Disposition(int sig, Handler h) {
  struct sigaction sa = {};
  sa.sa_handler = h;
  sigemptyset(&sa.sa_mask);
  return ::sigaction(sig, &sa, nullptr);
}

// siginterrupt(3) without its deprecation: system calls interrupted by
// the signal are restarted unless `interrupt`.
int Interrupt(int sig, bool interrupt) {
  struct sigaction sa;
  if (::sigaction(sig, nullptr, &sa) < 0) return -1;
  if (interrupt)
    sa.sa_flags &= ~SA_RESTART;
  else
    sa.sa_flags |= SA_RESTART;
  return ::sigaction(sig, &sa, nullptr);
}

}  // namespace

int handle(int sig, Handler h, const Set& mask, int flags) {
  return Install(sig, h, nullptr, mask, flags);
}

int handle(int sig, InfoHandler h, const Set& mask, int flags) {
  return Install(sig, nullptr, h, mask, flags);
}

int handle(int sig, Handler h, int flags) {
  return handle(sig, h, Set(), flags);
}

int handle(int sig, InfoHandler h, int flags) {
  return handle(sig, h, Set(), flags);
}

int ignore(int sig) {
  return Disposition(sig, SIG_IGN);
}

int system(int sig) {
  return Disposition(sig, SIG_DFL);
}

int disable_int(int sig) {
  return Interrupt(sig, false);
}

int enable_int(int sig) {
  return Interrupt(sig, true);
}

}  // namespace Signal
}  // namespace IPC
