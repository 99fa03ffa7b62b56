// The exported ODBC 2.x entry points: each one forwards into the dispatcher
// of its handle kind.  Only these symbols leave the library (odbc2/libquarl.map).
#pragma GCC visibility push(default)
#include <sql.h>
#include <sqlext.h>
#pragma GCC visibility pop

#include "driver/core/catalog.h"
#include "driver/core/connect.h"
#include "driver/core/dispatch.h"
#include "driver/core/execute.h"
#include "driver/core/get_data_quick.h"
#include "driver/core/options.h"
#include "driver/core/results.h"
#include "driver/core/handles.h"
#include "driver/core/info.h"
#include "driver/core/statement.h"

using namespace quarl::driver;

extern "C" {

SQLRETURN SQL_API SQLAllocEnv(SQLHENV* phenv) {
  return dispatch_none([&] { return alloc_env(phenv); });
}

SQLRETURN SQL_API SQLAllocConnect(SQLHENV henv, SQLHDBC* phdbc) {
  return dispatch_env(henv, [&](EnvBlock& env) { return alloc_connect(env, phdbc); });
}

SQLRETURN SQL_API SQLFreeConnect(SQLHDBC hdbc) {
  return dispatch_conn(hdbc, [&](ConnBlock& conn) { return free_connect(conn); });
}

SQLRETURN SQL_API SQLFreeEnv(SQLHENV henv) {
  return dispatch_env(henv, [&](EnvBlock& env) { return free_env(env); });
}

SQLRETURN SQL_API SQLError(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLCHAR* szSqlState,
                           SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg, SQLSMALLINT cbErrorMsgMax,
                           SQLSMALLINT* pcbErrorMsg) {
  return dispatch_error(henv, hdbc, hstmt, szSqlState, pfNativeError, szErrorMsg, cbErrorMsgMax, pcbErrorMsg);
}

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC hdbc, SQLHSTMT* phstmt) {
  return dispatch_conn(hdbc, [&](ConnBlock& conn) { return alloc_stmt(conn, phstmt); });
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT hstmt, SQLUSMALLINT fOption) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return free_stmt(stmt, fOption); });
}

SQLRETURN SQL_API SQLConnect(SQLHDBC hdbc, SQLCHAR* szDSN, SQLSMALLINT cbDSN, SQLCHAR* szUID, SQLSMALLINT cbUID,
                             SQLCHAR* szAuthStr, SQLSMALLINT cbAuthStr) {
  return dispatch_conn(
      hdbc, [&](ConnBlock& conn) { return sql_connect(conn, szDSN, cbDSN, szUID, cbUID, szAuthStr, cbAuthStr); });
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND hwnd, SQLCHAR* szConnStrIn, SQLSMALLINT /*cbConnStrIn*/,
                                   SQLCHAR* szConnStrOut, SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut,
                                   SQLUSMALLINT fDriverCompletion) {
  return dispatch_conn(hdbc, [&](ConnBlock& conn) {
    return sql_driver_connect(conn, hwnd, szConnStrIn, szConnStrOut, cbConnStrOutMax, pcbConnStrOut,
                              fDriverCompletion);
  });
}

SQLRETURN SQL_API SQLBrowseConnect(SQLHDBC hdbc, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*) {
  return dispatch_conn(hdbc, [&](ConnBlock& conn) { return sql_browse_connect(conn); });
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC hdbc) {
  return dispatch_conn(hdbc, [&](ConnBlock& conn) { return sql_disconnect(conn); });
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC hdbc, SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                             SQLSMALLINT* pcbInfoValue) {
  return dispatch_conn(
      hdbc, [&](ConnBlock& conn) { return get_info(conn, fInfoType, rgbInfoValue, cbInfoValueMax, pcbInfoValue); });
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT hstmt, SQLSMALLINT fSqlType) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return get_type_info(stmt, fSqlType); });
}

