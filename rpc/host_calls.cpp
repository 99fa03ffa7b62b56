#include "rpc/host_calls.h"

#include <fmt/format.h>
#include <odbcinst.h>

#include <algorithm>
#include <cstring>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "common/scramble.h"
#include "common/text.h"
#include "rpc/item_list.h"

namespace quarl::rpc {
namespace {

namespace code = hostmsg::code;

// The RPC conversation takes every message the host sends: no message code
// is filtered out, and text from other sources is passed over.
constexpr HostChannel::Options kReceiveOptions{false, false};

// Reads a numeric field leniently from a message that may be shorter than
// the field: missing bytes count as blanks.
uint32_t field_number(const char* data, size_t length, size_t offset, int width) {
  char field[8];
  std::memset(field, ' ', sizeof field);
  if (offset < length) std::memcpy(field, data + offset, std::min<size_t>(width, length - offset));
  return read_number_field(field, width);
}

// The value of key in the data source's section of "odbc.ini" (empty when
// missing), at most 255 characters.
std::string read_dsn_key(const std::string& dsn, const char* key) {
  if (dsn.empty()) return {};
  char value[256] = {};
  if (SQLGetPrivateProfileString(dsn.c_str(), key, "", value, sizeof value, "odbc.ini") < 0) return {};
  value[sizeof value - 1] = '\0';
  return value;
}

}  // namespace

// ---- CommInt ----

CommInt::~CommInt() {
  if (link_->loaded) (void)link_.release();  // deliberately not closed
}

Status CommInt::fail(std::string message) {
  channel_.release();
  error_ = std::move(message);
  return kFailed;
}

Status CommInt::fail_open(std::string message) {
  channel_.detach();
  link_->close();
  return fail(std::move(message));
}

bool CommInt::send(unsigned type, unsigned code_digits, size_t length) {
  return channel_.send(type, code_digits, length, channel_.transmit_timeout);
}

bool CommInt::receive() {
  // A time-out lowers the channel's receive time-out to 10 for later receives.
  return channel_.receive(channel_.receive_timeout, kReceiveOptions) == HostChannel::Recv::Ok;
}

char CommInt::reply_status() const { return channel_.length > 0 ? channel_.data[0] : '\0'; }

std::string CommInt::reply_error_text(std::string_view fallback) const {
  // Status digit, a four-digit index (not looked at), a four-digit text
  // length, then the text.
  const char* d = channel_.data;
  size_t n = channel_.length;
  if (n > 9) {
    size_t length = std::min<size_t>(field_number(d, n, 5, 4), n - 9);
    if (length > 0) return std::string(d + 9, length);
  }
  return std::string(fallback);
}

Status CommInt::open(const std::string& provider, const std::string& connection, const std::string& user,
                     const std::string& stored_password) {
  error_.clear();
  if (open_) {
    link_->disconnect();
    open_ = false;
    channel_.detach();
    link_->close_and_unload();
  }

  switch (link_->open(provider.c_str(), connection.c_str())) {
    case ProviderStep::None: break;
    case ProviderStep::Find: return fail("Invalid provider " + provider);
    case ProviderStep::Load: return fail("Cannot open provider: " + provider);
    case ProviderStep::Open: return fail("Cannot initialize provider: " + provider);
    case ProviderStep::Connect:
      if (!link_->connect_error.empty())
        return fail(fmt::format("Cannot open connection {} of provider {}: {}", connection, provider,
                                link_->connect_error));
      return fail(fmt::format("Cannot open connection {} ({})", connection, int(link_->connect_result)));
  }

  // A fresh message buffer: "#@!" and the sequence digit 9.
  if (!channel_.attach(&link_->table, link_->handle, link_->message_size()))
    return fail_open("Cannot get a host buffer");
  channel_.sub_id = 0;
  channel_.next_sequence = '9';

  // Version check.
  channel_.drain();
  channel_.last_sequence = ' ';
  if (!send(hostmsg::kControl, code::kVersion, 0) || !receive()) {
    std::string text = "Cannot get host server version";
    // What a host that turns the client away said; a host that ends the link
    // without a word is what a Host Server does to a client it has no room for.
    if (!channel_.skipped_text.empty())
      text += " (the host said: " + channel_.skipped_text + ")";
    else if (!channel_.error_text.empty())
      text += " (" + channel_.error_text + "; the server may be busy, with all the clients it takes)";
    return fail_open(text);
  }
  if (reply_status() != '0') return fail_open("Cannot get host version");
  host_version_[0] = field_number(channel_.data, channel_.length, 1, 2);
  host_version_[1] = field_number(channel_.data, channel_.length, 3, 3);
  host_version_[2] = field_number(channel_.data, channel_.length, 6, 3);
  if (host_version_[2] != hostmsg::kProtocolVersion)
    return fail_open(fmt::format("Host({})/Micro({}) protocol version mismatch", host_version_[2],
                                 hostmsg::kProtocolVersion));
  channel_.release();

  // Login: "1", the message buffer size, the user id, "/" and the clear
  // password unless it is empty or begins with ".", then "."; upper-cased.
  std::string password = scramble(stored_password);
  std::string login = "1";
  char size_digits[5];
  put_digits(size_digits, 5, channel_.buffer_size());
  login.append(size_digits, 5);
  login += user;
  if (!password.empty() && password[0] != '.') login += "/" + password;
  login += ".";
  login = to_upper(login);
  if (login.size() > channel_.max_data_length())
    return fail_open("Cannot Login to host server: the user id and password do not fit in one host message");
  std::memcpy(channel_.out(), login.data(), login.size());
  if (!send(hostmsg::kControl, code::kRpcLogin, login.size()) || !receive())
    return fail_open("Cannot Login to host server");
  if (reply_status() != '0') return fail_open(reply_error_text("Cannot Login to host server"));

  // The host grants the message size in the login reply; messages never
  // grow beyond the buffer allocated above.
  channel_.set_message_size(field_number(channel_.data, channel_.length, 1, 5));
  channel_.release();
  open_ = true;
  return kOk;
}

Status CommInt::close() {
  error_.clear();
  if (!open_) return fail("There is not a connection open");
  link_->disconnect();
  open_ = false;
  channel_.detach();
  link_->close_and_unload();
  return kOk;
}

Status CommInt::call(std::string_view library, std::string_view entry_point, char* area, size_t trimmed,
                     size_t full, bool coroutine) {
  if (!open_) return fail("There is not a connection open");
  const std::string lib = to_upper(library), entry = to_upper(entry_point);
  const unsigned k = coroutine ? code::kCoroutineCall : code::kProcedureCall;
  const size_t capacity = channel_.max_data_length();
  // First block: 2 bytes, the names with their 4-digit lengths, the area's
  // length and the chunk length in 5 digits each.
  const size_t first_fixed = 2 + 4 + lib.size() + 4 + entry.size() + 5 + 5;
  if (first_fixed > capacity)
    return fail(fmt::format("Library and entry point names do not fit in a host message of {} bytes",
                            channel_.message_size()));
  const size_t first_room = capacity - first_fixed;
  const size_t next_room = capacity - 7;
  trimmed = std::min(trimmed, full);

  size_t sent = 0;
  for (bool first = true;; first = false) {
    size_t chunk = std::min(first ? first_room : next_room, trimmed - sent);
    bool last = sent + chunk == trimmed;
    char* out = channel_.out();
    size_t at = 0;
    out[at++] = first ? '1' : '0';
    out[at++] = last ? '1' : '0';
    if (first) {
      put_digits(out + at, 4, lib.size());
      std::memcpy(out + at + 4, lib.data(), lib.size());
      at += 4 + lib.size();
      put_digits(out + at, 4, entry.size());
      std::memcpy(out + at + 4, entry.data(), entry.size());
      at += 4 + entry.size();
      put_digits(out + at, 5, full);
      at += 5;
    }
    put_digits(out + at, 5, chunk);
    at += 5;
    if (chunk > 0) std::memcpy(out + at, area + sent, chunk);
    at += chunk;
    if (!send(hostmsg::kProcedure, k, at) || !receive()) return fail("Cannot execute call command");
    if (reply_status() != '0') return fail(reply_error_text("Cannot execute call command"));
    sent += chunk;
    if (last) break;
    channel_.release();
  }

  // Procedure response blocks, the first being the reply to the last call
  // block: status, last-block digit, 5-digit chunk length, the chunk.
  if (full > 0) std::memset(area, ' ', full);
  size_t stored = 0;
  for (;;) {
    const char* d = channel_.data;
    size_t n = channel_.length;
    bool last = n > 1 && d[1] == '1';
    size_t chunk = n > 7 ? std::min<size_t>(field_number(d, n, 2, 5), n - 7) : 0;
    size_t keep = std::min(chunk, full - stored);  // data beyond the area is not stored
    if (keep > 0) std::memcpy(area + stored, d + 7, keep);
    stored += keep;
    channel_.release();
    if (last) return kOk;
    if (!receive()) return fail("Error waiting for procedure response");
    if (reply_status() != '0') return fail(reply_error_text("Error waiting for procedure response"));
  }
}

// ---- HostCalls ----

Status HostCalls::reported(Status status) {
  if (status != kOk) error_.fail(comm_.error());
  return status;
}

Status HostCalls::connect(Buffer buffer) {
  ItemList items(buffer);
  std::string dsn = items.next();
  std::string user, password;
  if (items.more()) user = items.next();
  if (items.more()) password = scramble(items.next());  // passwords travel in their stored form

  auto missing = [&](const char* what) {
    // A failed Connect leaves no conversation open.
    if (comm_.is_open()) comm_.close();
    return error_.fail(std::string("Cannot get ") + what + " for datasource " + dsn);
  };
  std::string provider = read_dsn_key(dsn, "Provider");
  if (provider.empty()) return missing("provider");
  std::string connection = read_dsn_key(dsn, "Connection");
  if (connection.empty()) return missing("connection");
  if (user.empty()) {
    user = read_dsn_key(dsn, "UID");
    if (user.empty()) return missing("userid");
  }
  if (password.empty()) {
    password = read_dsn_key(dsn, "PWD");
    if (password.empty()) return missing("password");
  }
  return reported(comm_.open(provider, connection, user, password));
}

Status HostCalls::disconnect(Buffer) { return reported(comm_.close()); }

Status HostCalls::library_name(Buffer buffer) {
  library_ = std::string(buffer.text());
  return kOk;
}

Status HostCalls::entry_point(Buffer buffer) {
  entry_ = std::string(buffer.text());
  return kOk;
}

Status HostCalls::co_routine_name(Buffer buffer) {
  coroutine_ = std::string(buffer.text());
  return kOk;
}

Status HostCalls::call(std::string_view library, std::string_view entry_point, Buffer buffer, bool coroutine) {
  return reported(comm_.call(library, entry_point, buffer.data(), buffer.text().size(), buffer.size(), coroutine));
}

Status HostCalls::exe_call(Buffer buffer) { return call(library_, entry_, buffer, false); }

Status HostCalls::cor_call(Buffer buffer) { return call(coroutine_, "", buffer, true); }

}  // namespace quarl::rpc
