#include "core/linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>

namespace Linux {

Run::Run(const char* name) : path(std::string("/var/run/") + name + ".pid") {
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string pid = std::to_string(::getpid());
  // A failed write leaves an empty file, removed at exit like a good one.
  ssize_t written = ::write(fd, pid.data(), pid.size());
  (void)written;
  ::fsync(fd);
}

Run::~Run() {
  if (fd < 0) return;
  ::close(fd);
  ::unlink(path.c_str());
}

}  // namespace Linux

// The command name of a process: after the first "(" up to the last ")",
// so names holding ")" compare whole.
static bool ProcessHasName(int pid, const char* name) {
  char file[64];
  std::snprintf(file, sizeof file, "/proc/%d/stat", pid);
  int fd = ::open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[256];
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return false;
  std::string stat(buf, size_t(n));
  size_t open = stat.find('(');
  size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  return stat.compare(open + 1, close - open - 1, name) == 0;
}

int find_proc_by_name(const char* name, int pid) {
  if (pid > 0 && ProcessHasName(pid, name)) return pid;
  DIR* dir = ::opendir("/proc");
  if (!dir) return -1;
  int result = -1;
  while (dirent* e = ::readdir(dir)) {
    int candidate = std::atoi(e->d_name);
    if (candidate > 0 && ProcessHasName(candidate, name)) {
      result = candidate;
      break;
    }
  }
  ::closedir(dir);
  return result;
}

namespace Console {

void SwitchToBinaryMode() {
  termios t;
  std::memset(&t, 0, sizeof t);
  if (::tcgetattr(STDIN_FILENO, &t) < 0)
    std::cerr << "can't obtain terminal attributes" << std::endl;
  t.c_lflag &= ~(ICANON | ISIG | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL);
  if (::tcsetattr(STDIN_FILENO, TCSADRAIN, &t) < 0)
    std::cerr << "can't set terminal attributes" << std::endl;
}

void SwitchToNonBlockMode() {
  int on = 1;
  if (::ioctl(STDIN_FILENO, FIONBIO, &on) < 0)
    std::cerr << "can't switch terminal to blocked mode" << std::endl;
}

}  // namespace Console

void timestamp(std::ostream& out) {
  time_t now = ::time(nullptr);
  if (now == time_t(-1)) return;
  struct tm lt;
  if (!::localtime_r(&now, &lt)) return;
  char text[32];
  if (::strftime(text, sizeof text, "%d/%m %H:%M:%S", &lt) == 0) return;
  out << text;
}
