// Child-process watcher: a ChildWait registration calls its handler from
// the loop when its child exits.
//
// The SIGCHLD handler only reaps children and queues one exit record per
// child on an AF_UNIX datagram socket pair; the loop reads the records and
// calls the handlers, never inside the signal handler.
#ifndef VELMARD_CORE_CHILDWAIT_H
#define VELMARD_CORE_CHILDWAIT_H

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <new>

#include "core/dual_list.h"
#include "core/multiplexer.h"

class ChildWait : public F_dual_list_item<ChildWait> {
 public:
  class Handler {
   public:
    virtual ~Handler() {}
    virtual void Invoke(ChildWait& registration, int status) = 0;
    // Handlers always live inside their registration's storage.
    static void operator delete(void*) {}
  };

  class DummyHandler : public Handler {
   public:
    void Invoke(ChildWait&, int) override {}
  };

  template <class T>
  class THandler1 : public Handler {
   public:
    THandler1(T& object, void (T::*member)(int)) : object(object), member(member) {}
    void Invoke(ChildWait&, int status) override { (object.*member)(status); }
    T& object;
    void (T::*member)(int);
  };

  // Counts the program units that use the watcher: the first creates the
  // service, the last one's exit handler destroys it.
  class UsageCounter {
   public:
    UsageCounter();
    ~UsageCounter();
  };

  ChildWait();
  ChildWait(const ChildWait&) = delete;
  ChildWait& operator=(const ChildWait&) = delete;
  ~ChildWait();

  // The handler gets the raw wait status (decode with WIFEXITED & co).
  template <class T>
  void Bind(typename NonDeduced<T>::type* object, void (T::*member)(int)) {
    static_assert(sizeof(THandler1<T>) <= sizeof(storage), "handler too large");
    handler->~Handler();
    handler = new (storage) THandler1<T>(*object, member);
  }

  // Watch this child (after fork); a listed registration moves to the tail.
  void Attach(int pid);
  void Detach();
  int Pid() const { return pid; }
  bool listed() const { return inList; }

  static void Initialize();
  static void Cleanup();
  // Creates the socket pair and installs the SIGCHLD handler.
  static void Activate();

 private:
  friend class ChildWaitService;

  int pid = 0;
  alignas(std::max_align_t) unsigned char storage[64];
  Handler* handler;
  bool inList = false;
};

class ChildWaitService : public Event {
 public:
  // One 8-byte datagram per reaped child, host byte order.
  struct Record {
    int32_t pid;
    int32_t status;
  };

  static ChildWaitService* childWaitService;

  static void SigChldHandlerWrapper(int sig, siginfo_t* info, void* ctx);
  void OnChildEvent(int fd, short revents);

  Fd writeEnd;
  F_dual_list<ChildWait> list;

 private:
  friend class ChildWait;
  ChildWaitService() = default;
  void Serve(const Record& r);
};

namespace {
ChildWait::UsageCounter childWaitUsageCounter;
}

#endif  // VELMARD_CORE_CHILDWAIT_H
