#include "hostserver/database.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <new>

#include "common/platform/process.h"
#include "common/platform/system.h"
#include "common/text.h"
#include "hostserver/bounded_functions.h"
#include "hostserver/envelope.h"
#include "hostserver/server_log.h"

namespace hostserver {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

// ---- Memory accounting ----
//
// SQLite allocates through these functions.  Each block carries the size it
// was asked for and the account of the client connection whose thread made
// it; a client's allocation that would take its account past its budget is
// refused (SQLite then fails the statement with "out of memory", and the
// connection goes on).  A block may outlive its connection (SQLite keeps a
// little per file, freed by whichever connection closes the file last), so
// an account lives until its last block is freed.
struct MemoryAccount {
  std::atomic<int64_t> used{0};
  std::atomic<int64_t> references{1};  // the connection, and each live block
  int64_t limit = 0;
  std::atomic<bool> refused{false};
};

namespace {

struct alignas(16) BlockHeader {
  int64_t size;
  MemoryAccount* account;
};

// The account of the client connection this thread works for.
thread_local MemoryAccount* t_account = nullptr;
// The client connection of this thread (one per worker thread).
thread_local ClientDb* t_client = nullptr;

void release(MemoryAccount* a) {
  if (a->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete a;
}

void* accounted_malloc(int n) {
  MemoryAccount* a = t_account;
  if (a && a->used.load(std::memory_order_relaxed) + n > a->limit) {
    a->refused.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  auto* h = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + static_cast<size_t>(n)));
  if (!h) return nullptr;
  h->size = n;
  h->account = a;
  if (a) {
    a->used.fetch_add(n, std::memory_order_relaxed);
    a->references.fetch_add(1, std::memory_order_relaxed);
  }
  return h + 1;
}

void accounted_free(void* p) {
  if (!p) return;
  BlockHeader* h = static_cast<BlockHeader*>(p) - 1;
  MemoryAccount* a = h->account;
  int64_t n = h->size;
  std::free(h);
  if (a) {
    a->used.fetch_sub(n, std::memory_order_relaxed);
    release(a);
  }
}

void* accounted_realloc(void* p, int n) {
  BlockHeader* h = static_cast<BlockHeader*>(p) - 1;
  MemoryAccount* a = h->account;
  int64_t old = h->size;
  if (a && n > old && a->used.load(std::memory_order_relaxed) + (n - old) > a->limit) {
    a->refused.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  auto* moved = static_cast<BlockHeader*>(std::realloc(h, sizeof(BlockHeader) + static_cast<size_t>(n)));
  if (!moved) return nullptr;
  moved->size = n;
  if (a) a->used.fetch_add(n - old, std::memory_order_relaxed);
  return moved + 1;
}

int accounted_size(void* p) { return static_cast<int>((static_cast<BlockHeader*>(p) - 1)->size); }
int accounted_roundup(int n) { return (n + 7) & ~7; }
int accounted_init(void*) { return SQLITE_OK; }
void accounted_shutdown(void*) {}

bool install_memory_accounting(std::string& error) {
  static std::once_flag once;
  static int rc = SQLITE_OK;
  std::call_once(once, [] {
    static const sqlite3_mem_methods methods = {accounted_malloc, accounted_free,  accounted_realloc,
                                                accounted_size,   accounted_roundup, accounted_init,
                                                accounted_shutdown, nullptr};
    rc = sqlite3_config(SQLITE_CONFIG_MALLOC, &methods);
    if (rc == SQLITE_OK) rc = sqlite3_initialize();
  });
  if (rc == SQLITE_OK) return true;
  error = "cannot set up SQLite's memory accounting (" + std::string(sqlite3_errstr(rc)) + ")";
  return false;
}

// ---- The allow-list ----

// Names compared without regard to case.
bool listed(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view n) { return quarl::iequals(n, name); });
}

bool allowed_function(const char* name) {
  // The two-argument form of fts3_tokenizer hands SQL a pointer to call; the
  // one-argument form tells it where the library lies.
  return !listed(name ? name : "", {"fts3_tokenizer", "load_extension"});
}

bool allowed_module(const char* name) {
  return listed(name ? name : "", {"fts3", "fts4", "fts4aux", "fts5", "fts5vocab", "rtree", "rtree_i32"});
}

}  // namespace

