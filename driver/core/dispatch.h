// One noexcept dispatcher per handle kind: finds the handle's record in the
// registry of live handles (an unknown handle gives SQL_INVALID_HANDLE),
// runs the body and turns any exception into a return code and a diagnostic
// on that handle.  The exported entry points are one-line calls into these.
#pragma once

#include <sql.h>

#include <exception>
#include <new>
#include <string>

#include "driver/core/diag.h"
#include "driver/core/handles.h"
#include "driver/core/statement.h"

namespace quarl::driver {

// The diagnostic for an exception that reached a dispatcher.
inline SQLRETURN post_exception(ErrorList* list) noexcept {
  if (!list) return SQL_ERROR;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return post(*list, SQL_ERROR, kErrMemory);
  } catch (const std::exception& e) {
    return post(*list, SQL_ERROR, kErrGeneral, std::string("Internal error: ") + e.what());
  } catch (...) {
    return post(*list, SQL_ERROR, kErrGeneral, "Internal error");
  }
}

// Entry points without a handle (SQLAllocEnv).
template <typename F>
SQLRETURN dispatch_none(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return SQL_ERROR;
  }
}

template <typename F>
SQLRETURN dispatch_env(SQLHENV handle, F&& body) noexcept {
  EnvBlock* env = find_env(handle);
  if (!env) return SQL_INVALID_HANDLE;
  try {
    return body(*env);
  } catch (...) {
    return post_exception(&env->errors);
  }
}

template <typename F>
SQLRETURN dispatch_conn(SQLHDBC handle, F&& body) noexcept {
  ConnBlock* conn = find_conn(handle);
  if (!conn) return SQL_INVALID_HANDLE;
  try {
    return body(*conn);
  } catch (...) {
    return post_exception(&conn->errors);
  }
}

template <typename F>
SQLRETURN dispatch_stmt(SQLHSTMT handle, F&& body) noexcept {
  StmtBlock* stmt = find_stmt(handle);
  if (!stmt) return SQL_INVALID_HANDLE;
  try {
    return body(*stmt);
  } catch (...) {
    // SQL_DROP may have freed the record before the exception.
    return post_exception(find_stmt(handle) ? &stmt->errors : nullptr);
  }
}

// SQLError: the first non-null handle of statement, connection, environment
// chooses the list; a non-null handle that is not live is invalid.
SQLRETURN dispatch_error(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLCHAR* szSqlState, SQLINTEGER* pfNativeError,
                         SQLCHAR* szErrorMsg, SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg) noexcept;

}  // namespace quarl::driver
