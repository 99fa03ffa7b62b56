// The statement records that the codec works on: result column descriptors,
// parameter records, the row storage of each column type, and the result-set
// description that a describe reply produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "driver/codec/diag.h"
#include "driver/codec/digits_fast.h"
#include "driver/codec/odbc.h"

namespace quarl::codec {

inline constexpr size_t kMaxColumnName = 29;

// One result column.  Zero-initialised ({}); the describe reply fills the
// descriptive part, fetching the value state, SQLBindCol the binding.
// Where the current value of a character or binary column lies.
enum ValuePlace : uint8_t {
  kInSlot = 0,     // in its row storage (at most 999 bytes)
  kInRowArea = 1,  // a longer value, in the row data area (area_bytes)
  kOnHost = 2,     // left on the host, read in pieces (long values)
};

// How a column's value travels in a row and is kept in its row storage:
// chosen once, when the result is described, from the column's type and
// precision, so that unpacking a row looks at nothing else.
enum class RowForm : uint8_t {
  None = 0,     // no row storage: such a column cannot be fetched
  Bit,          // one character
  Char1,        // CHAR(1): the flag byte and one character
  Chars,        // CHAR(n): the flag byte and n characters
  Varying,      // VARCHAR, LONGVARCHAR: three length digits and the bytes
  VaryingLong,  // the same, or the forms of long values (common/long_values.h)
  Integer,      // INTEGER: optional '-' and 10 digits
  SmallInt,     // SMALLINT: optional '-' and 5 digits
  Digits19,     // NUMERIC and BIGINT of 19 digits: optional '-' and 19 digits
  Digits,       // NUMERIC of fewer digits: optional '-' and precision digits
  Double,       // two length digits and the decimal text
  Date,         // yyyymmdd
  Time,         // hhmmss
  Timestamp,    // yyyymmddhhmmss and a 9-digit fraction
};

// 128 bytes (the members laid out without holes, then aligned): finding a
// column by its number, which every SQLGetData does, is a shift.
struct alignas(128) ColumnDescriptor {
  char name[kMaxColumnName + 1];  // NUL-terminated, at most 29 characters
  int8_t sql_type;  // SQL_BIGINT for what travels as NUMERIC(19,0)
  uint32_t precision;  // long and binary columns: up to the host's value limit
  uint8_t scale;
  uint8_t reserved;  // 0 after a describe reply
  uint8_t nullable;  // SQL_NO_NULLS 0, SQL_NULLABLE 1, as the host sends it
  // Values may come in the forms of long values (common/long_values.h).
  bool long_forms;
  // Where the column's storage lies in the row buffer.  32 bits so that a wide
  // row (many long character columns) cannot wrap.
  uint32_t row_offset;
  RowForm row_form;
  // SQLGetData's choice for this column: the C type last asked for
  // (0: none yet) and its QuickWay (convert.h).
  uint8_t quick_way;
  SQLSMALLINT quick_c_type;
  // Value state of the current row.
  uint64_t returned_count;  // bytes of a character or binary value already handed out
  int64_t value_length;     // length in row storage (bytes of a character or binary value); -1 marks NULL
  bool piece_returned;      // a piece (possibly empty) of the value was handed out
  uint8_t value_place;      // ValuePlace of a character or binary value
  bool hex_half;            // the next byte's first hex digit (or its character's high surrogate) went out
  SQLSMALLINT bound_c_type;  // (of the binding, below)
  const char* area_bytes;   // kInRowArea: the value
  uint64_t host_units;      // kOnHost text: the UTF-16 units of the whole value
  uint64_t units_returned;  // UTF-16 units of a text handed out as wide characters
  // Binding (SQLBindCol).
  SQLPOINTER bound_buffer;  // null: not bound
  SQLLEN* bound_length;
  SQLLEN bound_buffer_length;
};
static_assert(sizeof(ColumnDescriptor) == 128);

// One bound parameter (SQLSetParam / SQLBindParameter), read at execute time.
struct ParamRecord {
  SQLSMALLINT c_type;
  SQLSMALLINT sql_type;
  uint32_t precision;  // cbColDef
  int32_t scale;       // ibScale widened
  SQLPOINTER value;    // rgbValue
  SQLLEN* length;      // pcbValue, may be null
  SQLLEN buffer_length = 0;  // cbValueMax: the size of one element of a column-wise array
  // Precision and scale of a SQL_C_NUMERIC value as the application's
  // descriptor gives them; kFromValue: those of the value's own structure.
  int16_t c_precision = kFromValue;
  int16_t c_scale = kFromValue;
  static constexpr int16_t kFromValue = INT16_MIN;
  // With long values: the value went to the host already, in parameter
  // pieces of this many bytes (data at execution); -1: it is in the buffer.
  int64_t sent_apart = -1;
};

// Bytes a value of a fixed-size C type takes; 0 for the variable-length ones.
size_t c_type_size(int c_type);

// A record takes part in a request when it has a value buffer, or a length
// pointer alone (a NULL bound without buffer).
inline bool is_bound(const ParamRecord& p) { return p.value != nullptr || p.length != nullptr; }

// A character value carries at most 999 bytes (three length digits); its
// slot holds any such value, whatever the column's precision says.  Longer
// values (long values agreed) stay where they arrived.
inline constexpr uint32_t kMaxCharValue = 999;

inline bool is_binary_sql_type(int sql_type) {
  return sql_type == SQL_BINARY || sql_type == SQL_VARBINARY || sql_type == SQL_LONGVARBINARY;
}
inline bool is_character_sql_type(int sql_type) {
  return sql_type == SQL_CHAR || sql_type == SQL_VARCHAR || sql_type == SQL_LONGVARCHAR;
}
// The bytes of a character or binary value that is not on the host.
inline const char* value_bytes(const ColumnDescriptor& c, const unsigned char* row_buffer) {
  return c.value_place == kInRowArea ? c.area_bytes : reinterpret_cast<const char*>(row_buffer + c.row_offset);
}
// The widest NUMERIC the 64-bit storage holds every value of.
inline constexpr uint16_t kMaxNumericDigits = 19;

// Row storage of a column type: size and alignment of its slot.
struct RowSlot {
  uint32_t size;
  uint32_t align;
};
// A 19-digit NUMERIC or BIGINT slot keeps the field as it came: its sign
// (first byte: 1 for '-') and, from kWholeDigitsAt, its 19 digits, checked
// when the row was unpacked.  The value's text is those digits; its number
// is read from them when asked for (whole_value).  Other NUMERIC slots keep
// the 64-bit value.  A DATE slot keeps year, month and day (16 bits each)
// and, after them, the 8 digits yyyymmdd, which make its text.
inline constexpr uint32_t kWholeDigitsAt = 8;
inline constexpr uint32_t kDateDigitsAt = 6;
// The value of a 19-digit NUMERIC or BIGINT slot, read from its digits.
inline int64_t digits19_value(const unsigned char* slot) {
  const unsigned char* digits = slot + kWholeDigitsAt;
  uint64_t first3 = digits[0] * 100u + digits[1] * 10u + digits[2] - uint64_t{'0' * 111};
  uint64_t v = first3 * 10000000000000000u + known_digits16(reinterpret_cast<const char*>(digits) + 3);
  return static_cast<int64_t>(slot[0] ? 0 - v : v);
}

// The value of a NUMERIC or BIGINT column's slot (the integer x 10^scale).
inline int64_t whole_value(const ColumnDescriptor& c, const unsigned char* slot) {
  if (c.row_form == RowForm::Digits19) return digits19_value(slot);
  int64_t value;
  std::memcpy(&value, slot, 8);
  return value;
}

// The most bytes a value (or NULL) of the column takes on the wire in its
// row form, when it is no long form, no character value beyond the
// column's precision and no double's text beyond kDoubleTextKept (such
// values are read with their lengths tested); 0 for a column without row
// storage.
size_t longest_field(const ColumnDescriptor& c);

// nullopt for types that have no slot (such a column cannot be fetched).
std::optional<RowSlot> row_slot(int sql_type, uint32_t precision);
// The row form of a column (long_forms: values may come as long values).
RowForm row_form(int sql_type, uint32_t precision, bool long_forms);

// The DOUBLE slot: where the decimal text lies (it stays in the row data
// area, as character values do) and its length, at most 31 characters
// (kDoubleTextKept, the longest text a host may send; a longer text is
// refused).  kDoubleTextReadable bytes are readable from the text's start,
// whatever its length (the row data area keeps that many after its last
// byte), so that the text is read in whole vectors.
inline constexpr size_t kDoubleTextKept = 31;
inline constexpr size_t kDoubleTextReadable = 32;
inline constexpr uint32_t kDoubleSlot = sizeof(const char*) + 1;
inline void set_double_text(unsigned char* slot, const char* text, size_t n) {
  std::memcpy(slot, &text, sizeof text);
  slot[sizeof text] = static_cast<unsigned char>(n);
}
inline const char* stored_double_text(const unsigned char* slot) {
  const char* text;
  std::memcpy(&text, slot, sizeof text);
  return text;
}
inline size_t double_text_length(const unsigned char* slot) { return slot[sizeof(const char*)]; }

// What a describe reply says about the result set.
struct Description {
  int32_t row_count = -1;      // rows affected (codes 9 and 11), else -1
  bool columns_sent = false;   // false for code 11: the prepare's description stays
  uint16_t column_count = 0;
  uint16_t param_marker_count = 0;  // code 10 only, else 0
  // Descriptive fields and row offsets of columns 1 .. column_count.
  std::vector<ColumnDescriptor> columns;
  uint32_t row_size = 0;  // bytes of the row buffer
};

// The result-set part of a statement: column array, counts and row buffer.
struct ResultSet {
  std::vector<ColumnDescriptor> columns;  // max(column_count, highest_bound_column) entries
  uint16_t column_count = 0;
  uint16_t highest_bound_column = 0;
  uint16_t param_marker_count = 0;
  int32_t row_count = -1;
  std::vector<unsigned char> row_buffer;
  // The most bytes a row of these columns takes on the wire, each value
  // within its longest_field (0: no such bound).
  size_t longest_row = 0;

  // Takes over a describe reply: row count; for replies with columns, the
  // column array is sized to max(column count, highest bound column) keeping
  // every binding, the descriptive fields are replaced, value states reset,
  // and the row buffer is sized and zeroed.  A diag (index 4) when memory fails.
  std::optional<Diag> apply(const Description& description) noexcept;

  // Makes room for binding column `number` (1-based): highest bound column
  // and the array grow as needed.  A diag (index 4) when memory fails.
  std::optional<Diag> reserve_binding(uint16_t number) noexcept;

  // Forgets the columns and the row buffer (bindings too).
  void clear() noexcept;
};

}  // namespace quarl::codec
