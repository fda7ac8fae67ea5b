// Runs a test body in a forked child that has its own mount namespace and a
// private tmpfs on /dev, so that "/dev/log" there is the test's own socket.
#ifndef VELMARD_TESTS_CORE_PRIVATE_DEV_H
#define VELMARD_TESTS_CORE_PRIVATE_DEV_H

#include <gtest/gtest.h>

#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "tests/private_mounts.h"

namespace testing_private_dev {

int const kSkip = 77;

// withNull: the private /dev also holds the real /dev/null (daemon(3) needs
// it). Returns the child's exit status: 0 passed, 1 failed, kSkip when the
// namespace cannot be made.
inline int InPrivateDev(std::function<void()> const& body, bool withNull = false) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0) _exit(kSkip);
    if (!testsupport::MakeMountsPrivate()) _exit(kSkip);
    char tmpl[] = "/tmp/private_dev.XXXXXX";
    if (!mkdtemp(tmpl)) _exit(kSkip);
    // Built aside, then laid over /dev with its submounts.
    if (mount("tmpfs", tmpl, "tmpfs", 0, "size=1m,mode=755") != 0) _exit(kSkip);
    if (withNull) {
      std::string null = std::string(tmpl) + "/null";
      FILE* f = std::fopen(null.c_str(), "w");
      if (!f) _exit(kSkip);
      std::fclose(f);
      if (mount("/dev/null", null.c_str(), nullptr, MS_BIND, nullptr) != 0) _exit(kSkip);
    }
    if (mount(tmpl, "/dev", nullptr, MS_BIND | MS_REC, nullptr) != 0) _exit(kSkip);
    umount2(tmpl, MNT_DETACH);
    rmdir(tmpl);
    body();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A socket of the given type bound at "/dev/log" (listening when a stream).
inline int BindLog(int type) {
  int s = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, "/dev/log");
  unlink(a.sun_path);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ADD_FAILURE() << "bind /dev/log: " << std::strerror(errno);
    return -1;
  }
  if (type == SOCK_STREAM) listen(s, 4);
  return s;
}

inline bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) == 1;
}

// One datagram, or an empty string when none arrives in time.
inline std::string Recv(int fd, int ms = 5000) {
  if (!Readable(fd, ms)) return std::string();
  char buf[65536];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

}  // namespace testing_private_dev

#define RUN_ISOLATED_WITH(body, withNull)                                                  \
  do {                                                                                     \
    int st_ = ::testing_private_dev::InPrivateDev(body, withNull);                         \
    if (st_ == ::testing_private_dev::kSkip) GTEST_SKIP() << "no private mount namespace"; \
    EXPECT_EQ(0, st_);                                                                     \
  } while (0)

// Variadic, so that a body with commas outside parentheses (braced tables)
// passes whole.
#define RUN_ISOLATED(...) RUN_ISOLATED_WITH((__VA_ARGS__), false)

#endif  // VELMARD_TESTS_CORE_PRIVATE_DEV_H
