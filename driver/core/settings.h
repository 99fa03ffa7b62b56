// Process-wide settings of the driver, read once from "quarl.ini" when the
// library is loaded, the four process-wide locks, and the trace writers.
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

namespace quarl::driver {

inline constexpr const char* kSettingsFile = "quarl.ini";
inline constexpr const char* kDefaultTraceFile = "quarl.txt";

struct DriverSettings {
  uint8_t xmt_timeout = 60;             // "timeouts"/"xmt"
  uint8_t rcv_timeout = 60;             // "timeouts"/"rcv"
  uint8_t nonhostmsgerr = 0;            // "odbc"/"nonhostmsgerr"
  uint8_t numeric_trailing_zeros = 1;   // "odbc"/"numeric trailing zeros"
  uint8_t full_outer_joins = 1;         // "odbc"/"full outer joins"
  uint8_t allowasync = 0;               // "odbc"/"allowasync"
  uint8_t allow_usercode_override = 0;  // "odbc"/"allow usercode override"
  uint8_t long_values = 1;              // "odbc"/"long values": ask a host that offers them
  int32_t trace = 0;                    // "general"/"trace"
  char tracefile[256] = "quarl.txt";    // "general"/"tracefile"
  int32_t script_trace = 0;             // "script"/"trace"
  char script_tracefile[256] = "quarl.txt";  // "script"/"tracefile"
};

// Reads every key of "quarl.ini" (a missing file or key gives its default).
// Runs once when the library is loaded; tests call it again after changing
// the file.
void load_settings();
// Reads the settings from the named profile file without installing them.
DriverSettings read_settings(std::string_view file);
namespace detail {
// The settings in force (load_settings, set_settings).
extern DriverSettings settings_in_force;
}  // namespace detail
// Inline: every fetched row asks whether it is traced.
inline const DriverSettings& settings() { return detail::settings_in_force; }
// Replaces the settings in force (tests).
void set_settings(const DriverSettings& s);

// The four process-wide locks.  When nested they are taken in this order:
// driver-connect, sub connection, link list, trace (innermost).
struct DriverLocks {
  std::mutex driver_connect;  // one whole SQLDriverConnect (one dialog at a time)
  std::mutex sub_connection;  // SubConnection list and sub id table
  std::mutex link_list;       // PhysComm list
  std::mutex trace;           // trace files and the shared trace line buffer
};
DriverLocks& locks();

// Trace writers; callers test the trace flag and hold the trace lock.
// A line holds at most 253 characters of text; longer texts are cut.
inline constexpr size_t kTraceTextMax = 253;
void trace_append(const char* file, std::string_view text);
void trace_line(std::string_view text);
void script_trace_line(std::string_view text);

// "%s(%ld)" with the entry point name and the thread id; caller holds the lock.
void trace_call(const char* name);

inline bool tracing() { return settings().trace != 0; }
inline bool script_tracing() { return settings().script_trace != 0; }

// The convention in one place: when the flag is on, take the trace lock,
// format into the shared trace line buffer and write the line.  Nothing is
// formatted while tracing is off.
void tracef(const char* format, ...) __attribute__((format(printf, 1, 2)));
void script_tracef(const char* format, ...) __attribute__((format(printf, 1, 2)));
// trace_call under the trace lock, when tracing.
void trace_entry(const char* name);

}  // namespace quarl::driver
