// A client's transaction mode and the host's own rollback of a transaction
// left idle.  With autocommit off, statements run inside a transaction that
// the client ends (commit or rollback); switching autocommit on commits what
// is open.  A client that holds the write lock without a request for too
// long has its transaction rolled back by the host, and every statement is
// refused with the reason until the client ends the transaction.
#pragma once

#include "hostserver/sql_session.h"

namespace hostserver {

// While the host has rolled the client's transaction back, statements are
// refused until the client ends it.  True when the request was answered.
bool refused_after_rollback(SqlSession& ss, Session& s, const Request& r);

// Opens the transaction a statement runs in when autocommit is off.
// Replies only on failure.
bool begin_if_needed(SqlSession& ss, const Request& r);

// Switching autocommit on commits what is open.  Replies only on failure.
bool set_autocommit(SqlSession& ss, const Request& r, bool on);

// The client holds the write lock and has sent nothing for idle: everyone
// else's writes wait for it.  Its transaction goes, and its next statement
// hears why.
void roll_back_idle(SqlSession& ss, Session& s, std::chrono::seconds idle);

}  // namespace hostserver
