// Connection control (type 0): the version reply and the login request, as
// both the session (before the login) and the control module (after it)
// answer them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace hostserver {

// The largest message: the data length field has four digits.
inline constexpr size_t kMaxMessageSize = 9999 + 14;
// Below this no reply that the server builds (a column item, an error item)
// is sure to fit.
inline constexpr size_t kMinMessageSize = 256;

// Status "0", two version numbers, the protocol version and the host
// software text (the clients keep it up to its first '.', so it holds no
// other); then, when the host offers long values, the offer
// (common/long_values.h), which a client that does not know it never reads.
std::string version_reply_data(bool offer_long_values = false);

// Login data: "1", the message size asked for in five digits, then the text
// "USER[/PASSWORD][/CHARGE].CONFIG." (or "USER[/PASSWORD]." from the RPC
// library).  A client that asks for offered options begins with "2" and
// names them after the size.
struct LoginRequest {
  size_t asked_size = 0;
  std::string_view text;
  bool asks_long_values = false;
};
std::optional<LoginRequest> parse_login(std::string_view data);

// The user id of a login text, for the log (no password ever), at most 64 bytes.
std::string login_user_for_log(std::string_view text);

}  // namespace hostserver
