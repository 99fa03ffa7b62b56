// SQL on SQLite: statement allocation and free, execute direct, prepare and
// execute, fetch, autocommit, transaction end and cancel.  Each client has
// its own SQLite connection to one database file in WAL mode, so that its
// uncommitted changes stay its own.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <CLI/CLI.hpp>

#include "common/hostmsg.h"
#include "hostserver/describe.h"
#include "hostserver/row_encoder.h"
#include "hostserver/server.h"
#include "hostserver/server_log.h"
#include "hostserver/session.h"
#include "hostserver/sql_errors.h"
#include "hostserver/sql_session.h"
#include "hostserver/type_mapping.h"

namespace hostserver {

namespace code = quarl::hostmsg::code;

namespace {

// The database all sessions open (set at start).
Database* g_database = nullptr;
// How long a client may hold the write lock without a request before the
// host rolls its transaction back (set at start).
std::chrono::seconds g_transaction_idle{30};
// Longest statement text, most parameter entries, and most bytes of the
// messages of one request.
constexpr size_t kMaxText = kMaxSqlLength;
constexpr size_t kMaxParams = kMaxVariables;
constexpr size_t kMaxRequestBytes = 2 * kMaxText;
// Rows a client's results may hold read ahead, over all its statements.
constexpr size_t kMaxReadAhead = 256 << 10;

}  // namespace

bool cancelled(const SqlSession& ss) {
  int target = ss.session->cancel_target.load(std::memory_order_relaxed);
  return target == Session::kCancelAll || (target >= 0 && target == ss.working_on);
}

namespace {

// While the host has rolled the client's transaction back, statements are
// refused until the client ends it.  True when the request was answered.
bool refused_after_rollback(SqlSession& ss, Session& s, const Request& r) {
  if (ss.aborted.empty()) return false;
  s.reply_error(r, kErrSerialization, ss.aborted);
  return true;
}

// Runs work while the progress handler can tell it is for statement id.
template <typename F>
auto working_on(SqlSession& ss, unsigned id, F&& f) {
  ss.working_on = static_cast<int>(id);
  struct Reset {
    SqlSession& ss;
    ~Reset() { ss.working_on = -1; }
  } reset{ss};
  return f();
}

bool exec(SqlSession& ss, const Request& r, const char* sql) {
  int rc = sqlite3_exec(ss.db, sql, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  SqlError e = sqlite_error(ss.db, rc);
  ss.session->reply_error(r, e.index, e.text);
  return false;
}

// With autocommit off, statements run inside a transaction that the
// client ends.
bool begin_if_needed(SqlSession& ss, const Request& r) {
  if (ss.autocommit || !sqlite3_get_autocommit(ss.db)) return true;
  return exec(ss, r, "BEGIN");
}

// Switching autocommit on commits what is open.  Replies only on failure.
bool set_autocommit(SqlSession& ss, const Request& r, bool on) {
  if (on && !ss.autocommit && !sqlite3_get_autocommit(ss.db) && !exec(ss, r, "COMMIT")) return false;
  ss.autocommit = on;
  return true;
}

// Whether text after the first statement holds anything but blanks, ';'
// and comments.
bool more_statements(const char* tail) {
  const char* p = tail;
  while (p && *p) {
    if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == ';') {
      ++p;
    } else if (p[0] == '-' && p[1] == '-') {
      while (*p && *p != '\n') ++p;
    } else if (p[0] == '/' && p[1] == '*') {
      const char* end = std::strstr(p + 2, "*/");
      if (!end) return false;
      p = end + 2;
    } else {
      return true;
    }
  }
  return false;
}

// Prepares the request's text (one statement) into st.stmt.
bool prepare_text(SqlSession& ss, Session& s, const Request& r, HostStatement& st) {
  st.reset();
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  ss.client->clear_transaction_verb();
  int rc = sqlite3_prepare_v3(ss.db, st.text.data(), static_cast<int>(st.text.size()), SQLITE_PREPARE_PERSISTENT,
                              &raw, &tail);
  StmtPtr stmt(raw);
  if (rc != SQLITE_OK) {
    SqlError e = sqlite_error(ss.db, rc);
    s.reply_error(r, e.index, e.text);
    return false;
  }
  if (!stmt) {
    s.reply_error(r, kErrSyntax, "The request holds no SQL statement");
    return false;
  }
  // The tail is checked within the text that was sent (it is not terminated).
  std::string rest(tail ? tail : "", tail ? st.text.data() + st.text.size() - tail : 0);
  if (more_statements(rest.c_str())) {
    s.reply_error(r, kErrSyntax, "Only one SQL statement per request");
    return false;
  }
  st.stmt = std::move(stmt);
  std::string().swap(st.text);  // SQLite keeps its own copy
  return true;
}

// Steps a bound statement and answers: a describe reply for a result, or
// the row count of its changes.
void run_statement(SqlSession& ss, Session& s, const Request& r, HostStatement& st, unsigned request_code) {
  sqlite3_stmt* stmt = st.stmt.get();
  sqlite3_int64 before = sqlite3_total_changes64(ss.db);
  int rc = working_on(ss, st.id, [&] { return ss.client->step(stmt); });
  bool has_columns = sqlite3_column_count(stmt) > 0;
  if ((rc == SQLITE_ROW || rc == SQLITE_DONE) && request_code == code::kExecute &&
      static_cast<size_t>(sqlite3_column_count(stmt)) != st.columns.size()) {
    sqlite3_reset(stmt);  // SQLite prepared it anew after a schema change
    s.reply_error(r, kErrGeneral, "The statement's result columns changed since it was prepared; prepare it again");
    return;
  }
  if (rc == SQLITE_ROW || (rc == SQLITE_DONE && has_columns)) {
    std::vector<ColumnSpec> columns = request_code == code::kExecute
                                          ? st.columns
                                          : describe_result(ss.db, stmt, wire_types(s), &ss.client->table_keys());
    st.cursor = std::make_unique<Cursor>(columns, ss.db, stmt, rc == SQLITE_ROW, rc == SQLITE_DONE);
    ss.ahead_id = st.id;
    send_describe(s, r, -1, columns, 0);
    return;
  }
  if (rc == SQLITE_DONE) {
    long long changes = sqlite3_total_changes64(ss.db) != before ? sqlite3_changes64(ss.db) : 0;
    sqlite3_reset(stmt);
    send_describe(s, r, changes, {}, 0);
    return;
  }
  SqlError e = sqlite_error(ss.db, rc);
  sqlite3_reset(stmt);
  s.reply_error(r, e.index, e.text);
}

// ---- handlers ----

void alloc_statement(Session& s, Request& r) {
  SqlSession* ss = sql_session(s, r);
  if (!ss) return;
  // Data: autocommit digit, four characters naming the client connection,
  // the application name with a three-digit length.
  if (!r.data.empty() && (r.data[0] == '0' || r.data[0] == '1') && !set_autocommit(*ss, r, r.data[0] == '1'))
    return;
  if (ss->statements.size() >= SqlSession::kMaxStatements) {
    s.reply_error(r, kErrMemory,
                  "No free statement handles on the host (" + std::to_string(SqlSession::kMaxStatements) + " in use)");
    return;
  }
  unsigned id = ss->next_id;
  while (ss->statements.count(id)) id = id % 9999 + 1;
  ss->next_id = id % 9999 + 1;
  auto st = std::make_unique<HostStatement>();
  st->id = id;
  ss->statements[id] = std::move(st);
  std::string reply(1, kStatusOk);
  append_digits(reply, 4, id);
  s.reply(r, reply);
}

void free_statement(Session& s, Request& r) {
  SqlSession* ss = sql_session(s, r);
  if (!ss) return;
  HostStatement* st = find_statement(*ss, s, r);
  if (!st) return;
  unsigned option = 0;
  if (r.data.size() < 5 || !parse_digits(std::string_view(r.data).substr(4, 1), option)) {
    s.reply_error(r, kErrArgument, "Malformed free statement request");
    return;
  }
  switch (option) {
    case 0: st->cursor.reset(); break;           // SQL_CLOSE
    case 1: ss->statements.erase(st->id); break;  // SQL_DROP
    default: break;                               // SQL_UNBIND, SQL_RESET_PARAMS: nothing kept here
  }
  s.reply(r, std::string(1, kStatusOk));
}

void statement_request(Session& s, Request& r) {
  SqlSession* ss = sql_session(s, r);
  if (!ss) return;
  HostStatement* st = find_statement(*ss, s, r);
  if (!st) return;
  // Values sent ahead (long values) belong to this request, whatever its end.
  struct EndOfRequest {
    HostStatement& st;
    ~EndOfRequest() {
      if (!st.collecting) st.apart.clear();
    }
  } end_of_request{*st};
  std::string_view d = r.data;
  unsigned first = 0, last = 0, count = 0;
  if (d.size() < 10 || !parse_digits(d.substr(4, 1), first) || !parse_digits(d.substr(5, 1), last) ||
      !parse_digits(d.substr(6, 4), count) || first > 1 || last > 1) {
    s.reply_error(r, kErrArgument, "Malformed statement request");
    return;
  }
  if (first) {
    // Requests do not overlap: one that starts ends any other in collection,
    // so a client holds at most one request's text.
    for (auto& [other_id, other] : ss->statements)
      if (other->collecting) {
        other->collecting = false;
        other->text.clear();
        other->params.clear();
      }
    st->collecting = true;
    st->collect_code = r.code;
    st->collected = 0;
    st->text.clear();
    st->params.clear();
  } else if (!st->collecting || st->collect_code != r.code) {
    st->collecting = false;
    s.reply_error(r, kErrSequence, "A continued statement request without its first message");
    return;
  }
  std::string problem;
  size_t used = 0;
  st->collected += d.size();
  if (!parse_param_entries(d.substr(10), count, st->params, used, problem, {s.long_values(), true}) ||
      st->params.size() > kMaxParams ||
      st->text.size() + (d.size() - 10 - used) > kMaxText || st->collected > kMaxRequestBytes) {
    st->collecting = false;
    st->text.clear();
    st->params.clear();
    if (problem.empty())
      problem = "Statement request too large (at most " + std::to_string(kMaxText >> 20) + " MiB of SQL text, " +
                std::to_string(kMaxParams) + " parameters and " + std::to_string(kMaxRequestBytes >> 20) +
                " MiB in all)";
    s.reply_error(r, kErrArgument, problem);
    return;
  }
  st->text.append(d.substr(10 + used));
  if (!last) {
    send_describe(s, r, 0, {}, 0);  // more to come: an empty description meanwhile
    return;
  }
  st->collecting = false;

  if (r.code == code::kPrepare) {
    if (!prepare_text(*ss, s, r, *st)) return;
    sqlite3_stmt* stmt = st->stmt.get();
    // Described without being stepped: the description cannot depend on
    // the data or on parameter values.
    st->columns = describe_result(ss->db, stmt, wire_types(s), &ss->client->table_keys());
    st->prepared = true;
    send_describe(s, r, -1, st->columns, static_cast<unsigned>(sqlite3_bind_parameter_count(stmt)));
    return;
  }

  if (r.code == code::kExecDirect) {
    if (!prepare_text(*ss, s, r, *st)) return;
    if (!ss->aborted.empty()) {
      // SQL that ends the transaction ends the refusal: a rollback is what
      // the host did already, a commit cannot be done.
      const std::string& verb = ss->client->transaction_verb();
      bool ends = verb == "COMMIT" || verb == "ROLLBACK";
      std::string reason = ss->aborted;
      if (ends) ss->aborted.clear();
      if (verb == "ROLLBACK") {
        st->stmt.reset();
        send_describe(s, r, 0, {}, 0);
      } else {
        s.reply_error(r, kErrSerialization, reason);
      }
      return;
    }
  } else {  // execute what was prepared
    if (refused_after_rollback(*ss, s, r)) return;
    if (!st->prepared || !st->stmt) {
      s.reply_error(r, kErrSequence, "The statement has not been prepared");
      return;
    }
    st->cursor.reset();
    sqlite3_reset(st->stmt.get());
    sqlite3_clear_bindings(st->stmt.get());
  }
  if (!take_apart_values(*st, st->params, problem) || !bind_params(st->stmt.get(), st->params, problem)) {
    s.reply_error(r, kErrArgument, problem);
    return;
  }
  if (!begin_if_needed(*ss, r)) return;
  run_statement(*ss, s, r, *st, r.code);
}

// Parameter arrays: the prepared statement runs once for each set of the
// message.  Data: statement id (4), number of sets (4), entries per set (4),
// then the sets' entries one set after another.  Reply: the status digit, the
// sets run (4), the rows they changed ('-' when negative, 10 digits), and
// the status digit of the last set run, followed by its error items when it
// failed: the first set that fails ends the message's work (the sets before
// it keep their changes).
void execute_sets(Session& s, Request& r) {
  SqlSession* ss = sql_session(s, r);
  if (!ss) return;
  HostStatement* st = find_statement(*ss, s, r);
  if (!st) return;
  std::string_view d = r.data;
  unsigned sets = 0, per_set = 0;
  if (d.size() < 12 || !parse_digits(d.substr(4, 4), sets) || !parse_digits(d.substr(8, 4), per_set) || sets == 0 ||
      per_set > kMaxParams) {
    s.reply_error(r, kErrArgument, "Malformed parameter set request");
    return;
  }
  if (!st->prepared || !st->stmt) {
    s.reply_error(r, kErrSequence, "The statement has not been prepared");
    return;
  }
  if (!st->columns.empty()) {
    s.reply_error(r, kErrNotCapable, "A statement with a result takes one set of parameters at a time");
    return;
  }
  st->cursor.reset();
  if (!begin_if_needed(*ss, r)) return;
  d.remove_prefix(12);
  sqlite3_stmt* stmt = st->stmt.get();
  long long changed = 0;
  unsigned run = 0;
  ErrorItems failure;
  std::vector<ParamEntry> params;
  for (unsigned i = 0; i < sets; ++i) {
    ++run;
    params.clear();
    size_t used = 0;
    std::string problem;
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (!parse_param_entries(d, per_set, params, used, problem, {s.long_values(), false}) ||
        !bind_params(stmt, params, problem)) {
      failure.add(kErrArgument, problem);
      break;
    }
    d.remove_prefix(used);
    sqlite3_int64 before = sqlite3_total_changes64(ss->db);
    int rc = working_on(*ss, st->id, [&] { return sqlite3_step(stmt); });
    if (rc == SQLITE_DONE) {
      if (sqlite3_total_changes64(ss->db) != before) changed += sqlite3_changes64(ss->db);
      continue;
    }
    if (rc == SQLITE_ROW) {
      failure.add(kErrNotCapable, "A statement with a result takes one set of parameters at a time");
    } else {
      SqlError e = sqlite_error(ss->db, rc);
      failure.add(e.index, e.text);
    }
    break;
  }
  sqlite3_reset(stmt);
  std::string reply(1, kStatusOk);
  append_digits(reply, 4, run);
  append_signed(reply, 10, changed);
  reply += failure.empty() ? std::string(1, kStatusOk) : failure.reply_data(kStatusError, s.max_data() - reply.size());
  s.reply(r, reply);
}

void fetch(Session& s, Request& r) {
  SqlSession* ss = sql_session(s, r);
  if (!ss) return;
  HostStatement* st = find_statement(*ss, s, r);
  if (!st) return;
  if (refused_after_rollback(*ss, s, r)) return;
  if (!st->cursor) {
    s.reply_error(r, kErrSequence, "No result to fetch from");
    return;
  }
  if (st->cursor->finished()) {
    s.reply(r, std::string(1, kStatusNoData));
    return;
  }
  // Rows of one fetch fill at most two messages: the client appends the
  // data of each after its two flag bytes into an area of twice the data
  // length.
  size_t per_message = s.max_data() - 2;
  Block block = working_on(*ss, st->id, [&] { return st->cursor->next(2 * per_message); });
  ss->ahead_id = st->id;
  if (block.failed && block.rows.empty()) {
    s.reply_error(r, block.error_index, block.error_text);
    return;
  }
  std::string message;
  message.reserve(per_message + 2);
  std::string_view rows = block.rows;
  if (rows.size() > per_message) {
    message.assign("00").append(rows.substr(0, per_message));
    s.reply(r, message);
    rows.remove_prefix(per_message);
  }
  message.assign("01").append(rows);
  s.reply(r, message);
}

void autocommit_request(Session& s, Request& r) {
  SqlSession* ss = sql_session(s, r);
  if (!ss) return;
  // Five bytes per statement: its id and the autocommit digit.
  std::string_view d = r.data;
  unsigned id = 0, flag = 0;
  if (d.empty() || d.size() % 5 != 0) {
    s.reply_error(r, kErrArgument, "Malformed autocommit request");
    return;
  }
  for (size_t at = 0; at < d.size(); at += 5)
    if (!parse_digits(d.substr(at, 4), id) || !parse_digits(d.substr(at + 4, 1), flag) || flag > 1) {
      s.reply_error(r, kErrArgument, "Malformed autocommit request");
      return;
    }
  if (flag == 1 && !ss->aborted.empty()) {  // switching autocommit on would commit
    std::string reason = std::move(ss->aborted);
    ss->aborted.clear();
    ss->autocommit = true;
    s.reply_error(r, kErrSerialization, reason);
    return;
  }
  if (!set_autocommit(*ss, r, flag == 1)) return;
  s.reply(r, std::string(1, kStatusOk));
}

void transact(Session& s, Request& r) {
  SqlSession* ss = sql_session(s, r);
  if (!ss) return;
  unsigned kind = 0;
  if (r.data.size() < 5 || !parse_digits(std::string_view(r.data).substr(4, 1), kind) || kind > 1) {
    s.reply_error(r, kErrArgument, "Malformed transaction request");
    return;
  }
  if (!ss->aborted.empty()) {  // the host rolled back already: a commit fails, a rollback is done
    std::string reason = std::move(ss->aborted);
    ss->aborted.clear();
    if (kind == 0) {
      s.reply_error(r, kErrSerialization, reason);
      return;
    }
  }
  if (!sqlite3_get_autocommit(ss->db) && !exec(*ss, r, kind == 0 ? "COMMIT" : "ROLLBACK")) return;
  s.reply(r, std::string(1, kStatusOk));
}

unsigned cancel_id(const Request& r) {
  unsigned id = 0;
  if (r.data.size() < 4 || !parse_digits(std::string_view(r.data).substr(0, 4), id)) return 0;
  return id;
}

// As soon as it arrives: whatever runs for the statement stops.
void cancel_arrived(Session& s, const Request& r) {
  if (unsigned id = cancel_id(r)) {
    int none = Session::kCancelNone;
    s.cancel_target.compare_exchange_strong(none, static_cast<int>(id));
  }
}

// In turn: the statement's result ends, and the client hears so.
void cancel(Session& s, Request& r) {
  unsigned id = cancel_id(r);
  if (SqlSession* ss = s.find_data<SqlSession>()) {
    auto it = ss->statements.find(id);
    if (it != ss->statements.end() && it->second->cursor) it->second->cursor->close();
  }
  int target = static_cast<int>(id);
  s.cancel_target.compare_exchange_strong(target, Session::kCancelNone);
  std::string data(1, kStatusOk);
  append_digits(data, 4, id);
  s.send(r.sub_id, quarl::hostmsg::kDatabase, code::kCancelAck, data);
}

// A request that replaces or closes a statement's result stops the work
// still running for that result (reading ahead, typically) as soon as it
// arrives; it clears the mark before it runs, so its own work goes ahead.
void discard_arrived(Session& s, const Request& r) {
  unsigned id = cancel_id(r);
  if (!id) return;
  // Freeing with SQL_UNBIND or SQL_RESET_PARAMS keeps the result.
  if (r.code == code::kFreeStmt && (r.data.size() < 5 || (r.data[4] != '0' && r.data[4] != '1'))) return;
  int none = Session::kCancelNone;
  s.cancel_target.compare_exchange_strong(none, static_cast<int>(id));
}

Handler discarding(std::function<void(Session&, Request&)> run) {
  Handler h;
  h.on_arrival = discard_arrived;
  h.run = [run = std::move(run)](Session& s, Request& r) {
    int target = static_cast<int>(cancel_id(r));
    if (target) s.cancel_target.compare_exchange_strong(target, Session::kCancelNone);
    run(s, r);
  };
  return h;
}

}  // namespace

Handler discarding_handler(std::function<void(Session&, Request&)> run) { return discarding(std::move(run)); }

namespace {

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
    g_transaction_idle = std::chrono::seconds(transaction_idle_seconds_);
    if (!database_.start(options_, error)) return false;
    g_database = &database_;
    return true;
  }

