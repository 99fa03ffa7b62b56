// The database and its sandbox.  All clients share one SQLite file in WAL
// mode; each has its own connection to it, opened under SQLite's defences
// for untrusted SQL: defensive mode, untrusted schema, no extension loading,
// no FTS3 tokenizer function, no ATTACH in any form, an allow-list of
// statement kinds and pragmas (compared without regard to case), limits on
// SQL length, expression depth and value size, and a time and memory budget
// for each client's SQL.  A client can change rows and tables, and nothing
// else: not other files, not the file's journal, locking or schema version,
// not the process's limits.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hostserver/sql_errors.h"
#include "hostserver/type_mapping.h"

namespace hostserver {

struct MemoryAccount;

struct DatabaseOptions {
  std::string path;  // empty: a private temporary database (or the demo file with demo)
  bool demo = false;
  // The SQL work of one request (a statement, a fetch's rows) may take this long.
  std::chrono::seconds statement_time{60};
  // SQLite memory of one client's connection: its cache, statements, results
  // and temporary tables.
  size_t client_memory = size_t(64) << 20;
  // How long a writer waits for another client's write lock.
  std::chrono::seconds busy_wait{5};
  // The longest string or blob a client may store.
  uint64_t max_value_bytes = uint64_t{16} << 20;
};

// Values of the longest a client may store that one row (or a value built in
// SQL) may hold: SQLite's length limit is this many times the value limit.
inline constexpr uint64_t kRowValues = 4;

// Limits of every client connection.
inline constexpr int kMaxSqlLength = 1 << 20;      // bytes of one statement's text
inline constexpr int kMaxExpressionDepth = 200;
inline constexpr int kMaxVariables = 1024;         // parameter markers of one statement

// The shared database: set up once at start, before any client connects.
class Database {
 public:
  // Sets up memory accounting (before anything else uses SQLite), creates a
  // temporary folder or the demo tables when asked, and switches the file to
  // WAL mode.  False with the reason in error.
  bool start(DatabaseOptions options, std::string& error);
  // Removes the temporary database, if one was made.
  void stop();

  const DatabaseOptions& options() const { return options_; }
  const std::string& path() const { return options_.path; }

 private:
  DatabaseOptions options_;
  std::string temp_dir_;
};

// One client's connection.  Used only by the client's worker thread.
class ClientDb {
 public:
  // cancelled tells whether the client wants the running work stopped.
  static std::unique_ptr<ClientDb> open(const Database& database, std::function<bool()> cancelled,
                                        std::string& error);
  ~ClientDb();
  ClientDb(const ClientDb&) = delete;
  ClientDb& operator=(const ClientDb&) = delete;

  sqlite3* handle() const { return db_; }

  // A request's SQL work begins: its time budget starts now.
  void start_work();
  // Steps a statement.  A write inside a transaction that has read already
  // waits for the write lock like any other writer (SQLite alone would fail
  // at once).
  int step(sqlite3_stmt* stmt);
  // The transaction verb ("BEGIN", "COMMIT", "ROLLBACK") of the statement
  // prepared last, or empty.
  const std::string& transaction_verb() const { return transaction_verb_; }
  void clear_transaction_verb() { transaction_verb_.clear(); }
  // Whether the running work must stop: the client cancelled it, or its time
  // is up (the failure then names the time budget).
  bool must_stop();
  // Whether the connection holds the write lock.
  bool in_write_transaction() const;
  // The table keys its descriptions remember (forgotten by every statement
  // of this connection that may write).
  TableKeyCache& table_keys() { return table_keys_; }

  // A failure of this connection as an error item, naming the budget that
  // stopped it (time, memory) or asking for a retry (a conflict).
  SqlError failure(int rc) const;
  // The failure of db when it is a client connection of this thread, else nullopt.
  static std::optional<SqlError> budget_failure(sqlite3* db, int rc);

 private:
  ClientDb() = default;
  static int on_progress(void* self);
  static int on_busy(void* self, int count);
  static int authorize(void* self, int action, const char* a, const char* b, const char* c, const char* d);

  sqlite3* db_ = nullptr;
  MemoryAccount* account_ = nullptr;
  std::function<bool()> cancelled_;
  std::chrono::steady_clock::duration statement_time_{};
  std::chrono::steady_clock::duration busy_wait_{};
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
  std::chrono::steady_clock::time_point busy_since_{};
  bool timed_out_ = false;
  std::string transaction_verb_;
  TableKeyCache table_keys_;
};

// The name of a database for --demo when none is given, and its tables.
std::string default_demo_path();
bool ensure_demo_database(const std::string& path, std::string& error);

// What the sandbox lets a pragma do: its name compared without regard to
// case; with_value when a value or argument is given.
bool pragma_allowed(std::string_view name, bool with_value);

}  // namespace hostserver
