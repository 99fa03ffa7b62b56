// The host's type system: the SQL types that rows travel in, how SQLite's
// declared column types map onto them, and how a result column is described.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostserver {

// ODBC 2 SQL type codes of the host's types.
enum class HostType : int8_t {
  Bit = -7,
  LongVarchar = -1,
  Char = 1,
  Numeric = 2,
  Integer = 4,
  SmallInt = 5,
  Double = 8,
  Date = 9,
  Time = 10,
  Timestamp = 11,
  Varchar = 12,
};

// Character values travel with a three-digit length.
inline constexpr unsigned kMaxCharLength = 999;
// NUMERIC values live in the client's 32-bit storage.
inline constexpr unsigned kMaxNumericPrecision = 9;
// The client keeps at most 31 characters of a DOUBLE's text.
inline constexpr unsigned kMaxDoubleText = 31;
// Column names travel with a two-digit length.
inline constexpr unsigned kMaxNameLength = 99;

struct ColumnSpec {
  std::string name;
  HostType type = HostType::Varchar;
  unsigned precision = kMaxCharLength;
  unsigned scale = 0;
  bool nullable = true;
  bool hex = false;  // binary data sent as hexadecimal text
};

const char* type_name(HostType type);
inline int sql_code(HostType type) { return static_cast<int>(type); }
std::optional<HostType> host_type_from_code(int code);

// Type, precision and scale for a declared column type ("VARCHAR(20)",
// "NUMERIC(7,2)", "INTEGER", ...).  Name and nullable are left as they are.
void describe_declared(std::string_view declared, ColumnSpec& shape);

// What SQLite's storage class of a sample value suggests for a column that
// has no declared type (an expression).  kind is SQLITE_INTEGER and so on,
// SQLITE_NULL when there is no sample.
void describe_sampled(int kind, int64_t integer_value, ColumnSpec& shape);

// Bytes a value of the column takes in the client's transfer form
// (SQLColumns LENGTH).
unsigned transfer_length(const ColumnSpec& shape);

}  // namespace hostserver
