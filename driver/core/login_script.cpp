#include "driver/core/login_script.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <new>
#include <vector>

#include "common/digits.h"
#include "common/platform/profile.h"
#include "common/text.h"
#include "driver/core/diag.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/settings.h"

namespace quarl::driver {
namespace {

inline constexpr size_t kScriptPathMax = 254;

std::string lookup_script(const std::string& key) {
  script_tracef("read quarl.ini file for %s", key.c_str());
  std::string path = platform::get_private_profile_string("script", key, "", kSettingsFile);
  if (path.size() > kScriptPathMax) path.resize(kScriptPathMax);
  return path;
}

// Reads lines until one begins with header; false when an empty line or the
// end of the file comes first.
bool find_section(std::FILE* file, std::string_view header) {
  for (;;) {
    std::string line = script_read_line(file);
    if (line.empty()) return false;
    if (istarts_with(line, header)) return true;
  }
}

// The text between the first double quote after from and the next one (or
// the end of the line); nullopt without a double quote.
std::optional<std::string_view> quoted(std::string_view line, size_t from) {
  size_t open = line.find('"', from);
  if (open == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(open + 1);
  return rest.substr(0, rest.find('"'));
}

}  // namespace

std::string script_read_line(std::FILE* file) {
  std::string line;
  if (file) {
    for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) {
      if (c == '\r') continue;
      if (line.size() < kScriptLineMax) line.push_back(static_cast<char>(c));
    }
  }
  script_tracef("script line ln=%d text=%s", static_cast<int>(line.size()), line.c_str());
  return line;
}

SQLRETURN run_connect_script(ConnBlock& conn, std::string_view uid, std::string_view pwd,
                             std::string_view provider, std::string_view connection) {
  PhysComm& p = *conn.link;
  std::string path = lookup_script(std::string(provider) + "_" + std::string(connection) + "_scriptfile");
  if (path.empty()) {
    script_tracef("No script file for path specified");
    path = lookup_script(std::string(provider) + "_scriptfile");
    if (path.empty()) {
      script_tracef("No script file for provider specified");
      p.script.reset();
      return SQL_SUCCESS;
    }
  }
  script_tracef("Attempting to open script file %s", path.c_str());
  p.script.reset(std::fopen(path.c_str(), "rb"));
  if (!p.script) {
    script_tracef("Cannot open script file %s", path.c_str());
    return post(conn.errors, SQL_ERROR, kErrUnableToConnect, "Cannot open script file");
  }
  if (!find_section(p.script.get(), "[connect]")) return SQL_SUCCESS;
  SQLRETURN rc = run_script_section(conn, uid, pwd);
  script_tracef("after processing CONNECT ret=%d", static_cast<int>(rc));
  return rc;
}

SQLRETURN run_disconnect_script(ConnBlock& conn) {
  PhysComm* p = conn.link;
  if (!p || !p->script) return SQL_SUCCESS;
  std::rewind(p->script.get());
  if (!find_section(p->script.get(), "[disconnect]")) {
    script_tracef("no disconnect");
    p->script.reset();
    return SQL_SUCCESS;
  }
  script_tracef("processing script disconnect");
  run_script_section(conn, "", "");  // its result does not change the disconnect
  drain_host_msgs(conn);
  p->script.reset();
  return SQL_SUCCESS;
}

SQLRETURN run_script_section(ConnBlock& conn, std::string_view uid, std::string_view pwd) {
  PhysComm& p = *conn.link;
  std::vector<char> transmit;
  try {
    transmit.resize(p.message_size);
  } catch (const std::bad_alloc&) {
    script_tracef("Cannot get script transmit buffer");
    return post(conn.errors, SQL_ERROR, kErrUnableToConnect, "Cannot get script transmit buffer");
  }
  uint8_t timeout = kScriptDefaultTimeout;
  bool previous_timed_out = false;

  for (;;) {
    if (!p.script) return SQL_SUCCESS;
    std::string line = script_read_line(p.script.get());
    if (line.empty()) return SQL_SUCCESS;

    if (istarts_with(line, "send")) {
      previous_timed_out = false;
      auto text = quoted(line, 4);
      if (!text) continue;
      // What is sent, and what the trace shows: the password never in clear.
      std::string out, shown;
      for (size_t i = 0; i < text->size();) {
        std::string_view rest = text->substr(i);
        if (istarts_with(rest, "#userid")) {
          script_tracef("insert userid=%.*s", static_cast<int>(uid.size()), uid.data());
          out += uid;
          shown += uid;
          i += 7;
        } else if (istarts_with(rest, "#password")) {
          script_tracef("insert password=%s", kMaskedPassword);
          out += pwd;
          shown += kMaskedPassword;
          i += 9;
        } else {
          out += rest[0];
          shown += rest[0];
          ++i;
        }
      }
      if (out.size() > transmit.size())
        return post(conn.errors, SQL_ERROR, kErrUnableToConnect, "Script send text too long for the link");
      std::copy(out.begin(), out.end(), transmit.begin());
      script_tracef("send len=%d text=%s", static_cast<int>(out.size()), shown.c_str());
      if (p.link.send_raw(transmit.data(), static_cast<uint16_t>(out.size()), timeout) != 0)
        return post(conn.errors, SQL_ERROR, kErrUnableToConnect, "Transmit error in script connect");
    } else if (istarts_with(line, "receive")) {
      if (previous_timed_out) {
        script_tracef("previous timed out, skip this receive");
        continue;
      }
      auto pattern = quoted(line, 7);
      if (pattern)
        script_tracef("receive len=%d ->%.*s<-", static_cast<int>(pattern->size()),
                      static_cast<int>(pattern->size()), pattern->data());
      else
        script_tracef("match anything");
      for (;;) {
        std::string_view got;
        uint8_t rc = p.link.receive_raw(got, timeout);
        if (rc == TELLIX_TIMEOUT) {
          script_tracef("receive timed out");
          previous_timed_out = true;
          break;
        }
        if (rc != 0) {
          p.script.reset();
          return post(conn.errors, SQL_ERROR, kErrUnableToConnect, "receive error in script");
        }
        std::string head(got.substr(0, 50));
        script_tracef("received %s", head.c_str());
        bool matched = !pattern || got.find(*pattern) != std::string_view::npos;
        if (pattern && matched) script_tracef("receive matched!");
        p.link.release_raw();
        if (matched) break;
      }
    } else if (istarts_with(line, "timeout")) {
      size_t digit = 7;
      while (digit < line.size() && !std::isdigit(static_cast<unsigned char>(line[digit]))) ++digit;
      if (digit >= line.size()) continue;
      timeout = static_cast<uint8_t>(get_digits(line.data() + digit, static_cast<int>(line.size() - digit)));
      script_tracef("timeout set to %d", static_cast<int>(timeout));
    } else {
      return SQL_SUCCESS;  // not a command: the section ends
    }
  }
}

}  // namespace quarl::driver
