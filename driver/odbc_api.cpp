// The exported ODBC 2.x entry points: each one forwards into the dispatcher
// of its handle kind.  Only these symbols leave the library (libquarl.map).
#pragma GCC visibility push(default)
#include <sql.h>
#include <sqlext.h>
#pragma GCC visibility pop

#include "driver/connect.h"
#include "driver/dispatch.h"
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

}  // extern "C"
