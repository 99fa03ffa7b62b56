// convert_column: the current row's value of one column into the
// application's buffer, in the C type it asks for.
#pragma once

#include <cstring>
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
namespace detail {
ConvertResult convert_general(ColumnDescriptor& column, SQLSMALLINT c_type, SQLPOINTER target, SQLLEN target_size,
                              SQLLEN* length, const unsigned char* row_buffer, const ConvertOptions& options);
double double_text_value(const unsigned char* slot);
}  // namespace detail

inline ConvertResult convert_column(ColumnDescriptor& column, SQLSMALLINT c_type, SQLPOINTER target,
                                    SQLLEN target_size, SQLLEN* length, const unsigned char* row_buffer,
                                    const ConvertOptions& options = {}) {
  // The natural C types of the common columns, which every fetch of bound
  // columns takes, go straight; everything else through the general path.
  if (column.value_length >= 0 && target != nullptr) {
    const unsigned char* slot = row_buffer + column.row_offset;
    switch (column.sql_type) {
      case SQL_INTEGER:
        if (c_type == SQL_C_LONG || c_type == SQL_C_SLONG) {
          std::memcpy(target, slot, 4);
          if (length != nullptr) *length = 4;
          return {SQL_SUCCESS, std::nullopt};
        }
        break;
      case SQL_DOUBLE:
        if (c_type == SQL_C_DOUBLE) {
          double d = detail::double_text_value(slot);
          std::memcpy(target, &d, 8);
          if (length != nullptr) *length = 8;
          return {SQL_SUCCESS, std::nullopt};
        }
        break;
      case SQL_DATE:
        if (c_type == SQL_C_DATE || c_type == SQL_C_TYPE_DATE) {
          std::memcpy(target, slot, 6);
          if (length != nullptr) *length = 6;
          return {SQL_SUCCESS, std::nullopt};
        }
        break;
      case SQL_CHAR:
      case SQL_VARCHAR:
      case SQL_LONGVARCHAR:
        // A value not yet handed out that fits whole with its terminator.
        if (c_type == SQL_C_CHAR && !column.piece_returned && column.value_length < target_size) {
          auto n = static_cast<size_t>(column.value_length);
          std::memcpy(target, slot, n);
          static_cast<char*>(target)[n] = '\0';
          column.returned_count = static_cast<uint16_t>(n);
          column.piece_returned = true;
          if (length != nullptr) *length = static_cast<SQLLEN>(n);
          return {SQL_SUCCESS, std::nullopt};
        }
        break;
      default: break;
    }
  }
  return detail::convert_general(column, c_type, target, target_size, length, row_buffer, options);
}

}  // namespace quarl::codec
