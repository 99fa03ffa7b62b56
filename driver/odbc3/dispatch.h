// How every ODBC 3 call reaches the core: the handle is looked up (an
// unknown one gives SQL_INVALID_HANDLE), its diagnostics are emptied (each
// call reports its own), the calls on one connection and its statements are
// serialized (applications may share a connection between threads), and an
// exception becomes a return code and a diagnostic.  The return code is kept
// for SQL_DIAG_RETURNCODE.
#pragma once

#include <sql.h>

#include <mutex>

#include "driver/core/dispatch.h"
#include "driver/core/handles.h"
#include "driver/core/statement.h"

namespace quarl::driver::odbc3 {

// The body runs on the block under `mutex` with the block's diagnostics
// emptied first; its return code is kept.  The lock is held until the
// return code is stored (and any exception's diagnostic posted), so that
// another thread's call on the same connection cannot meet half of it.
template <typename Block, typename Mutex, typename F>
SQLRETURN guarded(Block& block, Mutex& mutex, F&& body) noexcept {
  std::unique_lock<Mutex> lock(mutex, std::defer_lock);
  SQLRETURN rc;
  try {
    lock.lock();
    block.errors.clear();
    rc = body(block);
  } catch (...) {
    rc = post_exception(&block.errors);
  }
  block.errors.returned = rc;
  return rc;
}

// A lock the caller holds already, for guarded: given back at the end.
struct HeldLock {
  CallMutex& mutex;
  void lock() noexcept {}
  void unlock() noexcept { mutex.unlock(); }
};

template <typename F>
SQLRETURN on_env(SQLHENV handle, F&& body) noexcept {
  EnvBlock* env = find_env(handle);
  return env ? guarded(*env, env->mutex, body) : SQL_INVALID_HANDLE;
}

template <typename F>
SQLRETURN on_conn(SQLHDBC handle, F&& body) noexcept {
  ConnBlock* conn = find_conn(handle);
  return conn ? guarded(*conn, conn->call_mutex, body) : SQL_INVALID_HANDLE;
}

// Every statement call but SQLFreeStmt: the statement outlives the body, so
// its return code is kept while the lock is still held.
template <typename F>
SQLRETURN on_stmt(SQLHSTMT handle, F&& body) noexcept {
  StmtBlock* stmt = find_stmt(handle);
  if (!stmt) return SQL_INVALID_HANDLE;
  return guarded(*stmt, stmt->conn->call_mutex, body);
}

// SQLFreeStmt: the body may drop the statement (SQL_DROP): nothing of it is
// touched afterwards unless it is still live.
template <typename F>
SQLRETURN on_freeing_stmt(SQLHSTMT handle, F&& body) noexcept {
  StmtBlock* stmt = find_stmt(handle);
  if (!stmt) return SQL_INVALID_HANDLE;
  ConnBlock* conn = stmt->conn;
  std::unique_lock<CallMutex> lock(conn->call_mutex, std::defer_lock);
  SQLRETURN rc;
  try {
    lock.lock();
    stmt->errors.clear();
    rc = body(*stmt);
  } catch (...) {
    StmtBlock* live = find_stmt(handle);
    rc = post_exception(live ? &live->errors : nullptr);
  }
  if (StmtBlock* live = find_stmt(handle)) live->errors.returned = rc;
  return rc;
}

template <typename F>
SQLRETURN on_desc(SQLHDESC handle, F&& body) noexcept {
  DescBlock* desc = find_desc(handle);
  return desc ? guarded(*desc, desc->stmt->conn->call_mutex, body) : SQL_INVALID_HANDLE;
}

}  // namespace quarl::driver::odbc3
