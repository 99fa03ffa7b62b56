// convert_column: the current row's value of one column into the
// application's buffer, in the C type it asks for.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

#include "common/copy_fast.h"
#include "driver/codec/diag.h"
#include "driver/codec/records.h"
#include "driver/codec/value.h"

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
// Conversions go in two phases: the value is read into its canonical form
// (value.h), then written in the C type asked for, by one set of rules for
// every SQL type.  Character columns are handed out piece by piece to the
// text and binary C types (the returned count moves on); once a value has
// been handed out whole, the next call gives SQL_NO_DATA_FOUND; binary columns
// go to SQL_C_CHAR and SQL_C_WCHAR as hexadecimal digits and to no other C
// type but SQL_C_BINARY.  A value left on the host (long values) is the
// caller's to fetch (driver/core/long_reader.h).  Every other
// conversion gives the whole value on each call.  Failures: 07006 for a C
// type the SQL type has no conversion to, 22003 for a number the C type
// cannot hold (or a text of it that does not fit the buffer), 22005 for text
// that is no number, 22008 for text that is no date or time, S1003 for an
// unknown C type; a cut text or a cut fraction is 01004.
namespace detail {
// A number's, date's or time's text (BIT, SMALLINT, INTEGER, BIGINT, whole
// NUMERIC, DOUBLE, DATE, TIME, TIMESTAMP) into a SQL_C_CHAR or SQL_C_WCHAR buffer that holds
// it whole with its terminator: true.  false leaves everything untouched
// (the text would be cut, or the column is of another type).
bool put_whole_text(const ColumnDescriptor& column, const unsigned char* slot, bool wide, SQLPOINTER target,
                    SQLLEN target_size, SQLLEN* length);
// The text of an INTEGER, BIGINT or DATE value at text (room for 31
// characters and the terminator), terminated: its length.
size_t write_number_text(const ColumnDescriptor& column, const unsigned char* slot, char* text);
ConvertResult convert_general(ColumnDescriptor& column, SQLSMALLINT c_type, SQLPOINTER target, SQLLEN target_size,
                              SQLLEN* length, const unsigned char* row_buffer, const ConvertOptions& options);
}  // namespace detail

// The conversions that go straight from a column's row storage into the
// caller's buffer (convert_quick), chosen by column type and C type alone,
// so that a caller can choose once and keep the choice (SQLGetData keeps it
// per column).
enum class QuickWay : uint8_t {
  General = 0,   // convert_column's way
  Int32,         // INTEGER as SQL_C_LONG
  Int64,         // BIGINT (a 19-digit slot) as SQL_C_SBIGINT
  Int64AsInt32,  // BIGINT (a 19-digit slot) as SQL_C_LONG, when it fits
  Double,        // DOUBLE as SQL_C_DOUBLE
  Date,          // DATE as SQL_C_DATE
  Chars,         // character values as SQL_C_CHAR, whole
  NumberText,    // INTEGER as SQL_C_CHAR, whole
  Digits19Text,  // BIGINT (a 19-digit slot) as SQL_C_CHAR, whole
  DateText,      // DATE as SQL_C_CHAR, whole
  DoubleChars,   // DOUBLE as SQL_C_CHAR: its text as it came, whole
  Text,          // other numbers, dates and times as SQL_C_CHAR or SQL_C_WCHAR, whole
};
constexpr QuickWay quick_way(int sql_type, int c_type) {
  switch (sql_type) {
    case SQL_INTEGER:
      if (c_type == SQL_C_LONG || c_type == SQL_C_SLONG) return QuickWay::Int32;
      if (c_type == SQL_C_CHAR) return QuickWay::NumberText;
      break;
    case SQL_BIGINT:
      if (c_type == SQL_C_SBIGINT) return QuickWay::Int64;
      if (c_type == SQL_C_LONG || c_type == SQL_C_SLONG) return QuickWay::Int64AsInt32;
      if (c_type == SQL_C_CHAR) return QuickWay::Digits19Text;
      break;
    case SQL_DOUBLE:
      if (c_type == SQL_C_DOUBLE) return QuickWay::Double;
      if (c_type == SQL_C_CHAR) return QuickWay::DoubleChars;
      break;
    case SQL_DATE:
      if (c_type == SQL_C_DATE || c_type == SQL_C_TYPE_DATE) return QuickWay::Date;
      if (c_type == SQL_C_CHAR) return QuickWay::DateText;
      break;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR: return c_type == SQL_C_CHAR ? QuickWay::Chars : QuickWay::General;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return QuickWay::General;
    default: break;
  }
  return c_type == SQL_C_CHAR || c_type == SQL_C_WCHAR ? QuickWay::Text : QuickWay::General;
}

// The text of a 19-digit slot's value from its digits as they came (leading
// zeros and all) and its sign: a '-' for a negative value (not for -0), then
// the digits from the first that is not 0 (the last one at least), not
// terminated; its length (at most 20).
[[gnu::always_inline]] inline size_t digits19_text(const unsigned char* slot, char* text) {
  const unsigned char* digits = slot + kWholeDigitsAt;
  size_t lead;
#if defined(__SSE2__)
  // The zeros among the first 16 digits and among the last 16 (3 on): bit k
  // for digit k; the last digit always counts as not 0.
  const __m128i zero = _mm_set1_epi8('0');
  auto first = static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(digits)), zero)));
  auto last = static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(digits + 3)), zero)));
  uint32_t zeros = (first | last << 3) & ((uint32_t{1} << (kMaxNumericDigits - 1)) - 1);
  lead = static_cast<size_t>(__builtin_ctz(~zeros));
  if (lead > kMaxNumericDigits - 1) __builtin_unreachable();  // bit 18 of ~zeros is set
