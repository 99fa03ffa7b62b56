#include "driver/statement.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "driver/handles.h"
#include "driver/link.h"
#include "driver/settings.h"

namespace quarl::driver {

StmtBlock::StmtBlock(ConnBlock* owner, size_t max_data_length)
    : conn(owner), rows(2 * max_data_length + 1) {}

SQLRETURN alloc_host_statement(ConnBlock& conn, StmtBlock& stmt) {
  if (!conn.connected()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  size_t name_length = std::strlen(conn.app_name);
  size_t length = 8 + name_length;
  if (length > conn.channel.max_data_length())
    return post(conn.errors, SQL_ERROR, kErrCommLink, "Transmit error in send_host_msg");
  char* out = conn.channel.out();
  put_digits(out, 1, stmt.autocommit);
  // The connection's identifier as "%4.4x"; only four characters fit.
  char id[16];
  std::snprintf(id, sizeof id, "%4.4x", static_cast<unsigned>(conn.connection_id));
  std::memcpy(out + 1, id, 4);
  put_digits(out + 5, 3, name_length);
  std::memcpy(out + 8, conn.app_name, name_length);

  SQLRETURN rc = send_host_msg(conn, hostmsg::kDatabase, hostmsg::code::kAllocStmt, length, true);
  if (rc != SQL_SUCCESS) {
    post_error(conn.errors, kErrCommLink);
    release_host_msg(conn);
    return rc;
  }
  rc = host_rc(reply_has(conn, 1) ? conn.channel.data[0] : '\0');
  if (rc == SQL_ERROR || rc == SQL_SUCCESS_WITH_INFO) {
    post_host_errors(conn.errors, reply_after_status(conn));
  } else if (reply_has(conn, 5)) {
    stmt.host_id = static_cast<uint16_t>(get_digits(conn.channel.data + 1, 4));
  } else if (rc == SQL_SUCCESS) {
    rc = post(conn.errors, SQL_ERROR, kErrCommLink, "Malformed statement allocation reply from host");
  }
  release_host_msg(conn);
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

  SQLRETURN result;
  if (conn.channel.max_data_length() < 5) {
    result = post(stmt.errors, SQL_ERROR, kErrCommLink, "Transmit error in send_host_msg");
  } else {
    char* out = conn.channel.out();
    put_digits(out, 4, stmt.host_id);
    put_digits(out + 4, 1, option);
    result = send_host_msg(conn, hostmsg::kDatabase, hostmsg::code::kFreeStmt, 5, true);
    if (result != SQL_SUCCESS) {
      stmt.errors.take_all(conn.errors);
      post_error(stmt.errors, kErrCommLink);
    } else {
      result = host_rc(reply_has(conn, 1) ? conn.channel.data[0] : '\0');
      if (result == SQL_ERROR || result == SQL_SUCCESS_WITH_INFO)
        post_host_errors(stmt.errors, reply_after_status(conn));
    }
    release_host_msg(conn);
  }
  stmt.fetch_state = kFetchIdle;
  stmt.discard_rows();
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
