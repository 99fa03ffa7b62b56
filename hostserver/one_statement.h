// The check that a request's SQL text holds one statement: SQLite prepares
// the first, and whatever follows it may only be blanks, ';' and comments.
#pragma once

#include <string_view>

#include <sqlite3.h>

#include "hostserver/sql_errors.h"
#include "hostserver/sql_session.h"

namespace hostserver {

// Whether text after the first statement holds anything but blanks, ';'
// and comments.
bool more_statements(std::string_view tail);

// Prepares text (not terminated) as one persistent statement into out;
// false with the error item when SQLite refuses it, it holds no statement,
// or more than one.
bool prepare_one_statement(sqlite3* db, std::string_view text, StmtPtr& out, SqlError& error);

}  // namespace hostserver
