// Column attributes of ODBC 3, the scrolling fetch of a forward-only
// cursor, closing the cursor, and input-only parameter binding.
#include <string_view>

#include "driver/core/execute.h"
#include "driver/core/results.h"
#include "driver/odbc3/api.h"

namespace quarl::driver::odbc3 {
namespace {

bool is_datetime(int sql_type) { return sql_type == SQL_DATE || sql_type == SQL_TIME || sql_type == SQL_TIMESTAMP; }

bool is_numeric(int sql_type) {
  switch (sql_type) {
    case SQL_BIT:
    case SQL_NUMERIC:
    case SQL_BIGINT:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_DOUBLE: return true;
    default: return false;
  }
}

// SQL_DESC_DATETIME_INTERVAL_CODE of a date or time type.
SQLSMALLINT datetime_code(int sql_type) {
  switch (sql_type) {
    case SQL_DATE: return SQL_CODE_DATE;
    case SQL_TIME: return SQL_CODE_TIME;
    case SQL_TIMESTAMP: return SQL_CODE_TIMESTAMP;
    default: return 0;
  }
}

}  // namespace

SQLRETURN col_attribute(StmtBlock& stmt, SQLUSMALLINT column, SQLUSMALLINT field, const TextBuffer& text,
                        SQLSMALLINT* text_length, SQLLEN* number) {
  // The numbers of ODBC 2 (0 to 18) keep their meaning: the core answers.
  if (field <= SQL_COLUMN_LABEL) return sql_col_attributes(stmt, column, field, text, text_length, number);
  if (field == SQL_DESC_COUNT) {
    if (number) *number = stmt.result.column_count;
    return SQL_SUCCESS;
  }
  if (column < 1 || column > stmt.result.column_count) return post(stmt.errors, SQL_ERROR, kErrDescriptorIndex);
  const codec::ColumnDescriptor& c = stmt.result.columns[column - 1u];
  auto give_text = [&](std::string_view value) -> SQLRETURN {
    bool cut = write_text_out(value, text, text_length);
    if (cut && text.data) return post(stmt.errors, SQL_SUCCESS_WITH_INFO, kErrTruncated);
    return SQL_SUCCESS;
  };
  auto give = [&](SQLLEN value) -> SQLRETURN {
    if (number) *number = value;
    return SQL_SUCCESS;
  };
  switch (field) {
    case SQL_DESC_NAME:
    case SQL_DESC_BASE_COLUMN_NAME: return give_text(c.name);
    case SQL_DESC_UNNAMED: return give(c.name[0] ? SQL_NAMED : SQL_UNNAMED);
    case SQL_DESC_BASE_TABLE_NAME: return give_text("");
    case SQL_DESC_LOCAL_TYPE_NAME: return give_text(sql_type_name(c.sql_type));
    case SQL_DESC_LITERAL_PREFIX:
      if (codec::is_binary_sql_type(c.sql_type)) return give_text("X'");  // the host's blob literals
      [[fallthrough]];
    case SQL_DESC_LITERAL_SUFFIX:
      return give_text(is_character_type(c.sql_type) || is_datetime(c.sql_type) || codec::is_binary_sql_type(c.sql_type)
                           ? "'"
                           : "");
    case SQL_DESC_TYPE: return give(is_datetime(c.sql_type) ? SQL_DATETIME : c.sql_type);
    case SQL_DESC_DATETIME_INTERVAL_CODE: return give(datetime_code(c.sql_type));
    case SQL_DESC_LENGTH: return give(c.precision);
    case SQL_DESC_OCTET_LENGTH: return give(column_length(c, false).value_or(0));
    case SQL_DESC_PRECISION:
      // Numbers: their digits; TIMESTAMP: its fraction's digits.
      if (is_datetime(c.sql_type)) return give(c.sql_type == SQL_TIMESTAMP ? c.scale : 0);
      return give(c.precision);
    case SQL_DESC_SCALE: return give(c.scale);
    case SQL_DESC_NULLABLE: return give(c.nullable);
    case SQL_DESC_NUM_PREC_RADIX: return give(is_numeric(c.sql_type) ? 10 : 0);
    default: return post(stmt.errors, SQL_ERROR, kErrDescriptorType);
  }
}

SQLRETURN fetch_scroll(StmtBlock& stmt, SQLSMALLINT orientation, SQLLEN) {
  if (orientation != SQL_FETCH_NEXT)
    return post(stmt.errors, SQL_ERROR, kErrFetchType, "Cursors are forward-only: only SQL_FETCH_NEXT");
  return fetch(stmt);
}

SQLRETURN close_cursor(StmtBlock& stmt) {
  if (stmt.result.column_count == 0) return post(stmt.errors, SQL_ERROR, kErrCursorState, "No cursor is open");
  return free_statement(*stmt.conn, stmt, SQL_CLOSE);
}

SQLRETURN bind_parameter(StmtBlock& stmt, SQLUSMALLINT number, SQLSMALLINT io_type, SQLSMALLINT c_type,
                         SQLSMALLINT sql_type, SQLULEN size, SQLSMALLINT digits, SQLPOINTER value,
                         SQLLEN buffer_length, SQLLEN* indicator) {
  switch (io_type) {
    case SQL_PARAM_INPUT: break;
    case SQL_PARAM_INPUT_OUTPUT:
    case SQL_PARAM_OUTPUT:
    case SQL_PARAM_INPUT_OUTPUT_STREAM:
    case SQL_PARAM_OUTPUT_STREAM:
      return post(stmt.errors, SQL_ERROR, kErrNotCapable, "Parameters are input parameters only");
    default: return post(stmt.errors, SQL_ERROR, kErrParamType);
  }
  return sql_bind_parameter(stmt, number, c_type, sql_type, size, digits, value, indicator, buffer_length);
}

}  // namespace quarl::driver::odbc3