// Catalog functions: the names go to the host unchanged.
SQLRETURN SQL_API SQLTables(SQLHSTMT hstmt, SQLCHAR* szTableQualifier, SQLSMALLINT cbTableQualifier,
                            SQLCHAR* szTableOwner, SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                            SQLSMALLINT cbTableName, SQLCHAR* /*szTableType*/, SQLSMALLINT /*cbTableType*/) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_tables(stmt, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                      {szTableName, cbTableName});
  });
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT hstmt, SQLCHAR* szTableQualifier, SQLSMALLINT cbTableQualifier,
                             SQLCHAR* szTableOwner, SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                             SQLSMALLINT cbTableName, SQLCHAR* /*szColumnName*/, SQLSMALLINT /*cbColumnName*/) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_columns(stmt, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                       {szTableName, cbTableName});
  });
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT hstmt, SQLCHAR* szTableQualifier, SQLSMALLINT cbTableQualifier,
                                SQLCHAR* szTableOwner, SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                SQLSMALLINT cbTableName, SQLUSMALLINT fUnique, SQLUSMALLINT /*fAccuracy*/) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_statistics(stmt, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                          {szTableName, cbTableName}, fUnique);
  });
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT hstmt, SQLUSMALLINT fColType, SQLCHAR* szTableQualifier,
                                    SQLSMALLINT cbTableQualifier, SQLCHAR* szTableOwner, SQLSMALLINT cbTableOwner,
                                    SQLCHAR* szTableName, SQLSMALLINT cbTableName, SQLUSMALLINT fScope,
                                    SQLUSMALLINT /*fNullable*/) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_special_columns(stmt, fColType, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                               {szTableName, cbTableName}, fScope);
  });
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT hstmt, SQLCHAR* szTableQualifier, SQLSMALLINT cbTableQualifier,
                                 SQLCHAR* szTableOwner, SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                 SQLSMALLINT cbTableName) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_primary_keys(stmt, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                            {szTableName, cbTableName});
  });
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT hstmt, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                 SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_foreign_keys(stmt); });
}

SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT hstmt, SQLCHAR* szTableQualifier, SQLSMALLINT cbTableQualifier,
                                     SQLCHAR* szTableOwner, SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                     SQLSMALLINT cbTableName) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_table_privileges(stmt, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                                {szTableName, cbTableName});
  });
}

SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT hstmt, SQLCHAR* szTableQualifier, SQLSMALLINT cbTableQualifier,
                                      SQLCHAR* szTableOwner, SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                      SQLSMALLINT cbTableName, SQLCHAR* szColumnName, SQLSMALLINT cbColumnName) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_column_privileges(stmt, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                                 {szTableName, cbTableName}, {szColumnName, cbColumnName});
  });
}

// Accepted; the host keeps no procedure catalog, and the statement is left as it was.
SQLRETURN SQL_API SQLProcedures(SQLHSTMT hstmt, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return dispatch_stmt(hstmt, [](StmtBlock&) -> SQLRETURN { return SQL_SUCCESS; });
}

SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT hstmt, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                      SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return dispatch_stmt(hstmt, [](StmtBlock&) -> SQLRETURN { return SQL_SUCCESS; });
}

// ---- statements and parameters ----

SQLRETURN SQL_API SQLPrepare(SQLHSTMT hstmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_prepare(stmt, szSqlStr, cbSqlStr); });
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT hstmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_exec_direct(stmt, szSqlStr, cbSqlStr); });
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT hstmt) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_execute(stmt); });
}

SQLRETURN SQL_API SQLSetParam(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT fCType, SQLSMALLINT fSqlType,
                              SQLULEN cbColDef, SQLSMALLINT ibScale, SQLPOINTER rgbValue, SQLLEN* pcbValue) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_bind_parameter(stmt, ipar, fCType, fSqlType, cbColDef, ibScale, rgbValue, pcbValue);
  });
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT /*fParamType*/, SQLSMALLINT fCType,
                                   SQLSMALLINT fSqlType, SQLULEN cbColDef, SQLSMALLINT ibScale, SQLPOINTER rgbValue,
                                   SQLLEN /*cbValueMax*/, SQLLEN* pcbValue) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_bind_parameter(stmt, ipar, fCType, fSqlType, cbColDef, ibScale, rgbValue, pcbValue);
  });
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                   SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_describe_param(stmt, ipar, pfSqlType, pcbColDef, pibScale, pfNullable);
  });
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT hstmt, SQLSMALLINT* pcpar) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_num_params(stmt, pcpar); });
}

SQLRETURN SQL_API SQLParamOptions(SQLHSTMT hstmt, SQLULEN crow, SQLULEN* pirow) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_param_options(stmt, crow, pirow); });
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT hstmt, SQLPOINTER* prgbValue) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_param_data(stmt, prgbValue); });
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT hstmt, SQLPOINTER rgbValue, SQLLEN cbValue) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_put_data(stmt, rgbValue, cbValue); });
}

// ---- result sets ----

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT hstmt, SQLSMALLINT* pccol) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_num_result_cols(stmt, pccol); });
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLCHAR* szColName, SQLSMALLINT cbColNameMax,
                                 SQLSMALLINT* pcbColName, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                 SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_describe_col(stmt, icol, szColName, cbColNameMax, pcbColName, pfSqlType, pcbColDef, pibScale,
                            pfNullable);
  });
}

