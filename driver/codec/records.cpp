#include "driver/codec/records.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quarl::codec {

std::optional<RowSlot> row_slot(int sql_type, uint32_t precision) {
  switch (sql_type) {
    case SQL_BIT: return RowSlot{1, 1};
    case SQL_CHAR: return RowSlot{precision, 1};
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return RowSlot{kMaxCharValue, 1};
    case SQL_NUMERIC:
    case SQL_BIGINT: return RowSlot{precision == kMaxNumericDigits ? kWholeDigitsAt + kMaxNumericDigits : 8, 8};
    case SQL_INTEGER: return RowSlot{4, 4};
    case SQL_SMALLINT: return RowSlot{2, 4};
    case SQL_DOUBLE: return RowSlot{kDoubleSlot, 8};
    case SQL_DATE: return RowSlot{kDateDigitsAt + 8, 4};
    case SQL_TIME: return RowSlot{6, 4};
    case SQL_TIMESTAMP: return RowSlot{16, 4};
    default: return std::nullopt;
  }
}

size_t longest_field(const ColumnDescriptor& c) {
  switch (c.row_form) {
    case RowForm::Bit: return 1;
    case RowForm::Char1: return 2;
    case RowForm::Chars: return 1 + size_t{c.precision};
    // Three length digits and the value (a longer one than the column's
    // precision is read the tested way).
    case RowForm::Varying:
    case RowForm::VaryingLong: return 3 + std::min<size_t>(c.precision, 999);
    case RowForm::Integer: return 11;
    case RowForm::SmallInt: return 6;
    case RowForm::Digits19: return 1 + kMaxNumericDigits;
    case RowForm::Digits: return 1 + size_t{c.precision};
    case RowForm::Double: return 2 + kDoubleTextKept;  // two length digits (a longer text is refused)
    case RowForm::Date: return 8;
    case RowForm::Time: return 6;
    case RowForm::Timestamp: return 23;
    case RowForm::None: break;
  }
  return 0;
}

RowForm row_form(int sql_type, uint32_t precision, bool long_forms) {
  switch (sql_type) {
    case SQL_BIT: return RowForm::Bit;
    case SQL_CHAR: return precision == 1 ? RowForm::Char1 : RowForm::Chars;
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return long_forms ? RowForm::VaryingLong : RowForm::Varying;
    case SQL_NUMERIC:
    case SQL_BIGINT: return precision == kMaxNumericDigits ? RowForm::Digits19 : RowForm::Digits;
    case SQL_INTEGER: return RowForm::Integer;
    case SQL_SMALLINT: return RowForm::SmallInt;
    case SQL_DOUBLE: return RowForm::Double;
    case SQL_DATE: return RowForm::Date;
    case SQL_TIME: return RowForm::Time;
    case SQL_TIMESTAMP: return RowForm::Timestamp;
    default: return RowForm::None;
  }
}

// Bytes a value of a fixed-size C type takes; 0 for the variable-length ones.
size_t c_type_size(int c_type) {
  switch (c_type) {
    case SQL_C_BIT:
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT: return 1;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_DOUBLE:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: return 8;
    case SQL_C_NUMERIC: return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: return sizeof(DATE_STRUCT);
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: return sizeof(TIME_STRUCT);
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return sizeof(TIMESTAMP_STRUCT);
    default: return 0;
  }
}

std::optional<Diag> ResultSet::apply(const Description& d) noexcept {
  row_count = d.row_count;
  if (!d.columns_sent) return std::nullopt;
  try {
    size_t entries = std::max<size_t>(d.column_count, highest_bound_column);
    if (entries == 0) {
      columns.clear();
      columns.shrink_to_fit();
    } else {
      columns.resize(entries, ColumnDescriptor{});
    }
    for (size_t i = 0; i < d.column_count && i < d.columns.size(); ++i) {
      const ColumnDescriptor& from = d.columns[i];
      ColumnDescriptor& to = columns[i];
      std::memcpy(to.name, from.name, sizeof to.name);
      to.sql_type = from.sql_type;
      to.precision = from.precision;
      to.scale = from.scale;
      to.reserved = 0;
      to.nullable = from.nullable;
      to.long_forms = from.long_forms;
      to.row_offset = from.row_offset;
      to.row_form = from.row_form;
      to.returned_count = 0;
      to.value_length = 0;
      to.piece_returned = false;
      to.value_place = kInSlot;
      to.quick_c_type = 0;
    }
    column_count = d.column_count;
    param_marker_count = d.param_marker_count;
    row_buffer.assign(d.row_size, 0);
    // The row marker, then each value.
    longest_row = 1;
    for (size_t i = 0; i < column_count; ++i) {
      size_t field = longest_field(columns[i]);
      if (field == 0) {
        longest_row = 0;
        break;
      }
      longest_row += field;
    }
  } catch (const std::bad_alloc&) {
    columns.clear();
    row_buffer.clear();
    column_count = 0;
    longest_row = 0;
    return Diag{kErrMemory, {}};
  }
  return std::nullopt;
}

std::optional<Diag> ResultSet::reserve_binding(uint16_t number) noexcept {
  try {
    highest_bound_column = std::max(highest_bound_column, number);
    size_t entries = std::max<size_t>(column_count, highest_bound_column);
    if (columns.size() < entries) columns.resize(entries, ColumnDescriptor{});
  } catch (const std::bad_alloc&) {
    return Diag{kErrMemory, {}};
  }
  return std::nullopt;
}

void ResultSet::clear() noexcept {
  columns.clear();
  row_buffer.clear();
  column_count = 0;
  highest_bound_column = 0;
  param_marker_count = 0;
  row_count = -1;
  longest_row = 0;
}

}  // namespace quarl::codec
