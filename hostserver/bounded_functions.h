// SQL string functions whose work grows with the product of their
// arguments' lengths (instr, replace, trim, ltrim, rtrim).  SQLite runs each
// call as one step of its program, where its progress check never comes, so
// one call could hold a worker for hours; these versions give the same
// results and stop when the client's work must stop.
#pragma once
#include <sqlite3.h>

namespace hostserver {

class ClientDb;

// Puts the bounded functions in place of SQLite's on db, the connection of
// client.  False when SQLite refuses one.
bool install_bounded_functions(sqlite3* db, ClientDb* client);

}  // namespace hostserver
