#include "common/platform/system.h"

#include <poll.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace quarl::platform {

uint32_t current_thread_id() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

std::string executable_path() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

std::string executable_base_name() { return std::filesystem::path(executable_path()).filename().string(); }

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::filesystem::path profile_directory() {
  if (auto dir = environment("QUARL_PROFILE_DIR"); dir && !dir->empty()) return *dir;
  if (auto xdg = environment("XDG_CONFIG_HOME"); xdg && !xdg->empty()) return std::filesystem::path(*xdg) / "quarl";
  auto home = environment("HOME");
  return std::filesystem::path(home && !home->empty() ? *home : ".") / ".config" / "quarl";
}

std::filesystem::path resolve_profile_file(std::string_view name) {
  std::filesystem::path path{std::string(name)};
  if (!path.has_parent_path()) return profile_directory() / path;
  return path;
}

int last_error() { return errno; }

void sleep_milliseconds(unsigned milliseconds) { ::usleep(static_cast<useconds_t>(milliseconds) * 1000u); }

void yield_thread() { ::sched_yield(); }

bool wait_socket(int descriptor, bool for_write, int timeout_ms) {
  pollfd p{descriptor, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
  for (;;) {
    int n = ::poll(&p, 1, timeout_ms);
    if (n > 0) return true;  // ready, or hung up / failed: the next read or write tells
    if (n == 0) return false;
    if (errno != EINTR) return true;
  }
}

LocalTime local_time_now() {
  struct timeval tv {};
  ::gettimeofday(&tv, nullptr);
  struct tm parts {};
  time_t seconds = tv.tv_sec;
  ::localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                   parts.tm_sec, static_cast<int>(tv.tv_usec / 1000), parts.tm_yday + 1};
}

bool can_read(const std::filesystem::path& path) { return ::access(path.c_str(), R_OK) == 0; }

void survive_broken_pipes() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace quarl::platform
