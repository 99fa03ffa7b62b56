// The canonical form every conversion goes through: a value is first read
// into a Value (from a column's row storage, or from an application's
// parameter buffer), then written in the target form (an application's C
// type, or a parameter's wire form) from there.  Every pair of source and
// target shares the same rules and range checks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/datetime.h"
#include "driver/codec/diag.h"
#include "driver/codec/records.h"

namespace quarl::codec {

struct Value {
  enum class Kind : uint8_t {
    Integer,    // integer (or, with above_int64, the unsigned big)
    Decimal,    // integer x 10^-scale
    Real,       // real; text holds its decimal text when it came as text
    Text,       // text: bytes (UTF-8 for the host; any bytes from SQL_C_BINARY)
    Date,       // stamp's date
    Time,       // stamp's time
    Timestamp,  // stamp
  };
  Kind kind = Kind::Integer;
  int64_t integer = 0;
  uint64_t big = 0;          // an unsigned 64-bit value above INT64_MAX (above_int64)
  bool above_int64 = false;
  int scale = 0;
  double real = 0;
  // Real: integer holds the value exactly (its text was a whole number).
  bool exact_integer = false;
  std::string_view text;
  Stamp stamp;
  int fraction_digits = 9;  // Timestamp: digits its text shows (the column's scale)
};

// The current value of a non-NULL, non-character column (phase one of
// reading a result).  slot: the column's row storage.
Value column_value(const ColumnDescriptor& column, const unsigned char* slot);

// The number a DOUBLE column's stored text reads as.
double double_text_value(const unsigned char* slot);

// The C type SQL_C_DEFAULT stands for, by SQL type (ODBC 2 date and time
// codes).
int default_c_type(int sql_type);

// A value as an exact decimal text ("-12.50", "1e+300" for reals in
// exponent form): what SQL_C_CHAR shows, and what numeric parameters carry.
// keep is how many leading characters must survive a cut (the digits before
// the point): a text that cannot keep them is out of range, not truncated.
struct ValueText {
  std::string text;
  size_t keep = 0;
};
ValueText text_of(const Value& v, bool numeric_trailing_zeros = true);

// A value as an integer: the whole part, whether a fraction was cut off, and
// false when the value is no number (text that does not read as one: 22005)
// or lies outside 64 bits (22003).
struct Whole {
  int64_t value = 0;
  bool unsigned_big = false;  // value is a uint64 above INT64_MAX
  bool fraction = false;
  bool negative = false;      // the value was below zero (also -0.5)
};
std::optional<Diag> whole_of(const Value& v, Whole& out);

// A value as a double: false for text that is no number (22005).
std::optional<Diag> real_of(const Value& v, double& out);

// Text of a date, time or timestamp, read as one (22008 when it is none).
std::optional<Diag> stamp_of_text(std::string_view text, Value::Kind wanted, Value& out);

}  // namespace quarl::codec