  void register_handlers(HandlerTable& t) override {
    using quarl::hostmsg::kDatabase;
    t.add(kDatabase, code::kAllocStmt, alloc_statement);
    t.add(kDatabase, code::kFreeStmt, discarding(free_statement));
    t.add(kDatabase, code::kExecDirect, discarding(statement_request));
    t.add(kDatabase, code::kPrepare, discarding(statement_request));
    t.add(kDatabase, code::kExecute, discarding(statement_request));
    t.add(kDatabase, code::kExecuteSets, discarding(execute_sets));
    t.add(kDatabase, code::kFetch, fetch);
    t.add(kDatabase, code::kAutocommit, autocommit_request);
    t.add(kDatabase, code::kTransact, transact);
    t.add(quarl::hostmsg::kControl, code::kCancel, {cancel, cancel_arrived});
    register_catalog_handlers(t);
    register_long_value_handlers(t);
  }

  bool idle(Session& s) override {
    SqlSession* ss = s.find_data<SqlSession>();
    if (!ss || !ss->db) return false;
    if (ss->client->in_write_transaction() && Session::Clock::now() >= transaction_deadline(s)) {
      roll_back_idle(*ss, s);
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
    working_on(*ss, ss->ahead_id, [&] { it->second->cursor->produce(2 * (s.max_data() - 2)); });
    return true;
  }

  Session::Clock::time_point wake_at(Session& s) override {
    SqlSession* ss = s.find_data<SqlSession>();
    if (!ss || !ss->db || !ss->client->in_write_transaction()) return Session::Clock::time_point::max();
    return transaction_deadline(s);
  }

  void stop() override { database_.stop(); }

 private:
  static Session::Clock::time_point transaction_deadline(Session& s) {
    return s.last_request() + g_transaction_idle;
  }

  // The client holds the write lock and has sent nothing for too long:
  // everyone else's writes wait for it.  Its transaction goes, and its next
  // statement hears why.
  static void roll_back_idle(SqlSession& ss, Session& s) {
    for (auto& [id, st] : ss.statements)
      if (st->cursor) st->cursor->close();
    sqlite3_exec(ss.db, "ROLLBACK", nullptr, nullptr, nullptr);
    ss.aborted = "The host rolled back this transaction: it held the database's write lock for " +
                 seconds_text(g_transaction_idle.count()) +
                 " without a request, keeping other clients from writing; roll back and run the transaction again";
    log_line("rollback", "#" + std::to_string(s.id()) + " " + s.peer() + " user " + s.user() +
                             ": write transaction idle for " + seconds_text(g_transaction_idle.count()));
  }

  DatabaseOptions options_;
  Database database_;
  unsigned statement_seconds_ = 60;
  unsigned client_memory_mb_ = 64;
  unsigned busy_seconds_ = 5;
  unsigned transaction_idle_seconds_ = 30;
};

}  // namespace

