// Statement requests (type 1): allocate (code 1) and free (2) a statement,
// execute direct (9), prepare (10), execute (11), parameter sets (20) and
// fetch (4).  A statement request may arrive in several messages; its text
// holds one SQL statement, which SQLite prepares and the host steps; rows
// are encoded by the statement's cursor and sent in blocks.
#include "common/hostmsg.h"
#include "hostserver/one_statement.h"
#include "hostserver/session.h"
#include "hostserver/sql_session.h"
#include "hostserver/sql_transactions.h"
#include "hostserver/type_mapping.h"

namespace hostserver {

namespace code = quarl::hostmsg::code;

namespace {

// Longest statement text, most parameter entries, and most bytes of the
// messages of one request.
constexpr size_t kMaxText = kMaxSqlLength;
constexpr size_t kMaxParams = kMaxVariables;
constexpr size_t kMaxRequestBytes = 2 * kMaxText;

// Prepares the request's text (one statement) into st.stmt.
bool prepare_text(SqlSession& ss, Session& s, const Request& r, HostStatement& st) {
  st.reset();
  ss.client->clear_transaction_verb();
  SqlError e;
  if (!prepare_one_statement(ss.db, st.text, st.stmt, e)) {
    s.reply_error(r, e.index, e.text);
    return false;
  }
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
    std::vector<ColumnShape> columns = request_code == code::kExecute
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

void alloc_statement(SqlSession& ss, Session& s, Request& r) {
  // Data: autocommit digit, four characters naming the client connection,
  // the application name with a three-digit length.
  if (!r.data.empty() && (r.data[0] == '0' || r.data[0] == '1') && !set_autocommit(ss, r, r.data[0] == '1'))
    return;
  if (ss.statements.size() >= SqlSession::kMaxStatements) {
    s.reply_error(r, kErrMemory,
                  "No free statement handles on the host (" + std::to_string(SqlSession::kMaxStatements) + " in use)");
    return;
  }
  unsigned id = ss.next_id;
  while (ss.statements.count(id)) id = id % 9999 + 1;
  ss.next_id = id % 9999 + 1;
  auto st = std::make_unique<HostStatement>();
  st->id = id;
  ss.statements[id] = std::move(st);
  std::string reply(1, kStatusOk);
  append_digits(reply, 4, id);
  s.reply(r, reply);
}

void free_statement(SqlSession& ss, HostStatement& st, Session& s, Request& r) {
  unsigned option = 0;
  if (r.data.size() < 5 || !parse_digits(std::string_view(r.data).substr(4, 1), option)) {
    s.reply_error(r, kErrArgument, "Malformed free statement request");
    return;
  }
  switch (option) {
    case 0: st.cursor.reset(); break;           // SQL_CLOSE
    case 1: ss.statements.erase(st.id); break;  // SQL_DROP
    default: break;                               // SQL_UNBIND, SQL_RESET_PARAMS: nothing kept here
  }
  s.reply(r, std::string(1, kStatusOk));
}

void statement_request(SqlSession& ss, HostStatement& st, Session& s, Request& r) {
  // Values sent ahead (long values) belong to this request, whatever its end.
  struct EndOfRequest {
    HostStatement& st;
    ~EndOfRequest() {
      if (!st.collecting) st.apart.clear();
    }
  } end_of_request{st};
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
    for (auto& [other_id, other] : ss.statements)
      if (other->collecting) {
        other->collecting = false;
        other->text.clear();
        other->params.clear();
      }
    st.collecting = true;
    st.collect_code = r.code;
    st.collected = 0;
    st.text.clear();
    st.params.clear();
  } else if (!st.collecting || st.collect_code != r.code) {
    st.collecting = false;
    s.reply_error(r, kErrSequence, "A continued statement request without its first message");
    return;
  }
  std::string problem;
  size_t used = 0;
  st.collected += d.size();
  if (!parse_param_entries(d.substr(10), count, st.params, used, problem, {s.long_values(), true}) ||
      st.params.size() > kMaxParams ||
      st.text.size() + (d.size() - 10 - used) > kMaxText || st.collected > kMaxRequestBytes) {
    st.collecting = false;
    st.text.clear();
    st.params.clear();
    if (problem.empty())
      problem = "Statement request too large (at most " + std::to_string(kMaxText >> 20) + " MiB of SQL text, " +
                std::to_string(kMaxParams) + " parameters and " + std::to_string(kMaxRequestBytes >> 20) +
                " MiB in all)";
    s.reply_error(r, kErrArgument, problem);
    return;
  }
  st.text.append(d.substr(10 + used));
  if (!last) {
    send_describe(s, r, 0, {}, 0);  // more to come: an empty description meanwhile
    return;
  }
  st.collecting = false;

  if (r.code == code::kPrepare) {
    if (!prepare_text(ss, s, r, st)) return;
    sqlite3_stmt* stmt = st.stmt.get();
    // Described without being stepped: the description cannot depend on
    // the data or on parameter values.
    st.columns = describe_result(ss.db, stmt, wire_types(s), &ss.client->table_keys());
    st.prepared = true;
    send_describe(s, r, -1, st.columns, static_cast<unsigned>(sqlite3_bind_parameter_count(stmt)));
    return;
  }

  if (r.code == code::kExecDirect) {
    if (!prepare_text(ss, s, r, st)) return;
    if (!ss.aborted.empty()) {
      // SQL that ends the transaction ends the refusal: a rollback is what
      // the host did already, a commit cannot be done.
      const std::string& verb = ss.client->transaction_verb();
      bool ends = verb == "COMMIT" || verb == "ROLLBACK";
      std::string reason = ss.aborted;
      if (ends) ss.aborted.clear();
      if (verb == "ROLLBACK") {
        st.stmt.reset();
        send_describe(s, r, 0, {}, 0);
      } else {
        s.reply_error(r, kErrSerialization, reason);
      }
      return;
    }
  } else {  // execute what was prepared
    if (refused_after_rollback(ss, s, r)) return;
    if (!st.prepared || !st.stmt) {
      s.reply_error(r, kErrSequence, "The statement has not been prepared");
      return;
    }
    st.cursor.reset();
    sqlite3_reset(st.stmt.get());
    sqlite3_clear_bindings(st.stmt.get());
  }
  if (!take_apart_values(st, st.params, problem) || !bind_params(st.stmt.get(), st.params, problem)) {
    s.reply_error(r, kErrArgument, problem);
    return;
  }
  if (!begin_if_needed(ss, r)) return;
  run_statement(ss, s, r, st, r.code);
}

// Parameter arrays: the prepared statement runs once for each set of the
// message.  Data: statement id (4), number of sets (4), entries per set (4),
// then the sets' entries one set after another.  Reply: the status digit, the
// sets run (4), the rows they changed ('-' when negative, 10 digits), and
// the status digit of the last set run, followed by its error items when it
// failed: the first set that fails ends the message's work (the sets before
// it keep their changes).
void execute_sets(SqlSession& ss, HostStatement& st, Session& s, Request& r) {
  std::string_view d = r.data;
  unsigned sets = 0, per_set = 0;
  if (d.size() < 12 || !parse_digits(d.substr(4, 4), sets) || !parse_digits(d.substr(8, 4), per_set) || sets == 0 ||
      per_set > kMaxParams) {
    s.reply_error(r, kErrArgument, "Malformed parameter set request");
    return;
  }
  if (!st.prepared || !st.stmt) {
    s.reply_error(r, kErrSequence, "The statement has not been prepared");
    return;
  }
  if (!st.columns.empty()) {
    s.reply_error(r, kErrNotCapable, "A statement with a result takes one set of parameters at a time");
    return;
  }
  st.cursor.reset();
  if (!begin_if_needed(ss, r)) return;
  d.remove_prefix(12);
  sqlite3_stmt* stmt = st.stmt.get();
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
    sqlite3_int64 before = sqlite3_total_changes64(ss.db);
    int rc = working_on(ss, st.id, [&] { return sqlite3_step(stmt); });
    if (rc == SQLITE_DONE) {
      if (sqlite3_total_changes64(ss.db) != before) changed += sqlite3_changes64(ss.db);
      continue;
    }
    if (rc == SQLITE_ROW) {
      failure.add(kErrNotCapable, "A statement with a result takes one set of parameters at a time");
    } else {
      SqlError e = sqlite_error(ss.db, rc);
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

void fetch(SqlSession& ss, HostStatement& st, Session& s, Request& r) {
  if (refused_after_rollback(ss, s, r)) return;
  if (!st.cursor) {
    s.reply_error(r, kErrSequence, "No result to fetch from");
    return;
  }
  if (st.cursor->finished()) {
    s.reply(r, std::string(1, kStatusNoData));
    return;
  }
  // Rows of one fetch fill at most two messages: the client appends the
  // data of each after its two flag bytes into an area of twice the data
  // length.
  size_t per_message = s.max_data() - 2;
  Block block = working_on(ss, st.id, [&] { return st.cursor->next(2 * per_message); });
  ss.ahead_id = st.id;
  if (block.failed && block.size == 0) {
    s.reply_error(r, block.error_index, block.error_text);
    return;
  }
  // The flag bytes: whether this message is the fetch's last.
  std::string_view rows = block.rows();
  if (rows.size() > per_message) {
    s.reply(r, "00", rows.substr(0, per_message));
    rows.remove_prefix(per_message);
  }
  s.reply(r, "01", rows);
}

}  // namespace

void register_statement_handlers(HandlerTable& table, const SqlContext& context) {
  using quarl::hostmsg::kDatabase;
  table.add(kDatabase, code::kAllocStmt, [&context](Session& s, Request& r) {
    if (SqlSession* ss = sql_session(context, s, r)) alloc_statement(*ss, s, r);
  });
  table.add(kDatabase, code::kFreeStmt, discarding_handler(on_statement(context, free_statement)));
  table.add(kDatabase, code::kExecDirect, discarding_handler(on_statement(context, statement_request)));
  table.add(kDatabase, code::kPrepare, discarding_handler(on_statement(context, statement_request)));
  table.add(kDatabase, code::kExecute, discarding_handler(on_statement(context, statement_request)));
  table.add(kDatabase, code::kExecuteSets, discarding_handler(on_statement(context, execute_sets)));
  table.add(kDatabase, code::kFetch, on_statement(context, fetch));
}

}  // namespace hostserver
