// Process and file helpers: the pid file, finding a process by name,
// terminal modes and a time stamp.
#ifndef VELMARD_CORE_LINUX_H
#define VELMARD_CORE_LINUX_H

#include <ostream>
#include <string>

namespace Linux {

// The pid file "/var/run/<name>.pid": the decimal pid without an end of
// line, written synchronously, created with mode 0644 (less the umask),
// removed when the object dies.
// A file that cannot be created is not reported and not removed.
class Run {
 public:
  explicit Run(const char* name);
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  ~Run();

  bool IsOpen() const { return fd >= 0; }
  const std::string& Path() const { return path; }

  int fd = -1;
  std::string path;
};

}  // namespace Linux

// The pid of a process whose command name (in /proc/<pid>/stat) equals
// `name`, or -1. The hint `pid` is tried before the whole /proc is scanned.
int find_proc_by_name(const char* name, int pid = 0);

namespace Console {
void SwitchToBinaryMode();
void SwitchToNonBlockMode();
}  // namespace Console

// The local time as "%d/%m %H:%M:%S"; nothing when it cannot be read.
void timestamp(std::ostream& out);

#endif  // VELMARD_CORE_LINUX_H
