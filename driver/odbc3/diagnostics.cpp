// Diagnostics by record and field (ODBC 3): the records of a handle stay
// until its next call, numbered from 1, oldest first.
#include <cstring>
#include <string>

#include "driver/odbc3/api.h"
#include "driver/odbc3/dispatch.h"

namespace quarl::driver::odbc3 {
namespace {

// The handle's list, the version its application speaks and, for a
// statement, the statement; null list for an unknown handle.
struct Source {
  ErrorList* list = nullptr;
  OdbcVersion version = OdbcVersion::V3;
  StmtBlock* stmt = nullptr;
  ConnBlock* conn = nullptr;
};

Source source_of(SQLSMALLINT type, SQLHANDLE handle) {
  Source s;
  switch (type) {
    case SQL_HANDLE_ENV:
      if (EnvBlock* env = find_env(handle)) s.list = &env->errors, s.version = env->version;
      break;
    case SQL_HANDLE_DBC:
      if (ConnBlock* conn = find_conn(handle)) s.list = &conn->errors, s.version = conn->version(), s.conn = conn;
      break;
    case SQL_HANDLE_STMT:
      if (StmtBlock* stmt = find_stmt(handle))
        s.list = &stmt->errors, s.version = stmt->conn->version(), s.stmt = stmt, s.conn = stmt->conn;
      break;
    case SQL_HANDLE_DESC:
      if (DescBlock* desc = find_desc(handle))
        s.list = &desc->errors, s.version = desc->stmt->conn->version(), s.conn = desc->stmt->conn;
      break;
    default:
      break;
  }
  return s;
}

// Classes (the first two characters) that ODBC defines itself; the others
// come from the SQL standard.  ODBC's own subclasses begin with 'S'
// (01S02, 08S01, 42S02) or belong to its own classes.
bool odbc_class(const char* state) {
  return (state[0] == 'H' && state[1] == 'Y') || (state[0] == 'I' && state[1] == 'M');
}
bool odbc_subclass(const char* state) { return odbc_class(state) || state[2] == 'S'; }

}  // namespace

SQLRETURN get_diag_rec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, const TextBuffer& state,
                       SQLINTEGER* native, const TextBuffer& message, SQLSMALLINT* message_length) {
  Source s = source_of(type, handle);
  if (!s.list) return SQL_INVALID_HANDLE;
  if (record < 1) return SQL_ERROR;
  if (message.data && message.capacity < 0) return SQL_ERROR;
  if (static_cast<size_t>(record) > s.list->records.size()) return SQL_NO_DATA;
  return write_record(s.list->records[static_cast<size_t>(record) - 1], s.version, state, native, message,
                      message_length);
}

SQLRETURN get_diag_field(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                         SQLPOINTER value, SQLSMALLINT buffer_length, SQLSMALLINT* string_length, bool wide) {
  Source s = source_of(type, handle);
  if (!s.list) return SQL_INVALID_HANDLE;
  TextBuffer text{value, buffer_length, wide ? TextUnit::WideByte : TextUnit::Byte};
  auto give_text = [&](std::string_view t) -> SQLRETURN {
    return write_text_out(t, text, string_length) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  };
  // Header fields.
  switch (field) {
    case SQL_DIAG_NUMBER: put_value<SQLINTEGER>(value, static_cast<SQLINTEGER>(s.list->records.size())); return SQL_SUCCESS;
    case SQL_DIAG_RETURNCODE: put_value<SQLRETURN>(value, s.list->returned); return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
      if (!s.stmt) return SQL_ERROR;
      put_value<SQLLEN>(value, s.stmt->result.row_count);
      return SQL_SUCCESS;
    case SQL_DIAG_CURSOR_ROW_COUNT:
      if (!s.stmt) return SQL_ERROR;
      put_value<SQLLEN>(value, -1);  // not known before the rows are read
      return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION:
      if (!s.stmt) return SQL_ERROR;
      return give_text("");
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (!s.stmt) return SQL_ERROR;
      put_value<SQLINTEGER>(value, SQL_DIAG_UNKNOWN_STATEMENT);
      return SQL_SUCCESS;
    default:
      break;
  }
  // Record fields.
  if (record < 1) return SQL_ERROR;
  if (static_cast<size_t>(record) > s.list->records.size()) return SQL_NO_DATA;
  const ErrorRecord& r = s.list->records[static_cast<size_t>(record) - 1];
  const char* state = record_state(r, s.version);
  switch (field) {
    case SQL_DIAG_SQLSTATE: return give_text(state);
    case SQL_DIAG_NATIVE: put_value<SQLINTEGER>(value, r.native); return SQL_SUCCESS;
    case SQL_DIAG_MESSAGE_TEXT: return give_text(r.text);
    case SQL_DIAG_CLASS_ORIGIN: return give_text(odbc_class(state) ? "ODBC 3.0" : "ISO 9075");
    case SQL_DIAG_SUBCLASS_ORIGIN: return give_text(odbc_subclass(state) ? "ODBC 3.0" : "ISO 9075");
    case SQL_DIAG_CONNECTION_NAME: return give_text("");
    case SQL_DIAG_SERVER_NAME:
      return give_text(s.conn ? std::string(s.conn->dsn, strnlen(s.conn->dsn, sizeof s.conn->dsn)) : std::string());
    case SQL_DIAG_COLUMN_NUMBER: put_value<SQLINTEGER>(value, SQL_COLUMN_NUMBER_UNKNOWN); return SQL_SUCCESS;
    case SQL_DIAG_ROW_NUMBER: put_value<SQLLEN>(value, SQL_ROW_NUMBER_UNKNOWN); return SQL_SUCCESS;
    default: return SQL_ERROR;
  }
}

}  // namespace quarl::driver::odbc3
