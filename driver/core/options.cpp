#include "driver/core/options.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/output.h"
#include "driver/core/settings.h"
#include "driver/core/statement.h"

namespace quarl::driver {

namespace code = hostmsg::code;

namespace {

constexpr size_t kMaxCursorName = 17;

// The reply to a connection-level request (autocommit, transaction end):
// failures and the host's error items go on the connection.
SQLRETURN connection_request(ConnBlock& conn, unsigned request_code, size_t length) {
  hostlink::Reply reply = host_request(conn, hostmsg::kDatabase, request_code, length);
  return reply ? host_status(conn.errors, reply) : link_failure(conn, conn.errors);
}

}  // namespace

// ---- cursor names ----

SQLRETURN sql_set_cursor_name(StmtBlock& stmt, SQLCHAR* szCursor, SQLSMALLINT cbCursor) {
  const char* name = reinterpret_cast<const char*>(szCursor);
  size_t n;
  if (cbCursor == SQL_NTS && name != nullptr) {
    n = strnlen(name, kMaxCursorName + 1);  // never read past what may be stored
  } else if (cbCursor == SQL_NTS || cbCursor == 0) {
    stmt.cursor_name[0] = '\0';
    return SQL_SUCCESS;
  } else if (cbCursor < 0 || name == nullptr) {
    return post(stmt.errors, SQL_ERROR, kErrArgument);
  } else {
    n = static_cast<size_t>(cbCursor);
  }
  if (n > kMaxCursorName) return post(stmt.errors, SQL_ERROR, kErrCursorName);
  // Up to the terminator, within the given length.
  const void* end = std::memchr(name, '\0', n);
  if (end != nullptr) n = static_cast<size_t>(static_cast<const char*>(end) - name);
  std::memcpy(stmt.cursor_name, name, n);
  stmt.cursor_name[n] = '\0';
  return SQL_SUCCESS;
}

SQLRETURN sql_get_cursor_name(StmtBlock& stmt, const TextBuffer& cursor, SQLSMALLINT* pcbCursor) {
  char generated[24];
  std::string_view name = stmt.cursor_name;
  if (name.empty()) {
    int n = std::snprintf(generated, sizeof generated, "SQL_CUR%5.5d", static_cast<int>(stmt.host_id));
    name = std::string_view(generated, static_cast<size_t>(n));
  }
  // A cut name is not reported: the full length tells it.
  write_text_out(name, cursor, pcbCursor);
  return SQL_SUCCESS;
}

// ---- options ----

SQLRETURN apply_stmt_option(ConnBlock* conn, StmtBlock* stmt, SQLUSMALLINT fOption, SQLULEN vParam) {
  auto value = static_cast<uint32_t>(vParam);
  switch (fOption) {
    case SQL_QUERY_TIMEOUT:  // stored only: no time-out is enforced
      (stmt ? stmt->query_timeout : conn->query_timeout_default) = value;
      return SQL_SUCCESS;
    case SQL_ASYNC_ENABLE:
      if (settings().allowasync != 0) (stmt ? stmt->async_enable : conn->async_enable_default) = value;
      return SQL_SUCCESS;
    case SQL_MAX_ROWS:
    case SQL_NOSCAN:
    case SQL_MAX_LENGTH:
    case SQL_CURSOR_TYPE:
    case SQL_CONCURRENCY:
    case SQL_ROWSET_SIZE: return SQL_SUCCESS;  // accepted and ignored
    default: return post(stmt ? stmt->errors : conn->errors, SQL_ERROR, kErrOptionType);
  }
}

SQLRETURN sql_set_stmt_option(StmtBlock& stmt, SQLUSMALLINT fOption, SQLULEN vParam) {
  return apply_stmt_option(nullptr, &stmt, fOption, vParam);
}

SQLRETURN sql_get_stmt_option(StmtBlock& stmt, SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  if (pvParam == nullptr) return SQL_SUCCESS;
  switch (fOption) {
    case SQL_QUERY_TIMEOUT: put_value<SQLULEN>(pvParam, stmt.query_timeout); break;
    case SQL_ASYNC_ENABLE: put_value<SQLULEN>(pvParam, stmt.async_enable); break;
    // The options that are accepted and ignored answer what is in force.
    case SQL_MAX_LENGTH:
    case SQL_MAX_ROWS: put_value<SQLULEN>(pvParam, 0); break;
    case SQL_NOSCAN: put_value<SQLULEN>(pvParam, SQL_NOSCAN_OFF); break;
    case SQL_CURSOR_TYPE: put_value<SQLULEN>(pvParam, SQL_CURSOR_FORWARD_ONLY); break;
    case SQL_CONCURRENCY: put_value<SQLULEN>(pvParam, SQL_CONCUR_READ_ONLY); break;
    case SQL_ROWSET_SIZE: put_value<SQLULEN>(pvParam, 1); break;
    default: break;
  }
  return SQL_SUCCESS;
}

SQLRETURN sql_set_connect_option(ConnBlock& conn, SQLUSMALLINT fOption, SQLULEN vParam) {
  switch (fOption) {
    case SQL_ACCESS_MODE: conn.access_mode = static_cast<uint8_t>(vParam); return SQL_SUCCESS;
    case SQL_AUTOCOMMIT:
      conn.autocommit = static_cast<uint8_t>(vParam);
      return send_autocommit(conn);
    case SQL_LOGIN_TIMEOUT: conn.login_timeout = static_cast<uint32_t>(vParam); return SQL_SUCCESS;
    default:
      // A statement option for every statement; the connection keeps it as
      // its default (statements allocated later do not take it).
      for (auto& stmt : conn.statements) {
        if (!stmt) continue;
        SQLRETURN rc = apply_stmt_option(nullptr, stmt.get(), fOption, vParam);
        if (rc != SQL_SUCCESS) return rc;
        apply_stmt_option(&conn, nullptr, fOption, vParam);
      }
      return SQL_SUCCESS;
  }
}

SQLRETURN sql_get_connect_option(ConnBlock* conn, SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  if (pvParam == nullptr) return SQL_SUCCESS;
  switch (fOption) {
    case SQL_ACCESS_MODE: put_value<SQLUINTEGER>(pvParam, conn ? conn->access_mode : 0); return SQL_SUCCESS;
    case SQL_AUTOCOMMIT: put_value<SQLUINTEGER>(pvParam, conn ? conn->autocommit : 1); return SQL_SUCCESS;
    case SQL_LOGIN_TIMEOUT: put_value<SQLUINTEGER>(pvParam, conn ? conn->login_timeout : 15); return SQL_SUCCESS;
    case SQL_TXN_ISOLATION: put_value<SQLUINTEGER>(pvParam, SQL_TXN_READ_COMMITTED); return SQL_SUCCESS;
    case SQL_CURRENT_QUALIFIER: *static_cast<char*>(pvParam) = '\0'; return SQL_SUCCESS;
    default: return conn ? post(conn->errors, SQL_ERROR, kErrNotCapable) : SQL_ERROR;
  }
}

// ---- transactions ----

SQLRETURN send_autocommit(ConnBlock& conn) {
  size_t count = 0;
  for (auto& stmt : conn.statements) count += stmt != nullptr;
  if (count == 0) return SQL_SUCCESS;
  if (!conn.connected()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  char* out = request_area(conn, conn.errors, 5 * count);
  if (!out) return SQL_ERROR;
  for (auto& stmt : conn.statements) {
    if (!stmt) continue;
    put_digits(out, 4, stmt->host_id);
    put_digits(out + 4, 1, conn.autocommit);
    stmt->autocommit = conn.autocommit;
    out += 5;
  }
  return connection_request(conn, code::kAutocommit, 5 * count);
}

SQLRETURN transact_connection(ConnBlock& conn, SQLUSMALLINT fType) {
  if (!conn.connected()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  char* out = request_area(conn, conn.errors, 5);
  if (!out) return SQL_ERROR;
  put_connection_id(out, conn.connection_id);
  put_digits(out + 4, 1, fType);
  return connection_request(conn, code::kTransact, 5);
}

SQLRETURN transact_environment(EnvBlock& env, SQLUSMALLINT fType) {
  bool failed = false;
  for (auto& conn : env.connections)
    if (conn && transact_connection(*conn, fType) != SQL_SUCCESS) failed = true;
  return failed ? SQL_ERROR : SQL_SUCCESS;
}

// ---- cancel ----

SQLRETURN sql_cancel(StmtBlock& stmt) {
  ConnBlock& conn = *stmt.conn;
  if (conn.face().cancel_from_any_thread) {
    // Another thread may be running the statement: nothing of it is touched
    // but what cancelling needs.  The host is told at once and the running
    // call ends with HY008 (or as it ends when the host has finished it).  A
    // cancel that cannot be sent leaves the running call to report the link.
    if (send_cancel(conn, stmt, false)) return SQL_SUCCESS;
    {
      std::lock_guard lock(stmt.cancel_mutex);
      if (stmt.running) return SQL_SUCCESS;
    }
    stmt.errors.clear();
    stmt.pending.clear();  // a request waiting for data at execution is dropped
    return SQL_SUCCESS;    // nothing runs: nothing to cancel
  }
  stmt.errors.clear();
  if (stmt.pending.active) {  // a request waiting for data at execution is dropped
    stmt.pending.clear();
    return SQL_SUCCESS;
  }
  if (!conn.connected()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  if (stmt.operation != kOperationFetch || stmt.fetch_state != kFetchOutstanding) return SQL_SUCCESS;

  stmt.fetch_state = kFetchIdle;
  put_digits(conn.channel.out(), 4, stmt.host_id);
  if (send_host_msg(conn, hostmsg::kControl, code::kCancel, 4) != SQL_SUCCESS) link_failure(conn, stmt.errors);
  // The rest of the cancelled fetch's reply is dropped until the host
  // acknowledges the cancel.
  for (;;) {
    hostlink::Reply reply = recv_host_msg(conn, conn.channel.receive_timeout);
    if (!reply) {
      stmt.errors.take_all(conn.errors);
      stmt.discard_rows();
      return SQL_ERROR;
    }
    if (reply.type() == hostmsg::kDatabase && reply.code() == code::kCancelAck) break;
  }
  stmt.discard_rows();
  stmt.fetch_state = kFetchCancelled;
  return SQL_SUCCESS;
}

// ---- SQLNativeSql ----

SQLRETURN sql_native_sql(ConnBlock& conn, SQLCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn, const TextBuffer& out,
                         SQLINTEGER* pcbSqlStr) {
  const char* in = reinterpret_cast<const char*>(szSqlStrIn);
  size_t n = 0;
  if (in != nullptr) {
    if (cbSqlStrIn == SQL_NTS) {
      n = std::strlen(in);
    } else if (cbSqlStrIn >= 0) {
      n = static_cast<size_t>(cbSqlStrIn);
    } else {
      return post(conn.errors, SQL_ERROR, kErrArgument);
    }
  }
  // The text goes unchanged: no escape clauses are translated.
  bool cut = write_text_out(std::string_view(in ? in : "", n), out, pcbSqlStr);
  if (cut && out.data != nullptr) return post(conn.errors, SQL_SUCCESS_WITH_INFO, kErrTruncated);
  return SQL_SUCCESS;
}

}  // namespace quarl::driver
