// Owning file descriptor. Copying takes a duplicate, so every owner closes
// its own descriptor and nobody closes one that another still polls.
#ifndef VELMARD_CORE_FD_H
#define VELMARD_CORE_FD_H

class Fd {
 public:
  constexpr Fd() noexcept {}
  // Takes ownership of the descriptor.
  explicit Fd(int fd) noexcept : fd(fd) {}
  Fd(const Fd& other) : fd(other.dup()) {}
  Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
  Fd& operator=(const Fd& other);
  Fd& operator=(Fd&& other) noexcept;
  ~Fd();

  // A new descriptor for the same file, close-on-exec; -1 when empty or
  // when dup(2) fails.
  int dup() const;
  // EBADF and -1 on an empty object, otherwise close(2)'s result.
  int close();
  bool NonBlock() const;

  // Closes the held descriptor and takes ownership of another.
  void reset(int newFd = -1);
  // Gives the descriptor up without closing it.
  int release() noexcept {
    int f = fd;
    fd = -1;
    return f;
  }

  int get() const noexcept { return fd; }
  explicit operator bool() const noexcept { return fd >= 0; }

  int fd = -1;
};

bool NonBlockMode(int fd);
bool BlockMode(int fd);
void SetCloexec(int fd, bool on);

#endif  // VELMARD_CORE_FD_H
