// Signal installation. Handlers installed here run with errno preserved:
// a trampoline saves it around the call, so a handler that calls waitpid,
// send or write cannot disturb the code it interrupted.
#ifndef VELMARD_CORE_IPC_H
#define VELMARD_CORE_IPC_H

#include <csignal>

namespace IPC {
namespace Signal {

class Set {
 public:
  Set() { sigemptyset(&set); }
  explicit Set(int a) : Set() { add(a); }
  Set(int a, int b) : Set() {
    add(a);
    add(b);
  }
  Set(int a, int b, int c) : Set() {
    add(a);
    add(b);
    add(c);
  }

  Set& add(int sig) {
    if (is_signal(sig)) sigaddset(&set, sig);
    return *this;
  }
  static bool is_signal(int sig) { return sig > 0 && sig < NSIG; }
  const sigset_t& get() const { return set; }

  sigset_t set;
};

typedef void (*Handler)(int);
typedef void (*InfoHandler)(int, siginfo_t*, void*);

// sigaction's result. SA_SIGINFO is always cleared: every handler is
// installed as a plain one, and the three-argument form gets null
// information and context.
int handle(int sig, Handler h, const Set& mask, int flags);
int handle(int sig, InfoHandler h, const Set& mask, int flags);
int handle(int sig, Handler h, int flags);
int handle(int sig, InfoHandler h, int flags);

int ignore(int sig);
int system(int sig);
int disable_int(int sig);
int enable_int(int sig);

}  // namespace Signal
}  // namespace IPC

#endif  // VELMARD_CORE_IPC_H
