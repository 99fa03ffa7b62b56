#include "driver/core/link.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <new>

#include "common/hostmsg.h"
#include "driver/core/diag.h"
#include "common/digits.h"
#include "driver/core/execute.h"
#include "driver/core/handles.h"
#include "driver/core/login_script.h"
#include "driver/core/settings.h"
#include "hostlink/session.h"

namespace quarl::driver {
namespace {

// Every open provider link, newest first; guarded by the link list lock.
std::list<std::unique_ptr<PhysComm>>& link_list() {
  static auto* l = new std::list<std::unique_ptr<PhysComm>>;
  return *l;
}

void remove_link(PhysComm* p) {
  std::lock_guard lock(locks().link_list);
  link_list().remove_if([&](const auto& q) { return q.get() == p; });
}

// Which provider and connection failed and why, in the provider's words
// when it has them (for TCP/IP: the host, the port and the system's reason).
std::string link_failure_text(const PhysComm& p, hostlink::ProviderStep step) {
  std::string text = "Unable to connect to data source: ";
  switch (step) {
    case hostlink::ProviderStep::Find: {
      std::string known;
      for (const std::string& name : hostlink::list_providers()) known += (known.empty() ? "" : ", ") + name;
      return "Invalid communications provider: " + p.provider + " (providers: " + known + ")";
    }
    case hostlink::ProviderStep::Load:
      return text + "communications provider " + p.provider + " cannot be loaded";
    case hostlink::ProviderStep::Open:
      return text + "communications provider " + p.provider + " cannot be opened";
    default:
      break;
  }
  // The provider's words name the connection (and its address) themselves.
  if (!p.link.connect_error.empty()) return text + "provider " + p.provider + ": " + p.link.connect_error;
  return text + "provider " + p.provider + ", connection " + p.connection + ": the provider's connect failed (code " +
         std::to_string(p.link.connect_result) + ")";
}

// text, followed by the provider's words when it has any.
std::string with_provider_words(std::string text, const std::string& words) {
  if (!words.empty()) text += ": " + words;
  return text;
}

}  // namespace

size_t link_count() {
  std::lock_guard lock(locks().link_list);
  return link_list().size();
}

SQLRETURN open_link(ConnBlock& conn, std::string_view uid, std::string_view pwd, std::string_view provider,
                    std::string_view connection, uint32_t connect_timeout) {
  PhysComm* p = nullptr;
  try {
    auto record = std::make_unique<PhysComm>();
    record->provider = provider;
    record->connection = connection;
    p = record.get();
    std::lock_guard lock(locks().link_list);
    link_list().push_front(std::move(record));
  } catch (const std::bad_alloc&) {
    return post(conn.errors, SQL_ERROR, kErrMemory, "Cannot allocate memory for physical communications structure");
  }
  conn.link = p;

  auto fail = [&](SQLRETURN rc) {
    conn.link = nullptr;
    remove_link(p);  // closes whatever is still open
    return rc;
  };

  if (p->use_count == 0) {
    hostlink::ProviderStep failed =
        p->link.open(p->provider.c_str(), p->connection.c_str(), static_cast<int32_t>(connect_timeout));
    if (failed != hostlink::ProviderStep::None)
      return fail(post(conn.errors, SQL_ERROR, kErrUnableToConnect, link_failure_text(*p, failed)));
    uint16_t size = p->link.message_size();
    p->message_size = size;
    p->max_data_length = size > hostmsg::kHeaderSize ? static_cast<uint16_t>(size - hostmsg::kHeaderSize) : 0;
    p->provider_value = p->link.info.value;
    if (run_connect_script(conn, uid, pwd, provider, connection) != SQL_SUCCESS) {
      // Undo every step, the provider connection included.
      p->link.close();
      return fail(SQL_ERROR);
    }
  }
  ++p->use_count;
  return SQL_SUCCESS;
}

SQLRETURN attach_send_buffer(ConnBlock& conn) {
  PhysComm* p = conn.link;
  if (!p || !conn.channel.attach(&p->link.table, p->link.handle, p->message_size)) {
    post_error(conn.errors, kErrMemory, "Cannot get memory for host message buffer");
    close_link(conn);
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

void close_link(ConnBlock& conn) {
  PhysComm* p = conn.link;
  if (p && p->use_count > 0) {
    if (--p->use_count == 0) {
      if (p->link.connected) {
        run_disconnect_script(conn);
        p->link.disconnect();
      }
      p->link.close_and_unload();
      conn.channel.detach();
      conn.link = nullptr;
      remove_link(p);
    }
  }
  conn.link = nullptr;
  conn.channel.detach();
}

hostlink::ReceiveOptions receive_options() {
  hostlink::ReceiveOptions options;
  options.non_host_is_error = settings().nonhostmsgerr != 0;
  return options;
}

char* request_area(ConnBlock& conn, ErrorList& list, size_t length) {
  if (!conn.channel.attached()) {
    // A wait that expired has closed the connection's channel.
    post_error(list, kErrNotOpen, "The connection was closed after a time-out; disconnect and connect again");
    return nullptr;
  }
  if (length > conn.channel.max_data_length()) {
    post_error(list, kErrCommLink, "Transmit error in send_host_msg");
    return nullptr;
  }
  return conn.channel.out();
}

namespace {

SQLRETURN post_send_failure(ConnBlock& conn) {
  if (!conn.channel.attached()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  return post(conn.errors, SQL_ERROR, kErrCommLink,
              with_provider_words("Transmit error in send_host_msg", conn.channel.provider_error()));
}

}  // namespace

void post_exchange_failure(ConnBlock& conn, const hostlink::Reply& reply) {
  switch (reply.outcome()) {
    case hostlink::Outcome::Received: return;
    case hostlink::Outcome::SendFailed: post_send_failure(conn); return;
    case hostlink::Outcome::Timeout:
      if (conn.expired_index != 0) {
        // A wait that the connection's time-outs bound (the Unicode driver).
        post_error(conn.errors, conn.expired_index, conn.expired_text);
        conn.expired_index = 0;
        return;
      }
      // The channel has lowered the receive time-out to 10 for later receives.
      if (reply.timeout() != 0) post_error(conn.errors, kErrCommLink, "Timeout waiting for host message");
      return;
    case hostlink::Outcome::NonHost:
      post_error(conn.errors, kErrCommLink, "Non Quarl message received from host->" + reply.non_host_text());
      return;
    case hostlink::Outcome::Malformed:
      post_error(conn.errors, kErrCommLink, "Malformed message received from host");
      return;
    case hostlink::Outcome::ReceiveError:
    default:
      post_error(conn.errors, kErrCommLink, with_provider_words("Error waiting for host message", reply.provider_error()));
      return;
  }
}

hostlink::Reply host_request(ConnBlock& conn, unsigned type, unsigned code, size_t length, WaitFor what,
                             StmtBlock* stmt) {
  hostlink::Reply reply;
  if (!conn.channel.send(type, code, length)) {
    reply = hostlink::Reply::of(hostlink::Outcome::SendFailed);
  } else {
    reply = await_host(conn, conn.channel.receive_timeout, what, stmt);
  }
  if (!reply) post_exchange_failure(conn, reply);
  return reply;
}

hostlink::Reply host_request_and_fetch(ConnBlock& conn, unsigned code, size_t length, StmtBlock& stmt) {
  hostlink::Reply reply;
  bool sent = conn.channel.send(hostmsg::kDatabase, code, length);
  if (sent) {
    put_digits(conn.channel.out(), 4, stmt.host_id);
    sent = conn.channel.send(hostmsg::kDatabase, hostmsg::code::kFetch, 4);
  }
  if (!sent) {
    reply = hostlink::Reply::of(hostlink::Outcome::SendFailed);
  } else {
    reply = await_host(conn, conn.channel.receive_timeout, WaitFor::Statement, &stmt);
  }
  if (!reply) post_exchange_failure(conn, reply);
  return reply;
}

namespace {

using Clock = hostlink::HostChannel::Clock;

// A wait that expired with no reply coming: the host's late reply would
// answer the next request, so the connection takes no more.
hostlink::Reply expired(ConnBlock& conn, hostlink::Reply reply, uint16_t index, std::string text) {
  conn.expired_index = index;
  conn.expired_text = std::move(text) + "; the connection is closed (its late reply would answer the next request)";
  conn.channel.detach();
  return reply;
}

}  // namespace

hostlink::Reply await_host(ConnBlock& conn, uint8_t odbc2_timeout, WaitFor what, StmtBlock* stmt) {
  if (!conn.face().timeouts_bound_waits) return conn.channel.receive(odbc2_timeout, receive_options());
  uint32_t bound = what == WaitFor::Statement ? (stmt && stmt->query_timeout ? stmt->query_timeout
                                                                              : uint32_t{kStatementReceiveTimeout})
                   : conn.connection_timeout ? conn.connection_timeout
                                             : uint32_t{conn.channel.receive_timeout};
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(bound);
  bool cancelled = false;
  for (;;) {
    hostlink::Reply reply = conn.channel.receive_until(deadline, receive_options());
    if (reply && stmt && reply.type() == hostmsg::kDatabase && reply.code() == hostmsg::code::kCancelAck) {
      std::lock_guard lock(stmt->cancel_mutex);
      if (stmt->cancel_sent && !stmt->cancel_acknowledged) {
        // A cancel that the host handled before this request's reply: it
        // ended nothing of it.
        stmt->cancel_acknowledged = true;
        continue;
      }
    }
    if (reply.outcome() != hostlink::Outcome::Timeout) return reply;
    if (what == WaitFor::Statement && stmt && !cancelled) {
      // The statement ran out of time: the host stops it, and its reply
      // (that it was cancelled) ends the wait.
      cancelled = true;
      if (send_cancel(conn, *stmt, true)) {
        deadline = Clock::now() + std::chrono::seconds(conn.channel.receive_timeout);
        continue;
      }
    }
    if (what == WaitFor::Statement)
      return expired(conn, std::move(reply), kErrTimeout,
                     "Timeout expired: no reply from the host within " + std::to_string(bound) + " s");
    return expired(conn, std::move(reply), kErrConnectionTimeout,
                   "Connection timeout expired: no reply from the host within " + std::to_string(bound) + " s");
  }
}

bool send_cancel(ConnBlock& conn, StmtBlock& stmt, bool timed_out) {
  std::lock_guard lock(stmt.cancel_mutex);
  if (!stmt.running || stmt.cancel_sent) return false;
  char id[4];
  put_digits(id, 4, stmt.host_id);
  if (!conn.channel.send_control(hostmsg::kControl, hostmsg::code::kCancel, std::string_view(id, 4))) return false;
  stmt.cancel_sent = true;
  stmt.cancel_timed_out = timed_out;
  return true;
}

StatementRun::StatementRun(ConnBlock& conn, StmtBlock& stmt) : conn_(conn), stmt_(stmt) {
  std::lock_guard lock(stmt.cancel_mutex);
  stmt.running = true;
  stmt.cancel_sent = stmt.cancel_timed_out = stmt.cancel_acknowledged = false;
}

StatementRun::~StatementRun() {
  if (finished_) return;
  std::lock_guard lock(stmt_.cancel_mutex);
  stmt_.running = false;
}

SQLRETURN StatementRun::finish(SQLRETURN rc) {
  finished_ = true;
  bool sent;
  {
    std::lock_guard lock(stmt_.cancel_mutex);
    stmt_.running = false;
    sent = stmt_.cancel_sent;
  }
  if (!sent) return rc;
  bool closed_result = false;
  if (!stmt_.cancel_acknowledged) {
    // The acknowledgement follows the request's reply; whatever the cancel
    // found of the request (its result, typically) it has ended.
    for (;;) {
      hostlink::Reply reply = await_host(conn_, conn_.channel.receive_timeout, WaitFor::Request);
      if (!reply) {
        post_exchange_failure(conn_, reply);
        return link_failure(conn_, stmt_.errors);
      }
      if (reply.type() == hostmsg::kDatabase && reply.code() == hostmsg::code::kCancelAck) break;
    }
    closed_result = true;
  }
  if (stmt_.cancel_timed_out) {
    // The host's "canceled" gives way to why the driver cancelled.
    std::erase_if(stmt_.errors.records, [](const ErrorRecord& r) { return r.index == kErrCanceled; });
    stmt_.errors.records.push_front(
        ErrorRecord{kErrTimeout, 0,
                    std::string(kMessagePrefix) + "Timeout expired: the statement ran longer than its query time-out (" +
                        std::to_string(stmt_.query_timeout ? stmt_.query_timeout : kStatementReceiveTimeout) +
                        " s) and was cancelled"});
  } else if (rc == SQL_ERROR || !closed_result || stmt_.result.column_count == 0) {
    return rc;  // the host's own words tell, or the cancel ended nothing
  } else {
    post_error(stmt_.errors, kErrCanceled, "Operation canceled: the statement's result was closed");
  }
  stmt_.discard_rows();
  stmt_.result.column_count = 0;
  stmt_.result.row_buffer.clear();
  return SQL_ERROR;
}

SQLRETURN send_host_msg(ConnBlock& conn, unsigned type, unsigned code, size_t length) {
  return conn.channel.send(type, code, length) ? SQL_SUCCESS : post_send_failure(conn);
}

SQLRETURN send_unawaited_msg(ConnBlock& conn, unsigned type, unsigned code, size_t length) {
  return conn.channel.send_unawaited(type, code, length) ? SQL_SUCCESS : post_send_failure(conn);
}

hostlink::Reply recv_host_msg(ConnBlock& conn, uint8_t timeout, WaitFor what, StmtBlock* stmt) {
  hostlink::Reply reply = await_host(conn, timeout, what, stmt);
  if (!reply) post_exchange_failure(conn, reply);
  return reply;
}

SQLRETURN drain_host_msgs(ConnBlock& conn) {
  conn.channel.drain();
  return SQL_SUCCESS;
}

SQLRETURN exchange_rc(const hostlink::Reply& reply) {
  return reply.outcome() == hostlink::Outcome::Timeout ? kRecvTimedOut : SQL_ERROR;
}

SQLRETURN link_failure(ConnBlock& conn, ErrorList& list) {
  list.take_all(conn.errors);
  // A time-out that bounded the wait says it all (a link failure would rank
  // before it for the application).
  if (!list.empty() && (list.records.back().index == kErrTimeout || list.records.back().index == kErrConnectionTimeout))
    return SQL_ERROR;
  return post(list, SQL_ERROR, kErrCommLink);
}

SQLRETURN post_host_items(ErrorList& list, std::string_view items, SQLRETURN rc) {
  if (post_host_errors(list, items) == 0 && rc == SQL_ERROR)
    post_error(list, kErrGeneral, "The host server reported a failure without a message");
  return rc;
}

SQLRETURN host_status(ErrorList& list, const hostlink::Reply& reply) {
  auto rc = static_cast<SQLRETURN>(reply.rc());
  if (reply.carries_error_items()) post_host_items(list, reply.after_status(), rc);
  return rc;
}

SQLRETURN get_host_version(ConnBlock& conn) {
  hostlink::VersionCheck check = hostlink::exchange_versions(conn.channel, receive_options());
  // Each failure says why, then that the connect has no version; with what a
  // host that turned the client away said.
  auto failed = [&] {
    post_error(conn.errors, kErrGeneral, "Cannot determine version of host software" + check.refusal_detail());
    return SQL_ERROR;
  };
  switch (check.result) {
    case hostlink::VersionCheck::ExchangeFailed:
      post_exchange_failure(conn, check.reply);
      post_error(conn.errors, kErrCommLink, "Cannot get host server version");
      return failed();
    case hostlink::VersionCheck::Refused:
      // Whatever the status, no version: the items tell why.
      post_host_items(conn.errors, check.reply.after_status(), SQL_ERROR);
      return failed();
    case hostlink::VersionCheck::Malformed:
      post_error(conn.errors, kErrCommLink, "Malformed version reply from host server");
      return failed();
    case hostlink::VersionCheck::Mismatch:
    case hostlink::VersionCheck::Ok:
      break;
  }
  const hostlink::HostVersion& v = check.version;
  conn.version_first = static_cast<uint8_t>(v.first);
  conn.version_second = static_cast<uint8_t>(v.second);
  conn.protocol_version = static_cast<uint8_t>(v.protocol);
  conn.host_offers_long_values = v.offers_long_values;
  if (check.result == hostlink::VersionCheck::Mismatch) {
    post_error(conn.errors, kErrGeneral, hostlink::version_mismatch_text(v.protocol));
    return failed();
  }
  size_t n = std::min(v.software.size(), sizeof conn.host_version - 1);
  std::memcpy(conn.host_version, v.software.data(), n);
  conn.host_version[n] = '\0';
  return SQL_SUCCESS;
}

}  // namespace quarl::driver
