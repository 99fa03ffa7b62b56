// The exported ODBC 2.x entry points: each one forwards into the dispatcher
// of its handle kind.  Only these symbols leave the library (libquarl.map).
#pragma GCC visibility push(default)
#include <sql.h>
#include <sqlext.h>
#pragma GCC visibility pop

#include "driver/catalog.h"
#include "driver/connect.h"
#include "driver/dispatch.h"
#include "driver/execute.h"
#include "driver/handles.h"
#include "driver/info.h"
#include "driver/statement.h"

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

}  // extern "C"
