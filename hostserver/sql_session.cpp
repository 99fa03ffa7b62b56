#include "hostserver/sql_session.h"

#include "hostserver/describe.h"
#include "hostserver/server_log.h"
#include "hostserver/session.h"

namespace hostserver {

SqlSession::~SqlSession() {
  statements.clear();  // statements before the connection
  client.reset();
}

bool cancelled(const SqlSession& ss) {
  int target = ss.session->cancel_target.load(std::memory_order_relaxed);
  return target == Session::kCancelAll || (target >= 0 && target == ss.working_on);
}

SqlSession* sql_session(const SqlContext& context, Session& s, const Request& r) {
  SqlSession& ss = s.data<SqlSession>();
  if (!ss.db) {
    ss.session = &s;
    std::string error;
    // SQL work that runs long has the strand read the socket meanwhile, so
    // that a cancel is seen at once.
    ss.client = ClientDb::open(
        context.database,
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

std::function<void(Session&, Request&)> on_statement(const SqlContext& context, StatementWork work) {
  return [&context, work = std::move(work)](Session& s, Request& r) {
    SqlSession* ss = sql_session(context, s, r);
    if (!ss) return;
    if (HostStatement* st = find_statement(*ss, s, r)) work(*ss, *st, s, r);
  };
}

void send_describe(Session& s, const Request& r, long long row_count, const std::vector<ColumnShape>& columns,
                   unsigned markers) {
  for (const auto& message : describe_reply(r.code, row_count, columns, markers, s.max_data(), s.long_values()))
    s.reply(r, message);
}

}  // namespace hostserver
