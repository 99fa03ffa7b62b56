#include "hostserver/host_types.h"

#include <sqlite3.h>

#include <cstdlib>
#include <vector>

#include "common/text.h"

namespace hostserver {
namespace {

// Declared types may run over lines.
std::string_view trim(std::string_view s) { return quarl::trim(s, " \t\n"); }

void set(ColumnSpec& shape, HostType type, unsigned precision, unsigned scale = 0, bool hex = false) {
  shape.type = type;
  shape.precision = precision;
  shape.scale = scale;
  shape.hex = hex;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool one_of(std::string_view word, std::initializer_list<std::string_view> names) {
  for (auto n : names)
    if (word == n) return true;
  return false;
}

}  // namespace

const char* type_name(HostType type) {
  switch (type) {
    case HostType::Bit: return "BIT";
    case HostType::LongVarchar: return "LONGVARCHAR";
    case HostType::Char: return "CHAR";
    case HostType::Numeric: return "NUMERIC";
    case HostType::Integer: return "INTEGER";
    case HostType::SmallInt: return "SMALLINT";
    case HostType::Double: return "DOUBLE";
    case HostType::Date: return "DATE";
    case HostType::Time: return "TIME";
    case HostType::Timestamp: return "TIMESTAMP";
    case HostType::Varchar: return "VARCHAR";
  }
  return "VARCHAR";
}

std::optional<HostType> host_type_from_code(int code) {
  switch (code) {
    case -7: case -1: case 1: case 2: case 4: case 5: case 8: case 9: case 10: case 11: case 12:
      return static_cast<HostType>(code);
    default:
      return std::nullopt;
  }
}

void describe_declared(std::string_view declared, ColumnSpec& shape) {
  std::string upper = quarl::to_upper(trim(declared));
  std::string_view text = upper;
  // The base name and up to two numbers in parentheses.
  std::string_view base = text;
  std::vector<long> args;
  if (size_t open = text.find('('); open != std::string_view::npos) {
    base = trim(text.substr(0, open));
    std::string_view inside = text.substr(open + 1);
    if (size_t close = inside.find(')'); close != std::string_view::npos) inside = inside.substr(0, close);
    while (!inside.empty()) {
      size_t comma = inside.find(',');
      std::string piece(trim(inside.substr(0, comma)));
      char* end = nullptr;
      long v = std::strtol(piece.c_str(), &end, 10);
      args.push_back(end && *end == '\0' && !piece.empty() ? v : -1);
      if (comma == std::string_view::npos) break;
      inside = inside.substr(comma + 1);
    }
  }
  // Collapse inner runs of blanks ("DOUBLE  PRECISION").
  std::string word;
  for (char c : base)
    if (c != ' ' || (!word.empty() && word.back() != ' ')) word += c;
  auto length = [&](unsigned fallback) {
    long n = args.empty() ? -1 : args[0];
    if (n <= 0) return fallback;
    return n > static_cast<long>(kMaxCharLength) ? kMaxCharLength : static_cast<unsigned>(n);
  };

  if (one_of(word, {"BIT", "BOOL", "BOOLEAN"})) return set(shape, HostType::Bit, 1);
  if (one_of(word, {"DATE"})) return set(shape, HostType::Date, 10);
  if (one_of(word, {"TIME"})) return set(shape, HostType::Time, 8);
  if (one_of(word, {"TIMESTAMP", "DATETIME"})) return set(shape, HostType::Timestamp, 29, 9);
  if (one_of(word, {"SMALLINT", "TINYINT", "INT2"})) return set(shape, HostType::SmallInt, 5);
  if (one_of(word, {"INTEGER", "INT", "MEDIUMINT", "INT4"})) return set(shape, HostType::Integer, 10);
  // 64-bit integers do not fit INTEGER; DOUBLE's decimal text carries them exactly.
  if (one_of(word, {"BIGINT", "INT8", "UNSIGNED BIG INT"})) return set(shape, HostType::Double, 15);
  if (one_of(word, {"DOUBLE", "DOUBLE PRECISION", "REAL", "FLOAT", "FLOAT4", "FLOAT8"}))
    return set(shape, HostType::Double, 15);
  if (one_of(word, {"NUMERIC", "DECIMAL", "DEC", "NUMBER"})) {
    long p = args.empty() ? -1 : args[0];
    long s = args.size() > 1 ? args[1] : 0;
    if (p >= 1 && p <= static_cast<long>(kMaxNumericPrecision) && s >= 0 && s <= p)
      return set(shape, HostType::Numeric, static_cast<unsigned>(p), static_cast<unsigned>(s));
    return set(shape, HostType::Double, 15);  // wider than the client's 32-bit storage
  }
  if (one_of(word, {"LONGVARCHAR", "LONG VARCHAR", "TEXT", "CLOB", "LONG", "MEDIUMTEXT", "LONGTEXT", "NTEXT"}))
    return set(shape, HostType::LongVarchar, kMaxCharLength);
  if (one_of(word, {"VARCHAR", "CHARACTER VARYING", "CHAR VARYING", "NVARCHAR", "VARCHAR2", "NVARCHAR2",
                    "NATIONAL CHARACTER VARYING", "NATIONAL CHAR VARYING"}))
    return set(shape, HostType::Varchar, length(kMaxCharLength));
  if (one_of(word, {"CHAR", "CHARACTER", "NCHAR", "NATIONAL CHARACTER", "NATIONAL CHAR"})) {
    long n = args.empty() ? 1 : args[0];
    if (n > static_cast<long>(kMaxCharLength)) return set(shape, HostType::Varchar, kMaxCharLength);
    return set(shape, HostType::Char, n >= 1 ? static_cast<unsigned>(n) : 1);
  }
  if (one_of(word, {"BLOB", "BINARY", "VARBINARY", "LONGVARBINARY", "BYTEA"}))
    return set(shape, HostType::LongVarchar, kMaxCharLength, 0, true);
  // Other names follow SQLite's affinity rules.
  if (word.empty()) return set(shape, HostType::Varchar, kMaxCharLength);
  if (contains(word, "INT")) return set(shape, HostType::Integer, 10);
  if (contains(word, "CHAR") || contains(word, "CLOB") || contains(word, "TEXT"))
    return set(shape, HostType::Varchar, kMaxCharLength);
  if (contains(word, "BLOB")) return set(shape, HostType::LongVarchar, kMaxCharLength, 0, true);
  if (contains(word, "REAL") || contains(word, "FLOA") || contains(word, "DOUB")) return set(shape, HostType::Double, 15);
  return set(shape, HostType::Varchar, kMaxCharLength);
}

void describe_sampled(int kind, int64_t integer_value, ColumnSpec& shape) {
  switch (kind) {
    case SQLITE_INTEGER:
      if (integer_value >= INT32_MIN && integer_value <= INT32_MAX) return set(shape, HostType::Integer, 10);
      return set(shape, HostType::Double, 15);
    case SQLITE_FLOAT: return set(shape, HostType::Double, 15);
    case SQLITE_BLOB: return set(shape, HostType::LongVarchar, kMaxCharLength, 0, true);
    default: return set(shape, HostType::Varchar, kMaxCharLength);
  }
}

unsigned transfer_length(const ColumnSpec& shape) {
  switch (shape.type) {
    case HostType::Bit: return 1;
    case HostType::Char: case HostType::Varchar: case HostType::LongVarchar: return shape.precision;
    case HostType::Numeric: return shape.precision + 2;
    case HostType::Integer: return 4;
    case HostType::SmallInt: return 2;
    case HostType::Double: return 8;
    case HostType::Date: case HostType::Time: return 6;
    case HostType::Timestamp: return 16;
  }
  return 0;
}

}  // namespace hostserver
