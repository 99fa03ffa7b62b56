// The bodies of the Unicode driver's ODBC 3 entry points that the ODBC 2
// driver does not have: handles by type, environment, connection and
// statement attributes, diagnostics by record and field, column attributes
// and descriptors, scrolling fetch, transactions by handle.  Everything else
// is the core's.  Text results go through text buffers, so that the narrow
// and the wide entry points share each body.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "driver/core/handles.h"
#include "driver/core/output.h"
#include "driver/core/results.h"
#include "driver/core/statement.h"

namespace quarl::driver::odbc3 {

// ---- handles and environment ----
SQLRETURN alloc_handle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output);
SQLRETURN free_handle(SQLSMALLINT type, SQLHANDLE handle);
SQLRETURN set_env_attr(EnvBlock& env, SQLINTEGER attribute, SQLPOINTER value);
SQLRETURN get_env_attr(EnvBlock& env, SQLINTEGER attribute, SQLPOINTER value);

// ---- attributes ----
// String values are narrow or, for the W forms, UTF-16 (lengths in bytes).
SQLRETURN set_connect_attr(ConnBlock& conn, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length, bool wide);
SQLRETURN get_connect_attr(ConnBlock& conn, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER buffer_length,
                           SQLINTEGER* string_length, bool wide);
SQLRETURN set_stmt_attr(StmtBlock& stmt, SQLINTEGER attribute, SQLPOINTER value);
SQLRETURN get_stmt_attr(StmtBlock& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER* string_length);

// ---- diagnostics ----
SQLRETURN get_diag_rec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, const TextBuffer& state,
                       SQLINTEGER* native, const TextBuffer& message, SQLSMALLINT* message_length);
SQLRETURN get_diag_field(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                         SQLPOINTER value, SQLSMALLINT buffer_length, SQLSMALLINT* string_length, bool wide);

// ---- results ----
SQLRETURN col_attribute(StmtBlock& stmt, SQLUSMALLINT column, SQLUSMALLINT field, const TextBuffer& text,
                        SQLSMALLINT* text_length, SQLLEN* number);
// SQLFetch: a row, and the row attributes the application asked for.
// (Inline: a call for every row.)
inline SQLRETURN fetch(StmtBlock& stmt) {
  RowAttributes& rows = stmt.row_attributes;
  SQLRETURN rc = sql_fetch(stmt);
  if (rows.fetched) *rows.fetched = rc == SQL_NO_DATA ? 0 : 1;
  if (rows.status && rc != SQL_NO_DATA) {
    rows.status[0] = rc == SQL_SUCCESS ? SQL_ROW_SUCCESS
                     : rc == SQL_SUCCESS_WITH_INFO ? SQL_ROW_SUCCESS_WITH_INFO
                                                   : SQL_ROW_ERROR;
  }
  return rc;
}
SQLRETURN fetch_scroll(StmtBlock& stmt, SQLSMALLINT orientation, SQLLEN offset);
SQLRETURN close_cursor(StmtBlock& stmt);
SQLRETURN end_tran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion);
SQLRETURN bind_parameter(StmtBlock& stmt, SQLUSMALLINT number, SQLSMALLINT io_type, SQLSMALLINT c_type,
                         SQLSMALLINT sql_type, SQLULEN size, SQLSMALLINT digits, SQLPOINTER value,
                         SQLLEN buffer_length, SQLLEN* indicator);

// ---- descriptors ----
SQLRETURN get_desc_field(DescBlock& desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                         SQLINTEGER buffer_length, SQLINTEGER* string_length, bool wide);
SQLRETURN set_desc_field(DescBlock& desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                         SQLINTEGER buffer_length);
SQLRETURN get_desc_rec(DescBlock& desc, SQLSMALLINT record, const TextBuffer& name, SQLSMALLINT* name_length,
                       SQLSMALLINT* type, SQLSMALLINT* subtype, SQLLEN* length, SQLSMALLINT* precision,
                       SQLSMALLINT* scale, SQLSMALLINT* nullable);
SQLRETURN set_desc_rec(DescBlock& desc, SQLSMALLINT record, SQLSMALLINT type, SQLSMALLINT subtype, SQLLEN length,
                       SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data, SQLLEN* octet_length,
                       SQLLEN* indicator);

}  // namespace quarl::driver::odbc3
