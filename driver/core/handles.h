// The records behind environment and connection handles.  A handle is the
// address of its record; records stay in place for their whole life and own
// their children (an environment its connections, a connection its
// statements).
#pragma once

#include <sql.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "hostlink/host_channel.h"
#include "driver/core/call_mutex.h"
#include "driver/core/diag.h"
#include "driver/core/face.h"
#include "driver/core/registry.h"
#include "driver/core/statement.h"

namespace quarl::driver {

inline constexpr int kMaxConnections = 64;  // per environment
inline constexpr int kMaxStatements = 64;   // per connection

struct PhysComm;
struct SubConnection;
struct ConnBlock;

struct EnvBlock {
  std::array<std::unique_ptr<ConnBlock>, kMaxConnections> connections;  // null = free slot
  ErrorList errors;
  // The driver this environment belongs to, and the ODBC version its
  // application asked for.
  const DriverFace* face = &kOdbc2Face;
  OdbcVersion version = OdbcVersion::V2;
  // Guards the connection slots where the face lets threads share handles.
  std::mutex mutex;

  explicit EnvBlock(const DriverFace& driver = kOdbc2Face);
  ~EnvBlock();
  EnvBlock(const EnvBlock&) = delete;
  EnvBlock& operator=(const EnvBlock&) = delete;

 private:
  HandleRegistration registration_{this, HandleKind::Env};
};

struct ConnBlock {
  char signature[16] = "Velmor32";  // printed by the disconnect trace line
  char dsn[64] = {};                // at most 63 characters
  char app_name[17] = {};           // sent with every statement allocation
  EnvBlock* env = nullptr;
  PhysComm* link = nullptr;         // null: not connected
  SubConnection* sub = nullptr;
  uint8_t version_first = 0;        // from the version reply
  uint8_t version_second = 0;
  uint8_t protocol_version = 0;
  char host_version[18] = {};       // at most 17 characters
  // Long and binary values (common/long_values.h): offered in the host's
  // version reply; agreed at the login, with the longest value it stores.
  bool host_offers_long_values = false;
  bool long_values = false;
  uint64_t long_value_limit = 0;
  // The message exchange: send buffer, time-outs, sequence characters and
  // the last accepted received message.
  hostlink::HostChannel channel;
  uint32_t login_timeout = 15;      // SQL_LOGIN_TIMEOUT; bounds the connect where the face says so
  uint32_t autocommit = 1;          // copied into each new statement
  uint8_t access_mode = 0;
  ErrorList errors;
  uint32_t async_enable_default = 0;
  uint32_t query_timeout_default = 0;
  std::array<std::unique_ptr<StmtBlock>, kMaxStatements> statements;  // null = free slot
  // Identifies the connection to the Host Server (statement allocation,
  // transaction requests): unique among the process's live connections.
  uint16_t connection_id = 0;

  explicit ConnBlock(EnvBlock* owner);
  ~ConnBlock();
  ConnBlock(const ConnBlock&) = delete;
  ConnBlock& operator=(const ConnBlock&) = delete;

  bool connected() const { return link != nullptr; }
  const DriverFace& face() const { return *env->face; }
  OdbcVersion version() const { return env->version; }

  // SQL_ATTR_CONNECTION_TIMEOUT in seconds (0: none), used where the face
  // lets the time-outs bound the waits.
  uint32_t connection_timeout = 0;
  // Where the face lets the time-outs bound the waits: the error index
  // (HYT00, HYT01) and the words for the wait that has just expired; 0 when
  // none did.
  uint16_t expired_index = 0;
  std::string expired_text;

  // Serializes the calls on this connection and its statements where the
  // face lets threads share them.
  CallMutex call_mutex;

 private:
  HandleRegistration registration_{this, HandleKind::Dbc};
};

// Handle lookups: the record when the handle is live and of that kind.
// (Inline: every entry point looks up, SQLGetData once a column.)
inline EnvBlock* find_env(const void* handle) {
  return is_live(handle, HandleKind::Env) ? static_cast<EnvBlock*>(const_cast<void*>(handle)) : nullptr;
}
inline ConnBlock* find_conn(const void* handle) {
  return is_live(handle, HandleKind::Dbc) ? static_cast<ConnBlock*>(const_cast<void*>(handle)) : nullptr;
}
inline StmtBlock* find_stmt(const void* handle) {
  return is_live(handle, HandleKind::Stmt) ? static_cast<StmtBlock*>(const_cast<void*>(handle)) : nullptr;
}
inline DescBlock* find_desc(const void* handle) {
  return is_live(handle, HandleKind::Desc) ? static_cast<DescBlock*>(const_cast<void*>(handle)) : nullptr;
}

// SQLAllocEnv, SQLAllocConnect, SQLFreeConnect, SQLFreeEnv.
SQLRETURN alloc_env(SQLHENV* phenv, const DriverFace& face = kOdbc2Face);
SQLRETURN alloc_connect(EnvBlock& env, SQLHDBC* phdbc);
SQLRETURN free_connect(ConnBlock& conn);
SQLRETURN free_env(EnvBlock& env);

}  // namespace quarl::driver