SqlSession::~SqlSession() {
  statements.clear();  // statements before the connection
  client.reset();
}

SqlSession* sql_session(Session& s, const Request& r) {
  SqlSession& ss = s.data<SqlSession>();
  if (!ss.db) {
    ss.session = &s;
    std::string error;
    // SQL work that runs long has the strand read the socket meanwhile, so
    // that a cancel is seen at once.
    ss.client = ClientDb::open(
        *g_database,
        [&ss] {
          ss.session->working_long();
          return cancelled(ss);
        },
        error);
    if (!ss.client) {
      log_line("error", "#" + std::to_string(s.id()) + " " + s.peer() + " " + error);
      s.reply_error(r, kErrUnableToConnect, error);
      return nullptr;
    }
    ss.db = ss.client->handle();
  }
  ss.client->start_work();  // each request has its own time budget
  return &ss;
}

HostStatement* find_statement(SqlSession& ss, Session& s, const Request& r) {
  unsigned id = 0;
  if (r.data.size() < 4 || !parse_digits(std::string_view(r.data).substr(0, 4), id)) {
    s.reply_error(r, kErrArgument, "Malformed statement id");
    return nullptr;
  }
  auto it = ss.statements.find(id);
  if (it == ss.statements.end()) {
    s.reply_error(r, kErrGeneral, "Unknown statement id " + std::to_string(id));
    return nullptr;
  }
  return it->second.get();
}

void send_describe(Session& s, const Request& r, long long row_count, const std::vector<ColumnSpec>& columns,
                   unsigned markers) {
  for (const auto& message : describe_reply(r.code, row_count, columns, markers, s.max_data(), s.long_values()))
    s.reply(r, message);
}

std::unique_ptr<Module> make_sql_module() { return std::make_unique<SqlModule>(); }

}  // namespace hostserver