SQLRETURN SQL_API SQLColAttributes(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT fDescType, SQLPOINTER rgbDesc,
                                   SQLSMALLINT cbDescMax, SQLSMALLINT* pcbDesc, SQLLEN* pfDesc) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_col_attributes(stmt, icol, fDescType, rgbDesc, cbDescMax, pcbDesc, pfDesc);
  });
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                             SQLLEN cbValueMax, SQLLEN* pcbValue) {
  return dispatch_stmt(hstmt,
                       [&](StmtBlock& stmt) { return sql_bind_col(stmt, icol, fCType, rgbValue, cbValueMax, pcbValue); });
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT hstmt) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_fetch(stmt); });
}

namespace {
// SQLGetData: the dispatcher's way, and nothing around its quick way.
struct GetDataFace {
  static bool enter(StmtBlock&) { return true; }
  static bool ready(StmtBlock&) { return true; }
  static SQLRETURN done(StmtBlock&) { return SQL_SUCCESS; }
  [[gnu::noinline]] static SQLRETURN dispatched(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType,
                                                SQLPOINTER rgbValue, SQLLEN cbValueMax, SQLLEN* pcbValue) noexcept {
    return dispatch_stmt(
        hstmt, [&](StmtBlock& stmt) { return sql_get_data(stmt, icol, fCType, rgbValue, cbValueMax, pcbValue); });
  }
  static SQLRETURN missed(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                          SQLLEN cbValueMax, SQLLEN* pcbValue) noexcept {
    return dispatched(hstmt, icol, fCType, rgbValue, cbValueMax, pcbValue);
  }
};
}  // namespace

SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                             SQLLEN cbValueMax, SQLLEN* pcbValue) {
  return get_data_quick<GetDataFace>(hstmt, icol, fCType, rgbValue, cbValueMax, pcbValue);
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT hstmt, SQLLEN* pcrow) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_row_count(stmt, pcrow); });
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT hstmt) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_more_results(stmt); });
}

SQLRETURN SQL_API SQLSetPos(SQLHSTMT hstmt, SQLSETPOSIROW /*irow*/, SQLUSMALLINT /*fOption*/,
                            SQLUSMALLINT /*fLock*/) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_set_pos(stmt); });
}

// ---- cursor names, options, transactions ----

SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT hstmt, SQLCHAR* szCursor, SQLSMALLINT cbCursor) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_set_cursor_name(stmt, szCursor, cbCursor); });
}

SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT hstmt, SQLCHAR* szCursor, SQLSMALLINT cbCursorMax,
                                   SQLSMALLINT* pcbCursor) {
  return dispatch_stmt(hstmt,
                       [&](StmtBlock& stmt) { return sql_get_cursor_name(stmt, szCursor, cbCursorMax, pcbCursor); });
}

SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT fOption, SQLULEN vParam) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_set_stmt_option(stmt, fOption, vParam); });
}

SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_get_stmt_option(stmt, fOption, pvParam); });
}

SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC hdbc, SQLUSMALLINT fOption, SQLULEN vParam) {
  return dispatch_conn(hdbc, [&](ConnBlock& conn) { return sql_set_connect_option(conn, fOption, vParam); });
}

SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC hdbc, SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  if (hdbc == SQL_NULL_HDBC) return dispatch_none([&] { return sql_get_connect_option(nullptr, fOption, pvParam); });
  return dispatch_conn(hdbc, [&](ConnBlock& conn) { return sql_get_connect_option(&conn, fOption, pvParam); });
}

SQLRETURN SQL_API SQLSetScrollOptions(SQLHSTMT hstmt, SQLUSMALLINT, SQLLEN, SQLUSMALLINT) {
  // Cursors stay forward-only and read-only.
  return dispatch_stmt(hstmt, [](StmtBlock&) { return SQLRETURN{SQL_SUCCESS}; });
}

SQLRETURN SQL_API SQLTransact(SQLHENV henv, SQLHDBC hdbc, SQLUSMALLINT fType) {
  if (hdbc != SQL_NULL_HDBC)
    return dispatch_conn(hdbc, [&](ConnBlock& conn) { return transact_connection(conn, fType); });
  return dispatch_env(henv, [&](EnvBlock& env) { return transact_environment(env, fType); });
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT hstmt) {
  return dispatch_stmt(hstmt, [&](StmtBlock& stmt) { return sql_cancel(stmt); });
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC hdbc, SQLCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn, SQLCHAR* szSqlStr,
                               SQLINTEGER cbSqlStrMax, SQLINTEGER* pcbSqlStr) {
  return dispatch_conn(hdbc, [&](ConnBlock& conn) {
    return sql_native_sql(conn, szSqlStrIn, cbSqlStrIn, szSqlStr, cbSqlStrMax, pcbSqlStr);
  });
}

}  // extern "C"
