// The steps of a host session above the envelope: the version exchange
// (type 0, code 0) and the login (type 0, code 1 for the driver, code 6 for
// host procedure calls).  Each step returns what happened; the driver and
// the RPC library word it for their callers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "hostlink/host_channel.h"

namespace quarl::hostlink {

// ---- version ----

// What the version reply tells after its status digit: 2, 3 and 3 digits
// (the last is the protocol version), then the host software's text up to ".".
struct HostVersion {
  unsigned first = 0, second = 0, protocol = 0;
  std::string software;
  // The host offers long and binary values after the text (common/long_values.h).
  bool offers_long_values = false;
};

// The version reply's data after the status digit; nullopt when it is too
// short to hold the three numbers.  Numbers are read leniently (leading
// blanks skipped, a field without digits reads as 0).
std::optional<HostVersion> parse_version_reply(std::string_view after_status);
// "Host(%d)/Micro(%d) protocol version mismatch" for the host's protocol version.
std::string version_mismatch_text(unsigned host_protocol);

struct VersionCheck {
  enum Result {
    Ok,
    ExchangeFailed,  // the request could not be sent or no reply came (reply.outcome())
    Refused,         // status other than 0 (the reply is held for its items)
    Malformed,       // status 0 but no version numbers
    Mismatch,        // the host speaks another protocol version
  } result = ExchangeFailed;
  Reply reply;
  HostVersion version;

  // With ExchangeFailed: why a host may have turned the client away, to
  // follow the caller's message: " (the host said: TEXT)" when it sent a
  // text of its own before it ended the link, else " (PROVIDER'S WORDS; the
  // server may be busy, with all the clients it takes)" when the link
  // failed (a Host Server with no room ends the link without a word); empty
  // when there is nothing to tell.
  std::string refusal_detail() const;
};

// Drops whatever is waiting, forgets the last received sequence character
// and asks the host for its version.
VersionCheck exchange_versions(HostChannel& channel, const ReceiveOptions& options);

// ---- login ----

enum class LoginKind {
  Database,    // type 0 code 1: user id, password, charge code, client configuration
  Procedures,  // type 0 code 6: user id and password
};

struct LoginFields {
  std::string_view user, password;     // the password in clear
  std::string_view charge_code;        // Database logins only
  std::string_view client_config;      // Database logins only
};

// The login data: "1", the message size in 5 digits, the user id, "/" and
// the password unless it is empty or begins with ".", (Database:) "/" and
// the charge code unless it is empty, ".", (Database:) the client
// configuration and "."; all upper-cased.  With ask_long_values (only for a
// host that offered them) the data begin "2" and the ask follows the size.
std::string login_data(LoginKind kind, size_t message_size, const LoginFields& fields, bool ask_long_values = false);

struct LoginCheck {
  enum Result {
    Ok,
    TooLong,         // the login data do not fit one message
    ExchangeFailed,  // reply.outcome() tells why
    Refused,         // status other than 0 (the reply is held for its items)
    Malformed,       // status 0 without the granted message size
    UnusableSize,    // the granted size leaves no room for data
  } result = ExchangeFailed;
  Reply reply;
  size_t granted = 0;  // the message size the host granted
  // Long values were asked for and granted: the largest value the host stores.
  std::optional<uint64_t> long_value_limit;
};

// Sends the login and, when the host accepts it, takes the message size it
// grants (never more than the send buffer holds).  ask_long_values: the
// host offered long values in its version reply and the caller wants them.
LoginCheck log_in(HostChannel& channel, LoginKind kind, const LoginFields& fields, const ReceiveOptions& options,
                  bool ask_long_values = false);

}  // namespace quarl::hostlink
