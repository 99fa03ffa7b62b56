#include "rpc/host_calls.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "common/scramble.h"
#include "common/text.h"
#include "hostlink/dsn_keys.h"
#include "hostlink/session.h"
#include "rpc/item_list.h"

namespace quarl::rpc {
namespace {

namespace code = hostmsg::code;
using hostlink::read_dsn_key;

// The RPC conversation takes every message the host sends: no message code
// is filtered out, and text from other sources is passed over.
constexpr hostlink::ReceiveOptions kReceiveOptions{false, false};

// Reads a numeric field leniently from a message that may be shorter than
// the field: missing bytes count as blanks.
uint32_t field_number(std::string_view data, size_t offset, int width) {
  char field[8];
  std::memset(field, ' ', sizeof field);
  if (offset < data.size()) std::memcpy(field, data.data() + offset, std::min<size_t>(width, data.size() - offset));
  return read_number_field(field, width);
}

// The text of a failure reply's first error item; fallback when it has none.
std::string reply_text(const hostlink::Reply& reply, std::string_view fallback) {
  std::string_view text = reply.first_error_text();
  return std::string(text.empty() ? fallback : text);
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
    case hostlink::ProviderStep::None: break;
    case hostlink::ProviderStep::Find: return fail("Invalid provider " + provider);
    case hostlink::ProviderStep::Load: return fail("Cannot open provider: " + provider);
    case hostlink::ProviderStep::Open: return fail("Cannot initialize provider: " + provider);
    case hostlink::ProviderStep::Connect:
      if (!link_->connect_error.empty())
        return fail(fmt::format("Cannot open connection {} of provider {}: {}", connection, provider,
                                link_->connect_error));
      return fail(fmt::format("Cannot open connection {} ({})", connection, int(link_->connect_result)));
  }

  // A fresh message buffer: "#@!" and the sequence digit 9.
  if (!channel_.attach(*link_)) return fail_open("Cannot get a host buffer");
  channel_.sub_id = 0;
  channel_.next_sequence = '9';

  hostlink::VersionCheck version = hostlink::exchange_versions(channel_, kReceiveOptions);
  switch (version.result) {
    case hostlink::VersionCheck::Ok: break;
    case hostlink::VersionCheck::ExchangeFailed:
      return fail_open("Cannot get host server version" + version.refusal_detail());
    case hostlink::VersionCheck::Refused:
    case hostlink::VersionCheck::Malformed: return fail_open("Cannot get host version");
    case hostlink::VersionCheck::Mismatch:
      return fail_open(hostlink::version_mismatch_text(version.version.protocol));
  }
  host_version_[0] = version.version.first;
  host_version_[1] = version.version.second;
  host_version_[2] = version.version.protocol;

  std::string password = scramble(stored_password);
  hostlink::LoginCheck login =
      hostlink::log_in(channel_, hostlink::LoginKind::Procedures, {user, password, {}, {}}, kReceiveOptions);
  switch (login.result) {
    case hostlink::LoginCheck::Ok: break;
    case hostlink::LoginCheck::TooLong:
      return fail_open("Cannot Login to host server: the user id and password do not fit in one host message");
    case hostlink::LoginCheck::ExchangeFailed: return fail_open("Cannot Login to host server");
    case hostlink::LoginCheck::Refused: return fail_open(reply_text(login.reply, "Cannot Login to host server"));
    case hostlink::LoginCheck::Malformed: return fail_open("Cannot Login to host server: malformed reply");
    case hostlink::LoginCheck::UnusableSize: return fail_open("Cannot Login to host server: unusable message size");
  }
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

  hostlink::Reply reply;
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
    reply = channel_.transact(hostmsg::kProcedure, k, at, kReceiveOptions);
    if (!reply) return fail("Cannot execute call command");
    if (reply.rc() != hostmsg::kRcSuccess) return fail(reply_text(reply, "Cannot execute call command"));
    sent += chunk;
    if (last) break;
  }

  // Procedure response blocks, the first being the reply to the last call
  // block: status, last-block digit, 5-digit chunk length, the chunk.
  if (full > 0) std::memset(area, ' ', full);
  size_t stored = 0;
  for (;;) {
    std::string_view d = reply.data();
    bool last = d.size() > 1 && d[1] == '1';
    size_t chunk = d.size() > 7 ? std::min<size_t>(field_number(d, 2, 5), d.size() - 7) : 0;
    size_t keep = std::min(chunk, full - stored);  // data beyond the area is not stored
    if (keep > 0) std::memcpy(area + stored, d.data() + 7, keep);
    stored += keep;
    reply.release();
    if (last) return kOk;
    reply = channel_.receive(channel_.receive_timeout, kReceiveOptions);
    if (!reply) return fail("Error waiting for procedure response");
    if (reply.rc() != hostmsg::kRcSuccess) return fail(reply_text(reply, "Error waiting for procedure response"));
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
