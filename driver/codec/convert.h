// convert_column: the current row's value of one column into the
// application's buffer, in the C type it asks for.
#pragma once

#include <optional>

#include "driver/codec/diag.h"
#include "driver/codec/records.h"

namespace quarl::codec {

struct ConvertOptions {
  // "numeric trailing zeros" of quarl.ini: NUMERIC text keeps all its scale
  // digits (true) or drops trailing fraction zeros (false).
  bool numeric_trailing_zeros = true;
};

struct ConvertResult {
  SQLRETURN rc;
  std::optional<Diag> diag;  // to post on the statement (with SQL_SUCCESS_WITH_INFO or SQL_ERROR)
};

// column: a result column of the current row (unpack_row filled its value
// state); row_buffer: the row buffer it was unpacked into.  target may be null
// (nothing is written but the length).  target_size (cbValueMax) bounds every
// text written (SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY); fixed-size C types
// write their own size.  length (pcbValue) may be null except for NULL values;
// it is written whole.
//
// Character columns are handed out piece by piece (the returned count moves
// on); once a value has been handed out whole, the next call gives
// SQL_NO_DATA_FOUND.  Every other column gives its whole value on each call.
ConvertResult convert_column(ColumnDescriptor& column, SQLSMALLINT c_type, SQLPOINTER target, SQLLEN target_size,
                             SQLLEN* length, const unsigned char* row_buffer, const ConvertOptions& options = {});

}  // namespace quarl::codec
