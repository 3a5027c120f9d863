// Replacing a file by a new one written whole beside it.
#include "write/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace kelvora {
namespace {

// A file descriptor, closed when dropped unless closed before.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ != -1) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes it; the error number of a failed close (written data may have been lost), or 0.
  int close() {
    const int result = ::close(std::exchange(fd_, -1));
    return result == -1 && errno != EINTR ? errno : 0;
  }

 private:
  int fd_;
};

// A file removed when dropped, unless kept (or null). Holds the caller's path, not a copy:
// nothing that can fail stands between making a file and guarding it.
class Removal {
 public:
  explicit Removal(const char* path) : path_(path) {}
  Removal(const Removal&) = delete;
  Removal& operator=(const Removal&) = delete;
  ~Removal() {
    if (path_ != nullptr) unlink(path_);
  }
  void keep() { path_ = nullptr; }

 private:
  const char* path_;
};

int open_file(const char* path, int flags, void (*on_interrupt)()) {
  for (;;) {
    const int fd = open(path, flags | O_CLOEXEC, 0666);
    if (fd != -1 || errno != EINTR) return fd;
    on_interrupt();
  }
}

// 0, an error number, or write_zero.
int write_all(int fd, std::string_view text, void (*on_interrupt)()) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written > 0) {
      text.remove_prefix(static_cast<std::size_t>(written));
    } else if (written == 0) {
      return write_zero;
    } else if (errno == EINTR) {
      on_interrupt();
    } else {
      return errno;
    }
  }
  return 0;
}

// Writes through the descriptor of the opened target, emptied first when `empty`.
int write_in_place(Descriptor& target, std::string_view text, bool empty, void (*on_interrupt)()) {
  if (empty && ftruncate(target.get(), 0) == -1) return errno;
  const int failure = write_all(target.get(), text, on_interrupt);
  const int closing = target.close();
  return failure != 0 ? failure : closing;
}

}  // namespace

int replace_file(const char* path, std::string_view text, void (*on_interrupt)()) {
  bool created = true;
  int fd = open_file(path, O_WRONLY | O_CREAT | O_EXCL, on_interrupt);
  if (fd == -1 && errno == EEXIST) {
    created = false;
    fd = open_file(path, O_WRONLY | O_CREAT, on_interrupt);
  }
  if (fd == -1) return errno;
  Descriptor target(fd);
  Removal created_target(created ? path : nullptr);
  struct stat old;
  if (fstat(fd, &old) == -1) return errno;
  if (!S_ISREG(old.st_mode)) {
    created_target.keep();
    return write_in_place(target, text, false, on_interrupt);
  }

  // Where no file can be made beside it, the file is emptied and written in place.
  auto in_place = [&] {
    const int failure = write_in_place(target, text, true, on_interrupt);
    if (failure == 0) created_target.keep();
    return failure;
  };
  // The new file goes beside the file itself, not beside a link to it.
  const std::unique_ptr<char, void (*)(void*)> real(realpath(path, nullptr), std::free);
  if (!real) {
    if (errno == ENOMEM) throw std::bad_alloc();
    return in_place();
  }
  const std::string_view real_path = real.get();
  const std::size_t slash = real_path.rfind('/');
  std::string temporary = std::string(real_path.substr(0, slash + 1)) + '.' +
                          std::string(real_path.substr(slash + 1)) + ".XXXXXX";
  const int temporary_fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (temporary_fd == -1) return in_place();
  Descriptor written(temporary_fd);
  Removal written_file(temporary.c_str());
  // The owner may differ only where this process may change it (as root); the mode always.
  if (fchown(temporary_fd, old.st_uid, old.st_gid) == -1) {
    // Not permitted: the new file stays this process's.
  }
  if (fchmod(temporary_fd, old.st_mode & 07777) == -1) return errno;
  if (const int failure = write_all(temporary_fd, text, on_interrupt); failure != 0) return failure;
  if (const int failure = written.close(); failure != 0) return failure;
  if (rename(temporary.c_str(), real.get()) == -1) return errno;
  written_file.keep();
  created_target.keep();
  return 0;
}

}  // namespace kelvora
