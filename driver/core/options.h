// Cursor names, statement and connection options, transactions, cancelling
// an outstanding fetch, and SQLNativeSql.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "driver/core/output.h"

namespace quarl::driver {

struct EnvBlock;
struct ConnBlock;
struct StmtBlock;

// A statement option for the statement, or for the connection's defaults
// (exactly one of the two is given).
SQLRETURN apply_stmt_option(ConnBlock* conn, StmtBlock* stmt, SQLUSMALLINT fOption, SQLULEN vParam);
// Tells the host the connection's autocommit mode for each of its statements.
SQLRETURN send_autocommit(ConnBlock& conn);
// Commits or rolls back the connection's work on the host.
SQLRETURN transact_connection(ConnBlock& conn, SQLUSMALLINT fType);
// The same for every connection of the environment.
SQLRETURN transact_environment(EnvBlock& env, SQLUSMALLINT fType);

// Entry point bodies.
SQLRETURN sql_set_cursor_name(StmtBlock& stmt, SQLCHAR* szCursor, SQLSMALLINT cbCursor);
SQLRETURN sql_get_cursor_name(StmtBlock& stmt, const TextBuffer& cursor, SQLSMALLINT* pcbCursor);
SQLRETURN sql_set_stmt_option(StmtBlock& stmt, SQLUSMALLINT fOption, SQLULEN vParam);
SQLRETURN sql_get_stmt_option(StmtBlock& stmt, SQLUSMALLINT fOption, SQLPOINTER pvParam);
SQLRETURN sql_set_connect_option(ConnBlock& conn, SQLUSMALLINT fOption, SQLULEN vParam);
// conn may be null: the initial values are answered.
SQLRETURN sql_get_connect_option(ConnBlock* conn, SQLUSMALLINT fOption, SQLPOINTER pvParam);
SQLRETURN sql_cancel(StmtBlock& stmt);
SQLRETURN sql_native_sql(ConnBlock& conn, SQLCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn, const TextBuffer& out,
                         SQLINTEGER* pcbSqlStr);
// The same with narrow text buffers, as the ODBC 2 entry points pass them.
inline SQLRETURN sql_get_cursor_name(StmtBlock& stmt, SQLCHAR* szCursor, SQLSMALLINT cbCursorMax,
                                     SQLSMALLINT* pcbCursor) {
  return sql_get_cursor_name(stmt, TextBuffer::narrow(szCursor, cbCursorMax), pcbCursor);
}
inline SQLRETURN sql_native_sql(ConnBlock& conn, SQLCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn, SQLCHAR* szSqlStr,
                                SQLINTEGER cbSqlStrMax, SQLINTEGER* pcbSqlStr) {
  return sql_native_sql(conn, szSqlStrIn, cbSqlStrIn, TextBuffer::narrow(szSqlStr, cbSqlStrMax), pcbSqlStr);
}

}  // namespace quarl::driver
