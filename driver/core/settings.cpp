#include "driver/core/settings.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "common/platform/msgbox.h"
#include "common/platform/profile.h"
#include "common/platform/system.h"

namespace quarl::driver {
DriverSettings detail::settings_in_force;

namespace {

// The shared trace line buffer; used only under the trace lock.
char g_trace_buffer[256];

void read_text(const platform::ProfileDocument& doc, const char* section, const char* key, char (&out)[256]) {
  platform::get_profile_string(doc, section, key, kDefaultTraceFile, out, sizeof out);
}

// 8-bit settings keep the low 8 bits of the number read.
uint8_t read_u8(const platform::ProfileDocument& doc, const char* section, const char* key, int def) {
  return static_cast<uint8_t>(platform::get_profile_int(doc, section, key, def));
}

void vformat_and_write(void (*writer)(std::string_view), const char* format, va_list args) {
  std::lock_guard lock(locks().trace);
  int n = std::vsnprintf(g_trace_buffer, sizeof g_trace_buffer, format, args);
  if (n < 0) return;
  writer(g_trace_buffer);
}

}  // namespace

DriverSettings read_settings(std::string_view file) {
  // Read once: loading the library is part of an application's first connect.
  const platform::ProfileDocument doc = platform::read_profile_document(file);
  DriverSettings s;
  s.xmt_timeout = read_u8(doc, "timeouts", "xmt", 60);
  s.rcv_timeout = read_u8(doc, "timeouts", "rcv", 60);
  s.nonhostmsgerr = read_u8(doc, "odbc", "nonhostmsgerr", 0);
  s.numeric_trailing_zeros = read_u8(doc, "odbc", "numeric trailing zeros", 1);
  s.long_values = read_u8(doc, "odbc", "long values", 1);
  s.full_outer_joins = read_u8(doc, "odbc", "full outer joins", 1);
  s.allowasync = read_u8(doc, "odbc", "allowasync", 0);
  s.allow_usercode_override = read_u8(doc, "odbc", "allow usercode override", 0);
  s.trace = platform::get_profile_int(doc, "general", "trace", 0);
  read_text(doc, "general", "tracefile", s.tracefile);
  s.script_trace = platform::get_profile_int(doc, "script", "trace", 0);
  read_text(doc, "script", "tracefile", s.script_tracefile);
  return s;
}

void load_settings() {
  (void)locks();  // the locks exist from here on
  detail::settings_in_force = read_settings(kSettingsFile);
}

void set_settings(const DriverSettings& s) { detail::settings_in_force = s; }

DriverLocks& locks() {
  // Never destroyed: threads may still trace while the process ends.
  static DriverLocks* l = new DriverLocks;
  return *l;
}

void trace_append(const char* file, std::string_view text) {
  std::FILE* f = std::fopen(file, "ab");
  if (!f) {
    // Once per file and process: a message for every line would bury the
    // user (and with a message box, block every traced call).
    const int error = errno;
    static std::set<std::string>* reported = new std::set<std::string>;  // under the trace lock
    if (!reported->insert(file).second) return;
    std::error_code ec;
    std::filesystem::path where = std::filesystem::absolute(file, ec);
    std::string text = "Cannot append to trace file " + (ec ? std::string(file) : where.string()) + ": " +
                       std::strerror(error) + " (not reported again)";
    platform::message_box(nullptr, text, "", platform::kMbOk | platform::kMbIconError);
    return;
  }
  if (text.size() > kTraceTextMax) text = text.substr(0, kTraceTextMax);
  char line[kTraceTextMax + 2];
  std::memcpy(line, text.data(), text.size());
  line[text.size()] = '\r';
  line[text.size() + 1] = '\n';
  std::fwrite(line, 1, text.size() + 2, f);  // one write: lines of threads never mix
  std::fclose(f);
}

void trace_line(std::string_view text) { trace_append(settings().tracefile, text); }
void script_trace_line(std::string_view text) { trace_append(settings().script_tracefile, text); }

void trace_call(const char* name) {
  std::snprintf(g_trace_buffer, sizeof g_trace_buffer, "%s(%ld)", name,
                static_cast<long>(platform::current_thread_id()));
  trace_line(g_trace_buffer);
}

void tracef(const char* format, ...) {
  if (!tracing()) return;
  va_list args;
  va_start(args, format);
  vformat_and_write(trace_line, format, args);
  va_end(args);
}

void script_tracef(const char* format, ...) {
  if (!script_tracing()) return;
  va_list args;
  va_start(args, format);
  vformat_and_write(script_trace_line, format, args);
  va_end(args);
}

void trace_entry(const char* name) {
  if (!tracing()) return;
  std::lock_guard lock(locks().trace);
  trace_call(name);
}

}  // namespace quarl::driver
