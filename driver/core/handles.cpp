#include "driver/core/handles.h"

#include <algorithm>
#include <list>
#include <mutex>
#include <new>

#include "driver/core/link.h"

namespace quarl::driver {
namespace {

// The environments; each owns its connections.
struct Environments {
  std::mutex mutex;
  std::list<std::unique_ptr<EnvBlock>> all;
};

Environments& environments() {
  static Environments* e = new Environments;
  return *e;
}

}  // namespace

EnvBlock::EnvBlock(const DriverFace& driver) : face(&driver) {}
EnvBlock::~EnvBlock() = default;

ConnBlock::ConnBlock(EnvBlock* owner) : env(owner) {}

ConnBlock::~ConnBlock() {
  // A connection freed while connected keeps its link and host login open:
  // those records stay in the process-wide lists.
  release_connection_id(connection_id);
}

SQLRETURN alloc_env(SQLHENV* phenv, const DriverFace& face) {
  if (!phenv) return SQL_ERROR;
  *phenv = SQL_NULL_HENV;
  try {
    auto env = std::make_unique<EnvBlock>(face);
    EnvBlock* raw = env.get();
    Environments& e = environments();
    std::lock_guard lock(e.mutex);
    e.all.push_back(std::move(env));
    *phenv = raw;
    return SQL_SUCCESS;
  } catch (const std::bad_alloc&) {
    return SQL_ERROR;
  }
}

SQLRETURN alloc_connect(EnvBlock& env, SQLHDBC* phdbc) {
  if (!phdbc) return SQL_ERROR;
  *phdbc = SQL_NULL_HDBC;
  auto slot = std::find(env.connections.begin(), env.connections.end(), nullptr);
  if (slot == env.connections.end()) return SQL_ERROR;  // all 64 slots used; no diagnostic
  try {
    auto conn = std::make_unique<ConnBlock>(&env);
    conn->connection_id = take_connection_id();
    if (conn->connection_id == 0) return SQL_ERROR;
    *phdbc = conn.get();
    *slot = std::move(conn);
    return SQL_SUCCESS;
  } catch (const std::bad_alloc&) {
    return SQL_ERROR;
  }
}

SQLRETURN free_connect(ConnBlock& conn) {
  conn.errors.clear();
  EnvBlock* env = conn.env;
  if (env) {
    for (auto& slot : env->connections) {
      if (slot.get() == &conn) {
        slot.reset();  // frees the record
        return SQL_SUCCESS;
      }
    }
  }
  return SQL_SUCCESS;
}

SQLRETURN free_env(EnvBlock& env) {
  env.errors.clear();
  Environments& e = environments();
  std::unique_ptr<EnvBlock> doomed;
  {
    std::lock_guard lock(e.mutex);
    auto it = std::find_if(e.all.begin(), e.all.end(), [&](auto& p) { return p.get() == &env; });
    if (it == e.all.end()) return SQL_SUCCESS;
    doomed = std::move(*it);
    e.all.erase(it);
  }
  // Connections still allocated go with their environment.
  return SQL_SUCCESS;
}

}  // namespace quarl::driver
