// Autocommit (type 1 code 17) and transaction end (type 1 code 18).
#include "hostserver/sql_transactions.h"

#include "common/hostmsg.h"
#include "hostserver/server_log.h"
#include "hostserver/session.h"

namespace hostserver {

namespace code = quarl::hostmsg::code;

namespace {

bool exec(SqlSession& ss, const Request& r, const char* sql) {
  int rc = sqlite3_exec(ss.db, sql, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  SqlError e = sqlite_error(ss.db, rc);
  ss.session->reply_error(r, e.index, e.text);
  return false;
}

void autocommit_request(SqlSession& ss, Session& s, Request& r) {
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
  if (flag == 1 && !ss.aborted.empty()) {  // switching autocommit on would commit
    std::string reason = std::move(ss.aborted);
    ss.aborted.clear();
    ss.autocommit = true;
    s.reply_error(r, kErrSerialization, reason);
    return;
  }
  if (!set_autocommit(ss, r, flag == 1)) return;
  s.reply(r, std::string(1, kStatusOk));
}

void transact(SqlSession& ss, Session& s, Request& r) {
  unsigned kind = 0;
  if (r.data.size() < 5 || !parse_digits(std::string_view(r.data).substr(4, 1), kind) || kind > 1) {
    s.reply_error(r, kErrArgument, "Malformed transaction request");
    return;
  }
  if (!ss.aborted.empty()) {  // the host rolled back already: a commit fails, a rollback is done
    std::string reason = std::move(ss.aborted);
    ss.aborted.clear();
    if (kind == 0) {
      s.reply_error(r, kErrSerialization, reason);
      return;
    }
  }
  if (!sqlite3_get_autocommit(ss.db) && !exec(ss, r, kind == 0 ? "COMMIT" : "ROLLBACK")) return;
  s.reply(r, std::string(1, kStatusOk));
}

}  // namespace

bool refused_after_rollback(SqlSession& ss, Session& s, const Request& r) {
  if (ss.aborted.empty()) return false;
  s.reply_error(r, kErrSerialization, ss.aborted);
  return true;
}

bool begin_if_needed(SqlSession& ss, const Request& r) {
  if (ss.autocommit || !sqlite3_get_autocommit(ss.db)) return true;
  return exec(ss, r, "BEGIN");
}

bool set_autocommit(SqlSession& ss, const Request& r, bool on) {
  if (on && !ss.autocommit && !sqlite3_get_autocommit(ss.db) && !exec(ss, r, "COMMIT")) return false;
  ss.autocommit = on;
  return true;
}

void roll_back_idle(SqlSession& ss, Session& s, std::chrono::seconds idle) {
  for (auto& [id, st] : ss.statements)
    if (st->cursor) st->cursor->close();
  sqlite3_exec(ss.db, "ROLLBACK", nullptr, nullptr, nullptr);
  ss.aborted = "The host rolled back this transaction: it held the database's write lock for " +
               seconds_text(idle.count()) +
               " without a request, keeping other clients from writing; roll back and run the transaction again";
  log_line("rollback", "#" + std::to_string(s.id()) + " " + s.peer() + " user " + s.user() +
                           ": write transaction idle for " + seconds_text(idle.count()));
}

void register_transaction_handlers(HandlerTable& table, const SqlContext& context) {
  using quarl::hostmsg::kDatabase;
  auto with_sql = [&context](void (*work)(SqlSession&, Session&, Request&)) {
    return [&context, work](Session& s, Request& r) {
      if (SqlSession* ss = sql_session(context, s, r)) work(*ss, s, r);
    };
  };
  table.add(kDatabase, code::kAutocommit, with_sql(autocommit_request));
  table.add(kDatabase, code::kTransact, with_sql(transact));
}

}  // namespace hostserver
