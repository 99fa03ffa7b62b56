// SQLite's failures as error items: syntax errors are "37000" (index 15),
// a missing table "S0002" (1), a missing column "S0022" (2), a cancelled
// statement "S1008" (21), refused access "37000" (15), a constraint that
// refused a change "23000" (25), the rest "S1000" (3).
// A client connection's own limits (time, memory) and conflicts that a
// retry can fix ("40001", 24) are named by the connection (database.h).
#pragma once

#include <string>

struct sqlite3;

namespace hostserver {

struct SqlError {
  unsigned index;
  std::string text;
};

SqlError map_sqlite_error(int rc, const char* message);
SqlError sqlite_error(sqlite3* db, int rc);

}  // namespace hostserver
