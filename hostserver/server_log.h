// The server's log for its operator: one line per event (a connection, a
// login that succeeded or failed, a refusal, an error, the shutdown), never
// a password.  Standard error by default, a file with --log FILE, nothing
// with --quiet.  Safe to call from every thread.
#pragma once

#include <string>
#include <string_view>

namespace hostserver {

struct LogOptions {
  std::string file;  // empty: standard error
  bool quiet = false;
};

// Opens the log (the file is appended to); false with the reason in error.
bool open_log(const LogOptions& options, std::string& error);

// "2025-01-31T12:00:00.123Z EVENT text": event is one word, text the rest.
// Control characters in the text (a client's user id may hold any byte)
// become '?', and very long texts are cut.
void log_line(std::string_view event, std::string_view text);

// "1 second", "30 seconds": for messages and the log.
std::string seconds_text(long long n);

}  // namespace hostserver
