#include "driver/core/dispatch.h"

namespace quarl::driver {

SQLRETURN dispatch_error(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLCHAR* szSqlState, SQLINTEGER* pfNativeError,
                         SQLCHAR* szErrorMsg, SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg) noexcept {
  try {
    ErrorList* list = nullptr;
    OdbcVersion version = OdbcVersion::V2;
    if (hstmt) {
      StmtBlock* stmt = find_stmt(hstmt);
      if (!stmt) return SQL_INVALID_HANDLE;
      list = &stmt->errors;
      version = stmt->conn->version();
    } else if (hdbc) {
      ConnBlock* conn = find_conn(hdbc);
      if (!conn) return SQL_INVALID_HANDLE;
      list = &conn->errors;
      version = conn->version();
    } else if (henv) {
      EnvBlock* env = find_env(henv);
      if (!env) return SQL_INVALID_HANDLE;
      list = &env->errors;
      version = env->version;
    }
    return take_error(list, szSqlState, pfNativeError, szErrorMsg, cbErrorMsgMax, pcbErrorMsg, version);
  } catch (...) {
    return SQL_ERROR;
  }
}

}  // namespace quarl::driver
