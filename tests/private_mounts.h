// Makes the mounts of a process's new mount namespace private, also inside a
// chroot, for the tests that lay folders of their own over system paths.
#ifndef VELMARD_TESTS_PRIVATE_MOUNTS_H
#define VELMARD_TESTS_PRIVATE_MOUNTS_H

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {

// Call after unshare(CLONE_NEWNS): nothing mounted afterwards reaches the
// namespace this one was copied from. In a chroot "/" is no mount point, so
// the namespace's own root is reached by climbing out of the chroot (a
// chroot into a folder below leaves the working folder outside it, where
// ".." is not stopped), made private there, and the chroot is entered
// again. Only system calls: it may run between fork and exec.
inline bool MakeMountsPrivate() {
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) return true;
  if (errno != EINVAL) return false;
  int root = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int cwd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = root >= 0 && cwd >= 0 && ::chroot("/tmp") == 0 && ::fchdir(root) == 0;
  for (int i = 0; ok && i < 256; ++i) ok = ::chdir("..") == 0;
  ok =
      ok && ::chroot(".") == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  // Back into the chroot whatever happened.
  bool back =
      root >= 0 && cwd >= 0 && ::fchdir(root) == 0 && ::chroot(".") == 0 && ::fchdir(cwd) == 0;
  if (root >= 0) ::close(root);
  if (cwd >= 0) ::close(cwd);
  return ok && back;
}

}  // namespace testsupport

#endif  // VELMARD_TESTS_PRIVATE_MOUNTS_H
