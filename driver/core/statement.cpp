#include "driver/core/statement.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/settings.h"

namespace quarl::driver {

StmtBlock::StmtBlock(ConnBlock* owner, size_t max_data_length)
    : conn(owner), rows(2 * max_data_length + 1) {}

void put_connection_id(char* dest, uint16_t connection_id) { put_hex_digits(dest, 4, connection_id); }

SQLRETURN alloc_host_statement(ConnBlock& conn, StmtBlock& stmt) {
  if (!conn.connected()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  size_t name_length = std::strlen(conn.app_name);
  size_t length = 8 + name_length;
  char* out = request_area(conn, conn.errors, length);
  if (!out) return SQL_ERROR;
  put_digits(out, 1, stmt.autocommit);
  put_connection_id(out + 1, conn.connection_id);
  put_digits(out + 5, 3, name_length);
  std::memcpy(out + 8, conn.app_name, name_length);

  hostlink::Reply reply = host_request(conn, hostmsg::kDatabase, hostmsg::code::kAllocStmt, length);
  if (!reply) return link_failure(conn, conn.errors);
  SQLRETURN rc = host_status(conn.errors, reply);
  if (reply.carries_error_items()) return rc;
  std::string_view id = reply.after_status();
  if (id.size() >= 4) {
    stmt.host_id = static_cast<uint16_t>(get_digits(id.data(), 4));
  } else if (rc == SQL_SUCCESS) {
    rc = post(conn.errors, SQL_ERROR, kErrCommLink, "Malformed statement allocation reply from host");
  }
  return rc;
}

SQLRETURN alloc_stmt(ConnBlock& conn, SQLHSTMT* phstmt) {
  if (phstmt) *phstmt = SQL_NULL_HSTMT;
  conn.errors.clear();
  if (!phstmt) return post(conn.errors, SQL_ERROR, kErrArgument);
  if (!conn.connected()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  auto slot = std::find(conn.statements.begin(), conn.statements.end(), nullptr);
  if (slot == conn.statements.end()) return post(conn.errors, SQL_ERROR, kErrMemory, "No free statement handles");
  tracef("SQLAllocStmt dx=%d", static_cast<int>(slot - conn.statements.begin()));

  std::unique_ptr<StmtBlock> stmt;
  try {
    stmt = std::make_unique<StmtBlock>(&conn, conn.channel.max_data_length());
  } catch (const std::bad_alloc&) {
    return post(conn.errors, SQL_ERROR, kErrMemory);
  }
  stmt->operation = 0;
  stmt->fetch_state = kFetchIdle;
  stmt->autocommit = conn.autocommit;

  SQLRETURN rc = alloc_host_statement(conn, *stmt);
  if (rc != SQL_SUCCESS) {
    // No statement is created, so the call fails whatever the host's status
    // was; the host's items (or our reason) stay on the connection.
    if (rc != SQL_ERROR && rc != SQL_SUCCESS_WITH_INFO)
      post_error(conn.errors, kErrGeneral, "Host refused the statement allocation");
    return SQL_ERROR;
  }
  *phstmt = stmt.get();
  *slot = std::move(stmt);
  return SQL_SUCCESS;
}

SQLRETURN free_stmt(StmtBlock& stmt, SQLUSMALLINT option) {
  trace_entry("SQLFreeStmt");
  stmt.errors.clear();
  return free_statement(*stmt.conn, stmt, option);
}

SQLRETURN free_statement(ConnBlock& conn, StmtBlock& stmt, SQLUSMALLINT option) {
  if (!conn.connected()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  if (option == SQL_DROP) stmt.result.row_buffer = {};

  // What changes nothing on the host stays in the driver where the face says so.
  bool local = conn.face().free_only_what_the_host_holds &&
               (option == SQL_UNBIND || option == SQL_RESET_PARAMS || (option == SQL_CLOSE && !stmt.host_result_open));
  // A result read to its end is closed without waiting for the host's
  // answer (its reply is dropped ahead of the next one): a single-row query
  // costs one round trip less.
  bool unawaited = conn.face().overlap_round_trips && option == SQL_CLOSE && stmt.host_result_ended &&
                   stmt.fetch_state == kFetchIdle;
  if (option == SQL_CLOSE || option == SQL_DROP) stmt.host_result_open = false;
  SQLRETURN result = SQL_SUCCESS;
  if (local) {
    // nothing to send
  } else if (char* out = request_area(conn, stmt.errors, 5)) {
    put_digits(out, 4, stmt.host_id);
    put_digits(out + 4, 1, option);
    if (unawaited) {
      if (send_unawaited_msg(conn, hostmsg::kDatabase, hostmsg::code::kFreeStmt, 5) != SQL_SUCCESS)
        result = link_failure(conn, stmt.errors);
    } else {
      hostlink::Reply reply = host_request(conn, hostmsg::kDatabase, hostmsg::code::kFreeStmt, 5);
      result = reply ? host_status(stmt.errors, reply) : link_failure(conn, stmt.errors);
    }
  } else {
    result = SQL_ERROR;
  }
  // What stays in the driver leaves the result as it is: its rows not yet
  // handed out are the next fetches' (a request forgets them).
  if (!local) {
    stmt.fetch_state = kFetchIdle;
    stmt.discard_rows();
  }
  stmt.pending.clear();

  switch (option) {
    case SQL_DROP: {
      tracef("     take stmt out of lpdbc");
      for (size_t i = 0; i < conn.statements.size(); ++i) {
        if (conn.statements[i].get() == &stmt) {
          tracef("     found entry at dx=%d", static_cast<int>(i));
          conn.statements[i].reset();  // the record and its diagnostics go
          break;
        }
      }
      return SQL_SUCCESS;  // whatever the host answered
    }
    case SQL_UNBIND:
      if (!stmt.result.columns.empty() && stmt.result.column_count > 0) {
        size_t n = std::min<size_t>(stmt.result.column_count, stmt.result.columns.size());
        for (size_t i = 0; i < n; ++i) stmt.result.columns[i].bound_buffer = nullptr;
      }
      return result;
    case SQL_RESET_PARAMS:
      stmt.highest_bound_param = 0;
      stmt.params = {};
      return result;
    default:
      return result;
  }
}

}  // namespace quarl::driver
