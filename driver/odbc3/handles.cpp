// Handles by type, the environment's attributes and transactions by handle.
#include <mutex>

#include "driver/core/connect.h"
#include "driver/core/options.h"
#include "driver/odbc3/api.h"
#include "driver/odbc3/dispatch.h"
#include "driver/odbc3/face.h"

namespace quarl::driver::odbc3 {

SQLRETURN alloc_handle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      SQLRETURN rc = dispatch_none([&] { return alloc_env(output, kUnicodeFace); });
      // An application says which ODBC it speaks (SQL_ATTR_ODBC_VERSION)
      // before it connects; until then it is taken for an ODBC 3 one.
      if (rc == SQL_SUCCESS) find_env(*output)->version = OdbcVersion::V3;
      return rc;
    }
    case SQL_HANDLE_DBC:
      return on_env(input, [&](EnvBlock& env) { return alloc_connect(env, output); });
    case SQL_HANDLE_STMT:
      return on_conn(input, [&](ConnBlock& conn) { return alloc_stmt(conn, output); });
    case SQL_HANDLE_DESC:
      return on_conn(input, [&](ConnBlock& conn) {
        if (output) *output = SQL_NULL_HANDLE;
        return post(conn.errors, SQL_ERROR, kErrNotCapable,
                    "Descriptors are not allocated explicitly: every statement has its own");
      });
    default:
      return SQL_ERROR;
  }
}

SQLRETURN free_handle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      EnvBlock* env = find_env(handle);
      if (!env) return SQL_INVALID_HANDLE;
      for (auto& conn : env->connections)
        if (conn) return post(env->errors, SQL_ERROR, kErrSequence, "The environment still has connections");
      return dispatch_env(handle, [](EnvBlock& e) { return free_env(e); });
    }
    case SQL_HANDLE_DBC: {
      ConnBlock* conn = find_conn(handle);
      if (!conn) return SQL_INVALID_HANDLE;
      return on_env(conn->env, [&](EnvBlock&) {
        if (conn->connected()) return post(conn->errors, SQL_ERROR, kErrSequence, "The connection is still open");
        return free_connect(*conn);
      });
    }
    case SQL_HANDLE_STMT:
      return on_freeing_stmt(handle, [](StmtBlock& stmt) { return free_stmt(stmt, SQL_DROP); });
    case SQL_HANDLE_DESC:
      return on_desc(handle, [](DescBlock& desc) {
        return post(desc.errors, SQL_ERROR, kErrSequence, "A statement's own descriptor is freed with it");
      });
    default:
      return SQL_ERROR;
  }
}

SQLRETURN set_env_attr(EnvBlock& env, SQLINTEGER attribute, SQLPOINTER value) {
  auto v = reinterpret_cast<uintptr_t>(value);
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      if (v == SQL_OV_ODBC2) {
        env.version = OdbcVersion::V2;
      } else if (v == SQL_OV_ODBC3 || v == SQL_OV_ODBC3_80) {
        env.version = OdbcVersion::V3;
      } else {
        return post(env.errors, SQL_ERROR, kErrAttributeValue, "Unknown ODBC version " + std::to_string(v));
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_POOLING:
    case SQL_ATTR_CP_MATCH:
      return SQL_SUCCESS;  // the driver manager's business
    case SQL_ATTR_OUTPUT_NTS:
      if (v == SQL_TRUE) return SQL_SUCCESS;
      return post(env.errors, SQL_ERROR, kErrNotCapable, "Output strings are always terminated");
    default:
      return post(env.errors, SQL_ERROR, kErrOptionType);
  }
}

SQLRETURN get_env_attr(EnvBlock& env, SQLINTEGER attribute, SQLPOINTER value) {
  SQLINTEGER v;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION: v = env.version == OdbcVersion::V3 ? SQL_OV_ODBC3 : SQL_OV_ODBC2; break;
    case SQL_ATTR_OUTPUT_NTS: v = SQL_TRUE; break;
    case SQL_ATTR_CONNECTION_POOLING: v = SQL_CP_OFF; break;
    case SQL_ATTR_CP_MATCH: v = SQL_CP_STRICT_MATCH; break;
    default: return post(env.errors, SQL_ERROR, kErrOptionType);
  }
  if (value) *static_cast<SQLINTEGER*>(value) = v;
  return SQL_SUCCESS;
}

SQLRETURN end_tran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  auto check = [](ErrorList& errors, SQLSMALLINT c) {
    if (c == SQL_COMMIT || c == SQL_ROLLBACK) return true;
    post_error(errors, kErrAttributeValue, "Transaction completion must be SQL_COMMIT or SQL_ROLLBACK");
    return false;
  };
  if (type == SQL_HANDLE_DBC) {
    return on_conn(handle, [&](ConnBlock& conn) {
      if (!check(conn.errors, completion)) return SQLRETURN{SQL_ERROR};
      return transact_connection(conn, static_cast<SQLUSMALLINT>(completion));
    });
  }
  if (type == SQL_HANDLE_ENV) {
    return on_env(handle, [&](EnvBlock& env) {
      if (!check(env.errors, completion)) return SQLRETURN{SQL_ERROR};
      bool failed = false;
      for (auto& conn : env.connections) {
        if (!conn || !conn->connected()) continue;
        std::lock_guard lock(conn->call_mutex);
        conn->errors.clear();
        if (transact_connection(*conn, static_cast<SQLUSMALLINT>(completion)) != SQL_SUCCESS) failed = true;
      }
      if (failed) return post(env.errors, SQL_ERROR, kErrGeneral, "A connection's transaction did not end");
      return SQLRETURN{SQL_SUCCESS};
    });
  }
  return SQL_ERROR;
}

}  // namespace quarl::driver::odbc3
