// Login scripts: send, receive and time-out commands talked over the raw
// provider link before HostMessages flow ("[connect]") and before the link is
// dropped ("[disconnect]").  The script file is named in section "script" of
// "quarl.ini" by provider and connection name.
#pragma once

#include <sql.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace quarl::driver {

struct ConnBlock;

inline constexpr size_t kScriptLineMax = 255;
inline constexpr uint8_t kScriptDefaultTimeout = 10;
// What the script trace writes in place of a password.
inline constexpr const char* kMaskedPassword = "********";

SQLRETURN run_connect_script(ConnBlock& conn, std::string_view uid, std::string_view pwd,
                             std::string_view provider, std::string_view connection);
SQLRETURN run_disconnect_script(ConnBlock& conn);
// Runs commands from the current line of the open script file up to the
// first empty line or line that is not a command.
SQLRETURN run_script_section(ConnBlock& conn, std::string_view uid, std::string_view pwd);
// One line without its line end (CRs dropped, at most 255 characters kept);
// an empty result stands for an empty line and for the end of the file.
std::string script_read_line(std::FILE* file);

}  // namespace quarl::driver
