#include "common/platform/profile_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/platform/system.h"

namespace quarl::platform {
namespace {

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::string> read_fd(int fd) {
  std::string text;
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

std::optional<std::string> read_profile_file(std::string_view name) {
  std::filesystem::path path = resolve_profile_file(name);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto text = read_fd(fd);
  ::close(fd);
  return text;
}

bool update_profile_file(std::string_view name, const std::function<void(std::string&)>& edit) {
  std::filesystem::path path = resolve_profile_file(name);
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);

  // A failure returns with errno telling why (closing the file must not change it).
  auto fail = [](int fd) {
    int saved = errno;
    if (fd >= 0) ::close(fd);
    errno = saved;
    return false;
  };
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX) != 0) return fail(fd);
    // Another writer may have replaced the file while we waited for the lock.
    struct stat locked {}, current {};
    if (::fstat(fd, &locked) != 0 || ::stat(path.c_str(), &current) != 0 || locked.st_ino != current.st_ino ||
        locked.st_dev != current.st_dev) {
      ::close(fd);
      continue;
    }
    auto text = read_fd(fd);
    if (!text) return fail(fd);
    edit(*text);
    std::filesystem::path temp = path;
    temp += ".tmp" + std::to_string(::getpid());
    int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, locked.st_mode & 07777);
    bool ok = out >= 0 && write_all(out, *text) && ::fsync(out) == 0;
    int saved = errno;
    if (out >= 0) ::close(out);
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
      ok = false;
      saved = errno;
    }
    if (!ok) ::unlink(temp.c_str());
    ::close(fd);
    errno = saved;
    return ok;
  }
  errno = EBUSY;
  return false;
}

}  // namespace quarl::platform