bool pragma_allowed(std::string_view n, bool with_value) {
  // Informational: the argument names a table or an index, or bounds a check.
  if (listed(n, {"table_info", "table_xinfo", "table_list", "index_info", "index_xinfo", "index_list",
                 "foreign_key_list", "foreign_key_check", "integrity_check", "quick_check", "collation_list",
                 "function_list", "module_list", "pragma_list", "compile_options"}))
    return true;
  // Settings of the client's own connection (and the file's user version,
  // which is the application's).
  if (listed(n, {"foreign_keys", "case_sensitive_like", "recursive_triggers", "reverse_unordered_selects",
                 "defer_foreign_keys", "automatic_index", "query_only", "analysis_limit", "optimize",
                 "user_version"}))
    return true;
  // Read only: what the file, the process or the sandbox has set.
  return !with_value &&
         listed(n, {"application_id", "auto_vacuum", "busy_timeout", "cache_size", "cell_size_check", "data_version",
                    "encoding", "freelist_count", "hard_heap_limit", "journal_mode", "journal_size_limit",
                    "legacy_alter_table", "locking_mode", "max_page_count", "mmap_size", "page_count", "page_size",
                    "schema_version", "secure_delete", "soft_heap_limit", "synchronous", "temp_store", "threads",
                    "trusted_schema", "wal_autocheckpoint"});
}

// ---- The shared database ----

bool Database::start(DatabaseOptions options, std::string& error) {
  options_ = std::move(options);
  if (!install_memory_accounting(error)) return false;
  if (options_.path.empty() && options_.demo) options_.path = default_demo_path();
  if (options_.path.empty()) {
    // A private database that goes when the server stops.
    auto dir = quarl::platform::make_temp_folder("quarl-hostserver");
    if (!dir) {
      error = "cannot create a temporary folder for the database";
      return false;
    }
    temp_dir_ = dir->string();
    options_.path = (*dir / "host.sqlite").string();
  }
  if (options_.demo && !ensure_demo_database(options_.path, error)) return false;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(options_.path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::string mode;
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr);
    if (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      mode = text ? reinterpret_cast<const char*>(text) : "";
    }
    if (rc == SQLITE_OK) rc = sqlite3_finalize(stmt);
  }
  if (rc != SQLITE_OK) error = "cannot open database " + options_.path + ": " + sqlite3_errmsg(db);
  else if (mode != "wal") error = "cannot switch database " + options_.path + " to WAL mode (it stays in " + mode + ")";
  sqlite3_close_v2(db);
  return error.empty();
}

void Database::stop() {
  if (temp_dir_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(temp_dir_, ec);
  temp_dir_.clear();
}

// ---- One client's connection ----

std::unique_ptr<ClientDb> ClientDb::open(const Database& database, std::function<bool()> cancelled,
                                         std::string& error) {
  std::unique_ptr<ClientDb> c(new ClientDb);
  c->cancelled_ = std::move(cancelled);
  c->statement_time_ = database.options().statement_time;
  c->busy_wait_ = database.options().busy_wait;
  c->account_ = new MemoryAccount;
  c->account_->limit = static_cast<int64_t>(database.options().client_memory);
  t_account = c->account_;
  t_client = c.get();
  sqlite3*& db = c->db_;
  int rc = sqlite3_open_v2(database.path().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    error = "Cannot open the database: " + std::string(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    return nullptr;
  }
  int ok = 1;
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, &ok);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &ok);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, &ok);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, &ok);
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  // SQLite's length limit bounds a whole row as well as each value: a row
  // may hold a few values of the longest a client may store.
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH,
                static_cast<int>(std::min<uint64_t>(kRowValues * database.options().max_value_bytes, INT_MAX)));
  sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, kMaxSqlLength);
  sqlite3_limit(db, SQLITE_LIMIT_EXPR_DEPTH, kMaxExpressionDepth);
  sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, kMaxVariables);
  sqlite3_limit(db, SQLITE_LIMIT_COMPOUND_SELECT, 100);
  sqlite3_limit(db, SQLITE_LIMIT_TRIGGER_DEPTH, 100);
  sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 10000);
  sqlite3_limit(db, SQLITE_LIMIT_WORKER_THREADS, 0);
  // Temporary tables and indexes in memory, where the client's budget
  // counts them (not in files that could fill the host's disk).
  rc = sqlite3_exec(db, "PRAGMA foreign_keys=ON; PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    error = "Cannot set up the database connection: " + std::string(sqlite3_errmsg(db));
    return nullptr;
  }
  sqlite3_busy_handler(db, on_busy, c.get());
  sqlite3_progress_handler(db, 1000, on_progress, c.get());
  sqlite3_set_authorizer(db, authorize, c.get());
  if (!install_bounded_functions(db, c.get())) {
    error = "Cannot set up the database connection: " + std::string(sqlite3_errmsg(db));
    return nullptr;
  }
  return c;
}

ClientDb::~ClientDb() {
  if (db_) sqlite3_close_v2(db_);
  if (t_client == this) t_client = nullptr;
  if (t_account == account_) t_account = nullptr;
  if (account_) release(account_);
}

void ClientDb::start_work() {
  deadline_ = Clock::now() + statement_time_;
  timed_out_ = false;
  account_->refused.store(false, std::memory_order_relaxed);
}

