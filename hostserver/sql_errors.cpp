#include "hostserver/sql_errors.h"

#include <sqlite3.h>

#include <string_view>

#include "hostserver/database.h"
#include "hostserver/envelope.h"

namespace hostserver {

SqlError map_sqlite_error(int rc, const char* message) {
  std::string text = message && *message ? message : sqlite3_errstr(rc);
  std::string_view t = text;
  int primary = rc & 0xFF;
  if (primary == SQLITE_INTERRUPT) return {kErrCanceled, "Operation canceled"};
  if (primary == SQLITE_AUTH || primary == SQLITE_PERM || primary == SQLITE_READONLY) return {kErrSyntax, text};
  if (primary == SQLITE_CONSTRAINT) return {kErrConstraint, text};
  if (primary == SQLITE_ERROR) {
    if (t.starts_with("not authorized")) return {kErrSyntax, text};  // a function the sandbox refuses
    if (t.starts_with("no such table") || t.starts_with("no such view")) return {kErrBaseTableNotFound, text};
    if (t.starts_with("no such column")) return {kErrColumnNotFound, text};
    if (t.starts_with("near ") || t.find("syntax error") != std::string_view::npos ||
        t.starts_with("incomplete input") || t.starts_with("unrecognized token"))
      return {kErrSyntax, text};
  }
  return {kErrGeneral, text};
}

SqlError sqlite_error(sqlite3* db, int rc) {
  if (auto reason = ClientDb::budget_failure(db, rc)) return *reason;
  return map_sqlite_error(rc, db ? sqlite3_errmsg(db) : nullptr);
}

}  // namespace hostserver