#else
  lead = 0;
  while (lead < kMaxNumericDigits - 1 && digits[lead] == '0') ++lead;
#endif
  char* out = text;
  *out = '-';
  out += slot[0] != 0 && !(lead == kMaxNumericDigits - 1 && digits[lead] == '0');
  size_t n = kMaxNumericDigits - lead;
  copy_bytes(out, digits + lead, n);
  return static_cast<size_t>(out - text) + n;
}

// A DATE slot's text, yyyy-mm-dd from its digits yyyymmdd, not terminated:
// its length (10).
[[gnu::always_inline]] inline size_t date_digits_text(const unsigned char* slot, char* text) {
  uint64_t digits;
  std::memcpy(&digits, slot + kDateDigitsAt, 8);
  uint64_t head = (digits & 0xFFFFFFFFu) | uint64_t{'-'} << 32 | (digits >> 32 & 0xFFFF) << 40 |
                  uint64_t{'-'} << 56;  // little-endian: "yyyy-mm-"
  auto day = static_cast<uint16_t>(digits >> 48);
  std::memcpy(text, &head, 8);
  std::memcpy(text + 8, &day, 2);
  return 10;
}

// A DOUBLE column's value as SQL_C_DOUBLE (its length 8 into length when
// given).  Out of line: its reading of the text is the longest of the quick
// ways, and the callers that stay short without it have no frame to build.
void put_double_value(const unsigned char* slot, SQLPOINTER target, SQLLEN* length);

// The quick ways of fixed-size C types: the value into target, and its size;
// 0 for the other ways and for a BIGINT that SQL_C_LONG cannot hold.
[[gnu::always_inline]] inline SQLLEN put_fixed_quick(QuickWay way, const unsigned char* slot, SQLPOINTER target) {
  switch (way) {
    case QuickWay::Int32:
      std::memcpy(target, slot, 4);
      return 4;
    case QuickWay::Int64: {
      int64_t v = digits19_value(slot);
      std::memcpy(target, &v, 8);
      return 8;
    }
    case QuickWay::Int64AsInt32: {
      // 32 bits hold it only when its first 9 digits are 0: the last 10 then.
      const unsigned char* digits = slot + kWholeDigitsAt;
      uint64_t first8, next8;
      std::memcpy(&first8, digits, 8);
      std::memcpy(&next8, digits + 9, 8);
      if (first8 != 0x3030303030303030u || digits[8] != '0') return 0;
      uint64_t magnitude = uint64_t{digits8_value(next8)} * 100 + (digits[17] - '0') * 10u + (digits[18] - '0');
      if (magnitude > uint64_t{INT32_MAX} + (slot[0] != 0)) return 0;
      int64_t v = slot[0] ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
      auto i = static_cast<int32_t>(v);
      std::memcpy(target, &i, 4);
      return 4;
    }
    case QuickWay::Date:
      std::memcpy(target, slot, 6);
      return 6;
    default: return 0;
  }
}

// The quick way `way` (quick_way of the column's type and c_type): the value
// converted straight, and true (SQL_SUCCESS, nothing to post).  false leaves
// everything untouched for convert_column (NULL, no target, a value that
// does not fit whole, a piece already handed out, General).
// (Inlined: a call per column costs as much as the conversion of most.)
[[gnu::always_inline]] inline bool convert_quick(QuickWay way, ColumnDescriptor& column, SQLSMALLINT c_type,
                                                SQLPOINTER target, SQLLEN target_size, SQLLEN* length,
                                                const unsigned char* row_buffer) {
  if (column.value_length < 0 || target == nullptr) return false;
  const unsigned char* slot = row_buffer + column.row_offset;
  if (SQLLEN n = put_fixed_quick(way, slot, target)) {
    if (length != nullptr) *length = n;
    return true;
  }
  switch (way) {
    case QuickWay::Double:
      put_double_value(slot, target, length);
      return true;
    case QuickWay::Chars: {
      // A value at hand (not on the host), not yet handed out, that fits
      // whole with its terminator.
      if (column.piece_returned || column.value_length >= target_size || column.value_place == kOnHost)
        return false;
      SQLLEN n = static_cast<SQLLEN>(column.value_length);
      copy_bytes(target, value_bytes(column, row_buffer), static_cast<size_t>(n));
      static_cast<char*>(target)[n] = '\0';
      column.returned_count = static_cast<uint64_t>(n);
      column.piece_returned = true;
      if (length != nullptr) *length = n;
      return true;
    }
    case QuickWay::NumberText:
    case QuickWay::Digits19Text:
    case QuickWay::DateText:
    case QuickWay::DoubleChars:
    case QuickWay::Text:
      return detail::put_whole_text(column, slot, c_type == SQL_C_WCHAR, target, target_size, length);
    default: return false;
  }
}

// The natural C types of the common columns, which every fetch of bound
// columns takes: convert_quick with the way chosen here.
[[gnu::always_inline]] inline bool convert_natural(ColumnDescriptor& column, SQLSMALLINT c_type, SQLPOINTER target,
                                                  SQLLEN target_size, SQLLEN* length,
                                                  const unsigned char* row_buffer) {
  return convert_quick(quick_way(column.sql_type, c_type), column, c_type, target, target_size, length, row_buffer);
}

inline ConvertResult convert_column(ColumnDescriptor& column, SQLSMALLINT c_type, SQLPOINTER target,
                                    SQLLEN target_size, SQLLEN* length, const unsigned char* row_buffer,
                                    const ConvertOptions& options = {}) {
  if (convert_natural(column, c_type, target, target_size, length, row_buffer)) return {SQL_SUCCESS, std::nullopt};
  return detail::convert_general(column, c_type, target, target_size, length, row_buffer, options);
}

}  // namespace quarl::codec
