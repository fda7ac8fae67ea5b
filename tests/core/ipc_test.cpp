#include "core/ipc.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

volatile sig_atomic_t plainCalls;
volatile sig_atomic_t infoCalls;
volatile sig_atomic_t infoSignal;

void Plain(int) {
  ++plainCalls;
  errno = EIO;  // a careless handler
}

void WithInfo(int sig, siginfo_t* info, void*) {
  ++infoCalls;
  infoSignal = info ? info->si_signo : -1;
  errno = EIO;
  (void)sig;
}

}  // namespace

TEST(IPCSignal, SetsAndValidSignalNumbers) {
  IPC::Signal::Set s(SIGUSR1, SIGUSR2, SIGHUP);
  EXPECT_TRUE(sigismember(&s.get(), SIGHUP));
  EXPECT_FALSE(sigismember(&s.get(), SIGTERM));
  EXPECT_TRUE(IPC::Signal::Set::is_signal(SIGCHLD));
  EXPECT_FALSE(IPC::Signal::Set::is_signal(0));
  EXPECT_FALSE(IPC::Signal::Set::is_signal(NSIG));
}

TEST(IPCSignal, HandlersRunWithErrnoPreserved) {
  plainCalls = 0;
  ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, Plain, SA_RESTART));
  errno = 42;
  ::raise(SIGUSR1);
  EXPECT_EQ(42, errno);
  EXPECT_EQ(1, plainCalls);

  struct sigaction sa;
  ::sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_TRUE(sa.sa_flags & SA_RESTART);
  EXPECT_FALSE(sa.sa_flags & SA_SIGINFO);

  // A three-argument handler is installed as a plain one too, even when
  // the caller asks for SA_SIGINFO: it runs, with no information.
  infoCalls = 0;
  infoSignal = 0;
  ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, WithInfo, IPC::Signal::Set(SIGUSR2), SA_SIGINFO));
  errno = 7;
  ::raise(SIGUSR1);
  EXPECT_EQ(7, errno);
  EXPECT_EQ(1, infoCalls);
  EXPECT_EQ(-1, infoSignal);
  ::sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_FALSE(sa.sa_flags & SA_SIGINFO);
  EXPECT_FALSE(sa.sa_flags & SA_RESTART);
  EXPECT_TRUE(sigismember(&sa.sa_mask, SIGUSR2));

  EXPECT_EQ(0, IPC::Signal::system(SIGUSR1));
}

TEST(IPCSignal, IgnoreDefaultAndInterruptModes) {
  struct sigaction sa;
  ASSERT_EQ(0, IPC::Signal::ignore(SIGUSR2));
  ::sigaction(SIGUSR2, nullptr, &sa);
  EXPECT_EQ(SIG_IGN, sa.sa_handler);
  ::raise(SIGUSR2);  // ignored: the test goes on

  ASSERT_EQ(0, IPC::Signal::handle(SIGUSR2, Plain, 0));
  EXPECT_EQ(0, IPC::Signal::disable_int(SIGUSR2));
  ::sigaction(SIGUSR2, nullptr, &sa);
  EXPECT_TRUE(sa.sa_flags & SA_RESTART);
  EXPECT_EQ(0, IPC::Signal::enable_int(SIGUSR2));
  ::sigaction(SIGUSR2, nullptr, &sa);
  EXPECT_FALSE(sa.sa_flags & SA_RESTART);

  ASSERT_EQ(0, IPC::Signal::system(SIGUSR2));
  ::sigaction(SIGUSR2, nullptr, &sa);
  EXPECT_EQ(SIG_DFL, sa.sa_handler);

  EXPECT_EQ(-1, IPC::Signal::handle(0, Plain, 0));
}
