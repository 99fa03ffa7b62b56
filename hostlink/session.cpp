#include "hostlink/session.h"

#include <cstring>

#include "common/digits.h"
#include "common/long_values.h"
#include "common/text.h"

namespace quarl::hostlink {

namespace code = hostmsg::code;

std::optional<HostVersion> parse_version_reply(std::string_view after_status) {
  if (after_status.size() < 8) return std::nullopt;
  HostVersion v;
  v.first = read_number_field(after_status.data(), 2);
  v.second = read_number_field(after_status.data() + 2, 3);
  v.protocol = read_number_field(after_status.data() + 5, 3);
  std::string_view text = after_status.substr(8);
  v.software = std::string(text.substr(0, text.find('.')));
  v.offers_long_values = longvalues::offered(after_status);
  return v;
}

std::string version_mismatch_text(unsigned host_protocol) {
  return "Host(" + std::to_string(host_protocol) + ")/Micro(" + std::to_string(hostmsg::kProtocolVersion) +
         ") protocol version mismatch";
}

VersionCheck exchange_versions(HostChannel& channel, const ReceiveOptions& options) {
  VersionCheck check;
  channel.drain();
  channel.last_sequence = ' ';
  check.reply = channel.transact(hostmsg::kControl, code::kVersion, 0, options);
  if (!check.reply) {
    check.result = VersionCheck::ExchangeFailed;
    return check;
  }
  if (check.reply.rc() != hostmsg::kRcSuccess) {
    check.result = VersionCheck::Refused;
    return check;
  }
  std::optional<HostVersion> version = parse_version_reply(check.reply.after_status());
  check.reply.release();
  if (!version) {
    check.result = VersionCheck::Malformed;
    return check;
  }
  check.version = std::move(*version);
  check.result = check.version.protocol == hostmsg::kProtocolVersion ? VersionCheck::Ok : VersionCheck::Mismatch;
  return check;
}

std::string VersionCheck::refusal_detail() const {
  if (result != ExchangeFailed) return {};
  if (!reply.skipped_text().empty()) return " (the host said: " + reply.skipped_text() + ")";
  if (!reply.provider_error().empty())
    return " (" + reply.provider_error() + "; the server may be busy, with all the clients it takes)";
  return {};
}

std::string login_data(LoginKind kind, size_t message_size, const LoginFields& fields, bool ask_long_values) {
  char size[5];
  put_digits(size, 5, message_size);
  std::string data(1, ask_long_values ? longvalues::kLoginWithOptions : '1');
  data.append(size, 5);
  if (ask_long_values) data += longvalues::ask();
  data += fields.user;
  if (!fields.password.empty() && fields.password[0] != '.') {
    data += '/';
    data += fields.password;
  }
  if (kind == LoginKind::Database && !fields.charge_code.empty()) {
    data += '/';
    data += fields.charge_code;
  }
  data += '.';
  if (kind == LoginKind::Database) {
    data += fields.client_config;
    data += '.';
  }
  return to_upper(data);
}

LoginCheck log_in(HostChannel& channel, LoginKind kind, const LoginFields& fields, const ReceiveOptions& options,
                  bool ask_long_values) {
  LoginCheck check;
  std::string data = login_data(kind, channel.message_size(), fields, ask_long_values);
  if (data.size() > channel.max_data_length()) {
    check.result = LoginCheck::TooLong;
    return check;
  }
  std::memcpy(channel.out(), data.data(), data.size());
  unsigned login_code = kind == LoginKind::Database ? code::kLogin : code::kRpcLogin;
  check.reply = channel.transact(hostmsg::kControl, login_code, data.size(), options);
  if (!check.reply) {
    check.result = LoginCheck::ExchangeFailed;
    return check;
  }
  if (check.reply.rc() != hostmsg::kRcSuccess) {
    check.result = LoginCheck::Refused;
    return check;
  }
  std::string_view granted = check.reply.after_status();
  if (granted.size() < 5) {
    check.reply.release();
    check.result = LoginCheck::Malformed;
    return check;
  }
  // The host grants the message size; never more than the send buffer holds.
  check.granted = read_number_field(granted.data(), 5);
  if (ask_long_values) check.long_value_limit = longvalues::granted(granted.substr(5));
  check.reply.release();
  if (check.granted <= hostmsg::kHeaderSize) {
    check.result = LoginCheck::UnusableSize;
    return check;
  }
  channel.set_message_size(check.granted);
  check.result = LoginCheck::Ok;
  return check;
}

}  // namespace quarl::hostlink
