#include "common/platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarl::platform {
namespace {

constexpr size_t kMaxPrivateFile = 1 << 20;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> read_private_file(const std::filesystem::path& path, std::string* why) {
  auto fail = [why](const char* reason) -> std::optional<std::string> {
    if (why) *why = reason;
    return std::nullopt;
  };
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (fd.get() < 0) return fail("cannot be opened (or is a symbolic link)");
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("is not a regular file");
  if (st.st_uid != ::geteuid()) return fail("is not owned by the running user");
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return fail("is writable by others");
  if (static_cast<size_t>(st.st_size) > kMaxPrivateFile) return fail("is too large");
  std::string text;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) return fail("cannot be read");
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
    if (text.size() > kMaxPrivateFile) return fail("is too large");
  }
  return text;
}

bool append_private_file(const std::filesystem::path& path, std::string_view text) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace quarl::platform
