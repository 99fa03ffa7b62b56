// What the client-side fuzz targets share: a private configuration whose
// tellix.ini names the scripted provider, replies with the host's rolling
// sequence characters, and emptying an ODBC handle's diagnostics.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <utility>

#include "tests/fuzz/fuzz_support.h"

namespace fuzz {

// A work folder with profile/tellix.ini (the scripted provider), odbc.ini,
// odbcinst.ini and profile/quarl.ini as given; the process's variables
// point at them.
inline std::filesystem::path client_files(const char* name, const std::string& odbc_ini = "",
                                          const std::string& quarl_ini = "") {
  auto dir = work_dir(name);
  std::filesystem::create_directories(dir / "profile");
  write_file(dir / "profile" / "tellix.ini", std::string("[providers]\nScripted=") + QUARL_FUZZ_SCRIPTED_PROVIDER + "\n");
  if (!quarl_ini.empty()) write_file(dir / "profile" / "quarl.ini", quarl_ini);
  write_file(dir / "odbc.ini", odbc_ini);
  write_file(dir / "odbcinst.ini", "");
  ::setenv("QUARL_PROFILE_DIR", (dir / "profile").c_str(), 1);
  ::setenv("ODBCSYSINI", dir.c_str(), 1);
  ::setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
  return dir;
}

// The type and code of a HostMessage a client sent; nullopt for other bytes.
inline std::optional<std::pair<unsigned, unsigned>> request_kind(const std::string& bytes) {
  if (bytes.size() < 14 || bytes.compare(0, 3, "#@!") != 0) return std::nullopt;
  return std::make_pair(unsigned(bytes[6] - '0'),
                        unsigned((bytes[7] - '0') * 100 + (bytes[8] - '0') * 10 + (bytes[9] - '0')));
}

// The host's messages, with its own rolling sequence characters.
struct HostSide {
  char sequence = '0';
  std::string message(unsigned type, unsigned code, std::string_view data) {
    std::string m = host_message(sequence, 0, type, code, data);
    sequence = next_sequence(sequence);
    return m;
  }
};

// Record mode: sends the client's message to a real server and returns the
// messages it answers with (those that arrive before it goes quiet); when
// recorded is given, the replies are appended to it as records.
inline std::vector<std::string> forward(int server, const std::string& bytes, std::string* recorded) {
  std::string in;
  exchange(server, frame(bytes), in);
  receive_until(server, in, [](std::string&) { return false; }, 300);
  auto replies = take_frames(in);
  if (recorded)
    for (auto& body : replies)
      if (auto kind = request_kind(body)) *recorded += write_record(uint8_t(kind->first), uint8_t(kind->second), body.substr(14));
  return replies;
}

inline constexpr const char* kVersionReply = "005000021Quarl Host V5R0M5.";

inline void drain_diagnostics(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  SQLCHAR state[6], text[600];
  SQLINTEGER native;
  SQLSMALLINT length;
  for (int i = 0; i < 20 && SQLError(env, dbc, stmt, state, &native, text, sizeof text, &length) != SQL_NO_DATA_FOUND;
       ++i) {
  }
}

}  // namespace fuzz
