// The SQL state of one client: its own SQLite connection, its statements
// (by host statement id) and its transaction mode.  Used by the statement
// handlers and the catalog, all on the session's worker thread.
//
// Where the SQL requests are served:
//   sql_module.cpp          options, start, per-session idle work (read ahead,
//                           the idle-transaction rollback)
//   sql_session.cpp         opening a client's connection, finding statements
//   statement_handlers.cpp  allocate, free, execute, prepare, parameter sets, fetch
//   one_statement.cpp       the check that a request holds one statement
//   sql_transactions.cpp    autocommit, transaction end, the host's rollback
//   cancel_handlers.cpp     cancel, and requests that discard a running result
//   catalog.cpp             catalog requests and type information
//   long_values.cpp         values read and sent in pieces
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "hostserver/cursor.h"
#include "hostserver/database.h"
#include "hostserver/long_values.h"
#include "hostserver/module.h"
#include "hostserver/params.h"

namespace hostserver {

struct StmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

struct HostStatement {
  unsigned id = 0;
  StmtPtr stmt;
  bool prepared = false;             // stmt is the one a prepare request made
  std::vector<ColumnShape> columns;   // what the prepare described
  std::unique_ptr<Cursor> cursor;    // the open result, if any
  // A statement request that arrives in several messages.
  bool collecting = false;
  unsigned collect_code = 0;
  size_t collected = 0;  // bytes of the request's messages so far
  std::string text;
  std::vector<ParamEntry> params;
  // Parameter values sent ahead of the next request (long values).
  ApartValues apart;

  // Closes the result and forgets the prepared statement.
  void reset() {
    cursor.reset();
    stmt.reset();
    prepared = false;
    columns.clear();
  }
};

// What every client's SQL work shares, set when the server starts and
// read-only afterwards.  Owned by the SQL module; handlers hold a reference.
struct SqlContext {
  Database database;
  // How long a client may hold the write lock without a request before the
  // host rolls its transaction back.
  std::chrono::seconds transaction_idle{30};
};

class SqlSession : public SessionData {
 public:
  // Statements one client may hold at once.
  static constexpr size_t kMaxStatements = 128;

  ~SqlSession() override;

  Session* session = nullptr;
  std::unique_ptr<ClientDb> client;  // the connection under the sandbox
  sqlite3* db = nullptr;             // client's handle
  std::map<unsigned, std::unique_ptr<HostStatement>> statements;
  unsigned next_id = 1;
  bool autocommit = true;
  int working_on = -1;     // statement being stepped, for cancel
  unsigned ahead_id = 0;   // statement whose rows are read ahead while idle
  // Set when the host rolled back the client's transaction (it held the
  // write lock too long without a request): every statement is refused with
  // this text until the client ends the transaction.
  std::string aborted;
};

// Whether the client asked to stop what runs for the statement being worked on.
bool cancelled(const SqlSession& ss);

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

// The session's SQL state with its database open, or nullptr after replying
// with an error.
SqlSession* sql_session(const SqlContext& context, Session& s, const Request& r);

// The statement named by the four digits at the start of the request data,
// or nullptr after replying with an error.
HostStatement* find_statement(SqlSession& ss, Session& s, const Request& r);

// A request on one statement: the client's SQL state is open and the
// statement found (or the request answered with an error) before work runs.
using StatementWork = std::function<void(SqlSession&, HostStatement&, Session&, Request&)>;
std::function<void(Session&, Request&)> on_statement(const SqlContext& context, StatementWork work);

// Sends a describe reply (in as many messages as it takes).
void send_describe(Session& s, const Request& r, long long row_count, const std::vector<ColumnShape>& columns,
                   unsigned markers);

// ---- the handlers, by file ----

// statement_handlers.cpp
void register_statement_handlers(HandlerTable& table, const SqlContext& context);
// sql_transactions.cpp
void register_transaction_handlers(HandlerTable& table, const SqlContext& context);
// cancel_handlers.cpp
void register_cancel_handlers(HandlerTable& table);
// catalog.cpp: catalog and type information requests.
void register_catalog_handlers(HandlerTable& table, const SqlContext& context);

// A handler for a request that replaces or closes a statement's result:
// work still running for the old result stops when the request arrives
// (cancel_handlers.cpp).
Handler discarding_handler(std::function<void(Session&, Request&)> run);

}  // namespace hostserver