bool ClientDb::in_write_transaction() const { return sqlite3_txn_state(db_, nullptr) == SQLITE_TXN_WRITE; }

bool ClientDb::must_stop() {
  if (cancelled_()) return true;
  if (Clock::now() >= deadline_) {
    timed_out_ = true;
    return true;
  }
  return false;
}

int ClientDb::on_progress(void* context) { return static_cast<ClientDb*>(context)->must_stop() ? 1 : 0; }

int ClientDb::on_busy(void* context, int count) {
  auto* self = static_cast<ClientDb*>(context);
  auto now = Clock::now();
  if (count == 0) self->busy_since_ = now;
  if (self->cancelled_() || now - self->busy_since_ >= self->busy_wait_ || now >= self->deadline_) return 0;
  quarl::platform::sleep_milliseconds(count < 10 ? 1 : 5);
  return 1;
}

int ClientDb::step(sqlite3_stmt* stmt) {
  // A write may change a table's keys.
  if (!sqlite3_stmt_readonly(stmt)) table_keys_.clear();
  int rc = sqlite3_step(stmt);
  // SQLite does not wait for the write lock when a transaction that holds a
  // read snapshot asks for it (the wait could deadlock in rollback mode);
  // in WAL mode the holder only ever commits or rolls back, so wait here.
  if (rc != SQLITE_BUSY || sqlite3_extended_errcode(db_) != SQLITE_BUSY || sqlite3_get_autocommit(db_) ||
      sqlite3_stmt_readonly(stmt))
    return rc;
  const auto since = Clock::now();
  while (rc == SQLITE_BUSY && sqlite3_extended_errcode(db_) == SQLITE_BUSY) {
    auto now = Clock::now();
    if (cancelled_() || now - since >= busy_wait_ || now >= deadline_) break;
    sqlite3_reset(stmt);
    quarl::platform::sleep_milliseconds(5);
    rc = sqlite3_step(stmt);
  }
  return rc;
}

SqlError ClientDb::failure(int rc) const {
  if (auto special = budget_failure(db_, rc)) return *special;
  return map_sqlite_error(rc, sqlite3_errmsg(db_));
}

std::optional<SqlError> ClientDb::budget_failure(sqlite3* db, int rc) {
  const ClientDb* self = t_client;
  if (!self || self->db_ != db) return std::nullopt;
  int primary = rc & 0xFF;
  if (primary == SQLITE_INTERRUPT && self->timed_out_)
    return SqlError{kErrGeneral,
                    "The statement ran longer than the " +
                        seconds_text(std::chrono::duration_cast<std::chrono::seconds>(self->statement_time_).count()) +
                        " the host allows one request, and was stopped"};
  if (primary == SQLITE_NOMEM && self->account_->refused.load(std::memory_order_relaxed))
    return SqlError{kErrMemory, "The statement needs more than the " +
                                      std::to_string(self->account_->limit >> 20) +
                                      " MiB of memory the host allows one client (cache, statements, results "
                                      "and temporary tables together)"};
  if (primary == SQLITE_BUSY && sqlite3_extended_errcode(db) == SQLITE_BUSY_SNAPSHOT)
    return SqlError{kErrSerialization,
                    "Serialization failure: another client changed the database after this transaction read "
                    "it; roll back and run the transaction again"};
  if (primary == SQLITE_BUSY)
    return SqlError{kErrGeneral,
                    "The database is locked: another client has held its write lock for more than " +
                        seconds_text(std::chrono::duration_cast<std::chrono::seconds>(self->busy_wait_).count())};
  return std::nullopt;
}

int ClientDb::authorize(void* context, int action, const char* a, const char* b, const char*, const char*) {
  auto* self = static_cast<ClientDb*>(context);
  switch (action) {
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_VIEW:
    case SQLITE_DELETE:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_INDEX:
    case SQLITE_DROP_TEMP_TABLE:
    case SQLITE_DROP_TEMP_TRIGGER:
    case SQLITE_DROP_TEMP_VIEW:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_VIEW:
    case SQLITE_INSERT:
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_UPDATE:
    case SQLITE_ALTER_TABLE:
    case SQLITE_REINDEX:
    case SQLITE_ANALYZE:
    case SQLITE_SAVEPOINT:
    case SQLITE_RECURSIVE:
      return SQLITE_OK;
    case SQLITE_TRANSACTION:
      self->transaction_verb_ = a ? a : "";
      return SQLITE_OK;
    case SQLITE_PRAGMA:
      return a && pragma_allowed(a, b != nullptr) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_FUNCTION:
      return allowed_function(b) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_VTABLE:
      return allowed_module(b) ? SQLITE_OK : SQLITE_DENY;
    default:  // ATTACH, DETACH and whatever a later SQLite adds
      return SQLITE_DENY;
  }
}

}  // namespace hostserver
