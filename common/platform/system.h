// Process and system services that the libraries need from the platform.
// Everything platform-specific lives behind this folder's interfaces.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quarl::platform {

// The calling thread's id, as the trace prints it.
uint32_t current_thread_id();

// The running program's executable path, and its file name alone.
std::string executable_path();
std::string executable_base_name();

// An environment variable, if set.
std::optional<std::string> environment(const char* name);

// Where our own settings files live: $QUARL_PROFILE_DIR, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/quarl.
std::filesystem::path profile_directory();

// A file name without a folder resolves to the profile directory; a name
// with a folder (relative or absolute) is used as it is.
std::filesystem::path resolve_profile_file(std::string_view name);

// The number of the system's last error on this thread (errno).
int last_error();

// Sleeps the calling thread.
void sleep_milliseconds(unsigned milliseconds);

// Lets another thread that is ready to run on this processor go first (a
// thread that polls for a short while yields on each turn).
void yield_thread();

// Waits at most timeout_ms (0 polls) until the socket descriptor can be read
// (or written, with for_write), or is closed or broken; true when it can.
// Any number of threads may wait on one descriptor.
bool wait_socket(int descriptor, bool for_write, int timeout_ms);

// Whether the running user may read the file or folder.
bool can_read(const std::filesystem::path& path);

// From now on a write to a connection or pipe whose reader has gone fails
// with an error instead of ending the process (for a server, whose clients
// and programs may go at any moment).
void survive_broken_pipes();

// Wall-clock local time with milliseconds.
struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
  int day_of_year;  // 1 for 1 January
};
LocalTime local_time_now();

}  // namespace quarl::platform
