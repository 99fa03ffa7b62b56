#include "hostserver/one_statement.h"

namespace hostserver {

bool more_statements(std::string_view tail) {
  size_t p = 0;
  while (p < tail.size()) {
    char c = tail[p];
    if (c == '\0') return false;  // SQLite reads no further either
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ';') {
      ++p;
    } else if (tail.substr(p, 2) == "--") {
      size_t end = tail.find('\n', p);
      p = end == std::string_view::npos ? tail.size() : end;
    } else if (tail.substr(p, 2) == "/*") {
      size_t end = tail.find("*/", p + 2);
      if (end == std::string_view::npos) return false;  // an open comment runs to the end
      p = end + 2;
    } else {
      return true;
    }
  }
  return false;
}

bool prepare_one_statement(sqlite3* db, std::string_view text, StmtPtr& out, SqlError& error) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v3(db, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT, &raw, &tail);
  StmtPtr stmt(raw);
  if (rc != SQLITE_OK) {
    error = sqlite_error(db, rc);
    return false;
  }
  if (!stmt) {
    error = SqlError{kErrSyntax, "The request holds no SQL statement"};
    return false;
  }
  // The tail is checked within the text that was sent.
  if (tail && more_statements(text.substr(static_cast<size_t>(tail - text.data())))) {
    error = SqlError{kErrSyntax, "Only one SQL statement per request"};
    return false;
  }
  out = std::move(stmt);
  return true;
}

}  // namespace hostserver
