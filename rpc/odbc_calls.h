// The ODBC convenience calls: one connection with one statement through the
// ODBC driver manager, for clients that can pass only a text buffer.  SQL
// goes in as text; row counts, column names, rows and column attributes come
// back as text, laid out fixed or variable, with or without a separator.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rpc/buffer.h"
#include "rpc/error_text.h"
#include "rpc/replacement_chars.h"

namespace quarl::rpc {

// The widest column the calls bind.  A display size that is not positive
// (unknown, SQL_NO_TOTAL) or above this (some drivers report 2^31-1 for long
// text) becomes this width: no buffer export can return a longer value, and
// the bound memory stays bounded.  A longer value makes the driver cut it and
// report SQL_SUCCESS_WITH_INFO, which fails ODBCFetch with the driver's
// message, as every SQL_SUCCESS_WITH_INFO does.
inline constexpr SQLLEN kMaxColumnWidth = 32767;

class OdbcCalls {
 public:
  OdbcCalls(ErrorText& error, const SpecialChars& special) : error_(error), special_(special) {}
  // Nothing is released when the library unloads: the driver manager may be
  // gone already at process end.
  ~OdbcCalls() = default;
  OdbcCalls(const OdbcCalls&) = delete;
  OdbcCalls& operator=(const OdbcCalls&) = delete;

  Status odbc_connect(Buffer buffer);  // data source name or "DSN=..." connection string
  Status odbc_disconnect(Buffer buffer);
  Status odbc_execute(Buffer buffer);  // one SQL statement
  Status odbc_fetch(Buffer buffer);
  Status odbc_set_options(Buffer buffer);  // TAB, NOTAB, FIXED, VARIABLE
  Status odbc_tables(Buffer buffer);       // table name pattern or blanks
  Status odbc_columns(Buffer buffer);      // table name [, column name pattern]
  Status odbc_col_attributes(Buffer buffer);  // column number and attribute keyword

  bool connected() const { return env_ != SQL_NULL_HENV; }
  bool variable_layout() const { return variable_; }
  bool separator_on() const { return separator_; }
  size_t column_count() const { return columns_.size(); }
  SQLLEN column_width(size_t i) const { return columns_.at(i).width; }

 private:
  // The driver writes into block and length: a Column never moves while
  // bound (the vector is reserved for the whole result set first).
  struct Column {
    SQLLEN width = 0;               // the display size, within 1..kMaxColumnWidth
    std::unique_ptr<char[]> block;  // width + 1 bytes, bound as character data
    SQLLEN length = 0;              // the length indicator of each fetch
  };

  Status fail_odbc(const char* call, SQLRETURN rc);
  Status not_connected();
  Status prepare_result_set(Buffer buffer);
  // Unbinds the statement's columns, then frees their buffers.
  void free_columns();
  void release_handles();

  ErrorText& error_;
  const SpecialChars& special_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<Column> columns_;
  bool variable_ = false;   // layout: fixed (false) or variable
  bool separator_ = true;   // a separator after each fetched column
};

}  // namespace quarl::rpc
