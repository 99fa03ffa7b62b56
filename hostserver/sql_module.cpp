// SQL on SQLite, as a module of the server: its options, the database it
// sets up at start, the handlers it registers (sql_session.h tells where
// each lives), and the work it does for a session between requests (rows
// read ahead, the rollback of a transaction left idle).  Each client has
// its own SQLite connection to one database file in WAL mode, so that its
// uncommitted changes stay its own.
#include <chrono>

#include <CLI/CLI.hpp>

#include "hostserver/server.h"
#include "hostserver/session.h"
#include "hostserver/sql_session.h"
#include "hostserver/sql_transactions.h"

namespace hostserver {

namespace {

// Rows a client's results may hold read ahead, over all its statements.
constexpr size_t kMaxReadAhead = 256 << 10;
// Rows read ahead in one turn of the worker, between its looks for the
// client's next request: a fetch that arrives meanwhile waits for a few
// rows, not for a whole block.
constexpr size_t kRowsPerTurn = 32;

class SqlModule : public Module {
 public:
  const char* name() const override { return "sql"; }

  void add_options(CLI::App& app) override {
    app.add_option("--database", options_.path,
                   "SQLite database file (default: a temporary one, or the demo database)");
    app.add_flag("--demo", options_.demo, "create (or reuse) the demo tables in the database (default " +
                                              default_demo_path() + ")");
    app.add_option("--statement-seconds", statement_seconds_, "time the SQL work of one request may take")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
    app.add_option("--client-memory-mb", client_memory_mb_,
                   "SQLite memory of one client (cache, statements, results, temporary tables)")
        ->capture_default_str()
        ->check(CLI::Range(4u, 1u << 20));
    app.add_option("--busy-seconds", busy_seconds_, "time a writer waits for another client's write lock")
        ->capture_default_str()
        ->check(CLI::Range(0u, 3600u));
    app.add_option("--transaction-idle-seconds", transaction_idle_seconds_,
                   "a client holding the write lock without a request this long has its transaction rolled back")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
  }

  bool start(Server& server, std::string& error) override {
    options_.max_value_bytes = server.options().max_value_bytes;
    options_.statement_time = std::chrono::seconds(statement_seconds_);
    options_.client_memory = size_t(client_memory_mb_) << 20;
    options_.busy_wait = std::chrono::seconds(busy_seconds_);
    context_.transaction_idle = std::chrono::seconds(transaction_idle_seconds_);
    return context_.database.start(options_, error);
  }

  void register_handlers(HandlerTable& t) override {
    register_statement_handlers(t, context_);
    register_transaction_handlers(t, context_);
    register_cancel_handlers(t);
    register_catalog_handlers(t, context_);
    register_long_value_handlers(t, context_);
  }

  bool idle(Session& s) override {
    SqlSession* ss = s.find_data<SqlSession>();
    if (!ss || !ss->db) return false;
    if (ss->client->in_write_transaction() && Session::Clock::now() >= transaction_deadline(s)) {
      roll_back_idle(*ss, s, context_.transaction_idle);
      return true;
    }
    if (!ss->ahead_id) return false;
    auto it = ss->statements.find(ss->ahead_id);
    if (it == ss->statements.end() || !it->second->cursor || !it->second->cursor->can_work_ahead()) return false;
    size_t held = 0;
    for (auto& [id, st] : ss->statements)
      if (st->cursor) held += st->cursor->buffered_bytes();
    if (held >= kMaxReadAhead) return false;
    ss->client->start_work();
    working_on(*ss, ss->ahead_id, [&] { it->second->cursor->produce(2 * (s.max_data() - 2), kRowsPerTurn); });
    return true;
  }

  Session::Clock::time_point wake_at(Session& s) override {
    SqlSession* ss = s.find_data<SqlSession>();
    if (!ss || !ss->db || !ss->client->in_write_transaction()) return Session::Clock::time_point::max();
    return transaction_deadline(s);
  }

  void stop() override { context_.database.stop(); }

 private:
  Session::Clock::time_point transaction_deadline(Session& s) const {
    return s.last_request() + context_.transaction_idle;
  }

  DatabaseOptions options_;
  SqlContext context_;
  unsigned statement_seconds_ = 60;
  unsigned client_memory_mb_ = 64;
  unsigned busy_seconds_ = 5;
  unsigned transaction_idle_seconds_ = 30;
};

}  // namespace

std::unique_ptr<Module> make_sql_module() { return std::make_unique<SqlModule>(); }

}  // namespace hostserver
