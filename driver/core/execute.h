// Statements and parameters: SQLPrepare, SQLExecDirect, SQLExecute and the
// exchange with the host behind them, parameter binding, and the reading of
// result descriptions that the catalog and type information requests share.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <string_view>

namespace quarl::driver {

struct ConnBlock;
struct StmtBlock;

// Receive time-out for the exchange of a statement request.
inline constexpr uint8_t kStatementReceiveTimeout = 255;

// The common path of every request that the host answers with a result
// description (catalog functions, type information): the caller has written
// `length` request data bytes into conn.channel.out(); this discards the
// statement's unfetched rows, sends type 1 with `code`, waits (the
// connection's receive time-out) and reads the reply into the statement's
// result set with read_describe_reply.  Failures are posted on the statement:
// "08003" when not connected, "08S01" with the connection's pending
// diagnostics, the host's error items.  The reply is released.
SQLRETURN request_description(ConnBlock& conn, StmtBlock& stmt, unsigned code, size_t length);

// Reads a describe reply (data after the status digit, in the connection's
// received message) into the statement's result set, receiving continuation
// messages while column items are missing.
SQLRETURN read_describe_reply(ConnBlock& conn, StmtBlock& stmt, unsigned code, std::string_view data);

// Sends a statement request (execute direct 9, prepare 10, execute 11) with
// the statement's bound parameters and reads the reply.  text is null for
// execute.
SQLRETURN execute_statement(ConnBlock& conn, StmtBlock& stmt, unsigned code, const char* text, SQLINTEGER length);

// Entry point bodies.
SQLRETURN sql_prepare(StmtBlock& stmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr);
SQLRETURN sql_exec_direct(StmtBlock& stmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr);
SQLRETURN sql_execute(StmtBlock& stmt);
// cbValueMax is kept as the element size of column-wise parameter arrays.
SQLRETURN sql_bind_parameter(StmtBlock& stmt, SQLUSMALLINT ipar, SQLSMALLINT fCType, SQLSMALLINT fSqlType,
                             SQLULEN cbColDef, SQLSMALLINT ibScale, SQLPOINTER rgbValue, SQLLEN* pcbValue,
                             SQLLEN cbValueMax = 0);
SQLRETURN sql_describe_param(StmtBlock& stmt, SQLUSMALLINT ipar, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                             SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable);
SQLRETURN sql_num_params(StmtBlock& stmt, SQLSMALLINT* pcpar);
SQLRETURN sql_param_options(StmtBlock& stmt, SQLULEN crow, SQLULEN* pirow);
SQLRETURN sql_param_data(StmtBlock& stmt, SQLPOINTER* prgbValue);
SQLRETURN sql_put_data(StmtBlock& stmt, SQLPOINTER rgbValue, SQLLEN cbValue);

// Whether a length indicator asks for data at execution.
inline bool is_data_at_exec(SQLLEN indicator) {
  return indicator == SQL_DATA_AT_EXEC || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

}  // namespace quarl::driver
