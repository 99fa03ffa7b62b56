// Cancel (type 0 code 5, acknowledged with type 1 code 19), and the mark that
// stops work still running for a statement when a request arrives that
// replaces or closes its result.  The mark is set on the network side as
// soon as the request arrives; the worker clears it when the request's turn
// comes.
#include "common/hostmsg.h"
#include "hostserver/session.h"
#include "hostserver/sql_session.h"

namespace hostserver {

namespace code = quarl::hostmsg::code;

namespace {

unsigned statement_id(const Request& r) {
  unsigned id = 0;
  if (r.data.size() < 4 || !parse_digits(std::string_view(r.data).substr(0, 4), id)) return 0;
  return id;
}

// As soon as it arrives: whatever runs for the statement stops.
void cancel_arrived(Session& s, const Request& r) {
  if (unsigned id = statement_id(r)) {
    int none = Session::kCancelNone;
    s.cancel_target.compare_exchange_strong(none, static_cast<int>(id));
  }
}

// In turn: the statement's result ends, and the client hears so.
void cancel(Session& s, Request& r) {
  unsigned id = statement_id(r);
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
  unsigned id = statement_id(r);
  if (!id) return;
  // Freeing with SQL_UNBIND or SQL_RESET_PARAMS keeps the result.
  if (r.code == code::kFreeStmt && (r.data.size() < 5 || (r.data[4] != '0' && r.data[4] != '1'))) return;
  int none = Session::kCancelNone;
  s.cancel_target.compare_exchange_strong(none, static_cast<int>(id));
}

}  // namespace

Handler discarding_handler(std::function<void(Session&, Request&)> run) {
  Handler h;
  h.on_arrival = discard_arrived;
  h.run = [run = std::move(run)](Session& s, Request& r) {
    int target = static_cast<int>(statement_id(r));
    if (target) s.cancel_target.compare_exchange_strong(target, Session::kCancelNone);
    run(s, r);
  };
  return h;
}

void register_cancel_handlers(HandlerTable& table) {
  table.add(quarl::hostmsg::kControl, code::kCancel, Handler{cancel, cancel_arrived});
}

}  // namespace hostserver
