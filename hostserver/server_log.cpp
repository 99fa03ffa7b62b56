#include "hostserver/server_log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include <fmt/chrono.h>
#include <fmt/format.h>

namespace hostserver {
namespace {

constexpr size_t kMaxText = 1000;

std::mutex g_mutex;
std::FILE* g_file = nullptr;  // null: standard error
std::atomic<bool> g_quiet{false};

}  // namespace

bool open_log(const LogOptions& options, std::string& error) {
  std::lock_guard lock(g_mutex);
  g_quiet = options.quiet;
  if (options.file.empty() || options.quiet) return true;
  std::FILE* f = std::fopen(options.file.c_str(), "ae");
  if (!f) {
    error = "cannot open the log file " + options.file;
    return false;
  }
  if (g_file) std::fclose(g_file);
  g_file = f;
  return true;
}

void log_line(std::string_view event, std::string_view text) {
  if (g_quiet) return;
  using namespace std::chrono;
  auto now = system_clock::now();
  auto seconds = floor<std::chrono::seconds>(now);
  auto millis = duration_cast<milliseconds>(now - seconds).count();
  std::string line = fmt::format("{:%Y-%m-%dT%H:%M:%S}.{:03}Z {} ", seconds, millis, event);
  for (char c : text.substr(0, kMaxText)) line += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  if (text.size() > kMaxText) line += "...";
  line += '\n';
  std::lock_guard lock(g_mutex);
  if (g_quiet) return;
  std::FILE* f = g_file ? g_file : stderr;
  std::fwrite(line.data(), 1, line.size(), f);
  std::fflush(f);
}

std::string seconds_text(long long n) { return std::to_string(n) + (n == 1 ? " second" : " seconds"); }

}  // namespace hostserver
