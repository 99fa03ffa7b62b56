#include "hostserver/type_mapping.h"

#include <sqlite3.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "common/text.h"
#include "hostserver/expression_types.h"

namespace hostserver {
namespace {

// Declared types may run over lines.
std::string_view trim(std::string_view s) { return quarl::trim(s, " \t\n"); }

void set(ColumnShape& shape, HostType type, unsigned precision, unsigned scale = 0, bool hex = false) {
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

// Bytes a value of n characters may take (at most what the wire carries).
unsigned character_bytes(long n) {
  if (n <= 0) return kMaxCharLength;
  long bytes = n * static_cast<long>(kBytesPerCharacter);
  return bytes > static_cast<long>(kMaxCharLength) ? kMaxCharLength : static_cast<unsigned>(bytes);
}

// A character type with its declared bytes kept for clients with long values.
void set_character(ColumnShape& shape, HostType type, long characters) {
  set(shape, type, type == HostType::LongVarchar ? kMaxCharLength : character_bytes(characters));
  if (characters > 0 && characters <= 1 << 28) shape.declared_bytes = static_cast<unsigned>(characters) * kBytesPerCharacter;
}

// Blobs: hexadecimal text for classic clients.
void set_binary(ColumnShape& shape, long bytes, bool fixed) {
  set(shape, HostType::LongVarchar, kMaxCharLength, 0, true);
  if (bytes > 0 && bytes <= 1 << 30) {
    shape.declared_bytes = static_cast<unsigned>(bytes);
    shape.fixed_binary = fixed;
  }
}

// The description of an expression from what its values can be.
ColumnShape from_kinds(const ValueKinds& k) {
  ColumnShape s;
  if (k.column) {
    s = *k.column;
    return s;
  }
  uint8_t bits = k.bits & static_cast<uint8_t>(~ValueKinds::kNull);
  constexpr uint8_t kNumber = ValueKinds::kInteger | ValueKinds::kReal;
  if (bits == ValueKinds::kInteger) set(s, HostType::BigInt, kBigIntPrecision);
  else if (bits != 0 && (bits & ~kNumber) == 0) set(s, HostType::Double, 15);
  else if (bits == ValueKinds::kBlob) set(s, HostType::LongVarchar, kMaxCharLength, 0, true);
  else set(s, HostType::Varchar, kMaxCharLength);  // text, a mix, or anything at all
  return s;
}

TableKeys table_keys(sqlite3* db, const char* schema, const char* table) {
  TableKeys keys;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT (SELECT count(*) FROM pragma_table_info(?1, ?2) WHERE pk > 0), "
                             "(SELECT wr FROM pragma_table_list WHERE name = ?1 AND schema = ?2)",
                         -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return keys;
  }
  sqlite3_bind_text(raw, 1, table, -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(raw, 2, schema ? schema : "main", -1, SQLITE_TRANSIENT);
  if (sqlite3_step(raw) == SQLITE_ROW) {
    keys.pk_columns = sqlite3_column_int(raw, 0);
    keys.without_rowid = sqlite3_column_int(raw, 1) != 0;
  }
  sqlite3_finalize(raw);
  return keys;
}

constexpr TypeInfo kTypes[] = {
    {HostType::Bit, 1, nullptr, nullptr, nullptr, false, false, -1, -1, 2},
    {HostType::BigInt, kBigIntPrecision, nullptr, nullptr, nullptr, false, true, 0, 0, 2},
    {HostType::LongVarchar, kMaxCharLength, "'", "'", nullptr, true, false, -1, -1, 3},
    {HostType::Char, kMaxCharLength, "'", "'", "length", true, false, -1, -1, 3},
    {HostType::Numeric, kMaxNumericPrecision, nullptr, nullptr, "precision,scale", false, true, 0,
     static_cast<int>(kMaxNumericPrecision), 2},
    {HostType::Integer, 10, nullptr, nullptr, nullptr, false, true, 0, 0, 2},
    {HostType::SmallInt, 5, nullptr, nullptr, nullptr, false, true, 0, 0, 2},
    {HostType::Double, 15, nullptr, nullptr, nullptr, false, true, -1, -1, 2},
    {HostType::Date, 10, "'", "'", nullptr, false, false, -1, -1, 2},
    {HostType::Time, 8, "'", "'", nullptr, false, false, -1, -1, 2},
    {HostType::Timestamp, 29, "'", "'", nullptr, false, false, 0, 9, 2},
    {HostType::Varchar, kMaxCharLength, "'", "'", "max length", true, false, -1, -1, 3},
};

// Entries a connection keeps at most (a client uses few tables at a time).
constexpr size_t kMaxCachedTables = 64;

unsigned data_version(sqlite3* db, const char* schema) {
  unsigned version = 0;
  sqlite3_file_control(db, schema ? schema : "main", SQLITE_FCNTL_DATA_VERSION, &version);
  return version;
}

}  // namespace

const TableKeys& TableKeyCache::get(sqlite3* db, const char* schema_in, const char* table) {
  std::string_view schema = schema_in ? schema_in : "main";
  // While the connection's own changes are not committed, they are not in
  // the data version: nothing is taken from or kept in the cache then.
  if (sqlite3_txn_state(db, schema_in ? schema_in : "main") == SQLITE_TXN_WRITE) {
    uncached_ = table_keys(db, schema_in, table);
    return uncached_;
  }
  unsigned version = data_version(db, schema_in);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->schema != schema || it->table != table) continue;
    if (it->data_version == version) return it->keys;
    entries_.erase(it);
    break;
  }
  if (entries_.size() >= kMaxCachedTables) entries_.clear();
  entries_.push_back(Entry{std::string(schema), table, version, table_keys(db, schema_in, table)});
  return entries_.back().keys;
}

const char* type_name(HostType type) {
  switch (type) {
    case HostType::Bit: return "BIT";
    case HostType::BigInt: return "BIGINT";
    case HostType::LongVarBinary: return "LONGVARBINARY";
    case HostType::VarBinary: return "VARBINARY";
    case HostType::Binary: return "BINARY";
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

int wire_code(HostType type) { return type == HostType::BigInt ? odbc_code(HostType::Numeric) : odbc_code(type); }

unsigned timestamp_precision(unsigned scale) { return scale == 0 ? 19 : 20 + scale; }

void describe_declared(std::string_view declared, ColumnShape& shape) {
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
  long first = args.empty() ? -1 : args[0];

  if (one_of(word, {"BIT", "BOOL", "BOOLEAN"})) return set(shape, HostType::Bit, 1);
  if (one_of(word, {"DATE"})) return set(shape, HostType::Date, 10);
  if (one_of(word, {"TIME"})) return set(shape, HostType::Time, 8);
  if (one_of(word, {"TIMESTAMP", "DATETIME"})) {
    unsigned scale = first >= 0 && first <= 9 ? static_cast<unsigned>(first) : kDefaultTimestampScale;
    return set(shape, HostType::Timestamp, timestamp_precision(scale), scale);
  }
  if (one_of(word, {"SMALLINT", "TINYINT", "INT2"})) return set(shape, HostType::SmallInt, 5);
  if (one_of(word, {"MEDIUMINT", "INT4"})) return set(shape, HostType::Integer, 10);
  // SQLite's integers have 64 bits, whatever the column's name says.
  if (one_of(word, {"INTEGER", "INT", "BIGINT", "INT8", "UNSIGNED BIG INT"}))
    return set(shape, HostType::BigInt, kBigIntPrecision);
  if (one_of(word, {"DOUBLE", "DOUBLE PRECISION", "REAL", "FLOAT", "FLOAT4", "FLOAT8"}))
    return set(shape, HostType::Double, 15);
  if (one_of(word, {"NUMERIC", "DECIMAL", "DEC", "NUMBER"})) {
    long s = args.size() > 1 ? args[1] : 0;
    if (first >= 1 && first <= static_cast<long>(kMaxNumericPrecision) && s >= 0 && s <= first)
      return set(shape, HostType::Numeric, static_cast<unsigned>(first), static_cast<unsigned>(s));
    if (first == static_cast<long>(kBigIntPrecision) && s == 0) return set(shape, HostType::BigInt, kBigIntPrecision);
    return set(shape, HostType::Double, 15);  // wider than 64 bits: integers and reals alike
  }
  if (one_of(word, {"LONGVARCHAR", "LONG VARCHAR", "TEXT", "CLOB", "LONG", "MEDIUMTEXT", "LONGTEXT", "NTEXT"}))
    return set_character(shape, HostType::LongVarchar, 0);
  if (one_of(word, {"VARCHAR", "CHARACTER VARYING", "CHAR VARYING", "NVARCHAR", "VARCHAR2", "NVARCHAR2",
                    "NATIONAL CHARACTER VARYING", "NATIONAL CHAR VARYING"}))
    return set_character(shape, HostType::Varchar, first);
  // SQLite keeps CHAR values as they were stored, without padding: they
  // travel as VARCHAR.
  if (one_of(word, {"CHAR", "CHARACTER", "NCHAR", "NATIONAL CHARACTER", "NATIONAL CHAR"}))
    return set_character(shape, HostType::Varchar, args.empty() ? 1 : first);
  // BINARY alone is BINARY(1), as CHAR is CHAR(1).
  if (one_of(word, {"BINARY"})) return set_binary(shape, args.empty() ? 1 : first, true);
  if (one_of(word, {"VARBINARY", "BINARY VARYING"})) return set_binary(shape, first, false);
  if (one_of(word, {"BLOB", "LONGVARBINARY", "LONG VARBINARY", "BYTEA", "IMAGE", "MEDIUMBLOB", "LONGBLOB"}))
    return set_binary(shape, 0, false);
  // Other names follow SQLite's affinity rules.
  if (contains(word, "INT")) return set(shape, HostType::BigInt, kBigIntPrecision);
  if (contains(word, "CHAR") || contains(word, "CLOB") || contains(word, "TEXT"))
    return set(shape, HostType::Varchar, kMaxCharLength);
  if (contains(word, "BLOB")) return set_binary(shape, 0, false);
  if (contains(word, "REAL") || contains(word, "FLOA") || contains(word, "DOUB")) return set(shape, HostType::Double, 15);
  // No type, or one that may hold anything: text holds every value.
  return set(shape, HostType::Varchar, kMaxCharLength);
}

bool is_rowid_alias(std::string_view declared, int pk_position, int pk_columns, bool without_rowid) {
  return pk_position > 0 && pk_columns == 1 && !without_rowid && quarl::iequals(trim(declared), "INTEGER");
}

// Whether the statement can give NULL in a column whose table forbids it:
// the missing side of an outer join (LEFT, RIGHT, FULL), or another arm of a
// UNION.  SQLite names the first arm's table column as the origin in both
// cases.  The words are looked for outside literals, quoted names and
// comments; a name spelled like one of them only makes the answer cautious.
static bool may_null_table_columns(std::string_view sql) {
  auto word_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
  };
  auto past_closing = [&](size_t at, char close) {
    // A doubled closing character inside quotes is part of the text.
    for (++at; at < sql.size(); ++at) {
      if (sql[at] != close) continue;
      if (close != ']' && at + 1 < sql.size() && sql[at + 1] == close) {
        ++at;
        continue;
      }
      return at + 1;
    }
    return sql.size();
  };
  for (size_t at = 0; at < sql.size();) {
    char c = sql[at];
    if (c == '\'' || c == '"' || c == '`') {
      at = past_closing(at, c);
    } else if (c == '[') {
      at = past_closing(at, ']');
    } else if (c == '-' && at + 1 < sql.size() && sql[at + 1] == '-') {
      size_t end = sql.find('\n', at);
      at = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (c == '/' && at + 1 < sql.size() && sql[at + 1] == '*') {
      size_t end = sql.find("*/", at + 2);
      at = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (word_char(c)) {
      size_t start = at;
      while (at < sql.size() && word_char(sql[at])) ++at;
      std::string_view word = sql.substr(start, at - start);
      for (std::string_view w : {"LEFT", "RIGHT", "FULL", "UNION"})
        if (quarl::iequals(word, w)) return true;
    } else {
      ++at;
    }
  }
  return false;
}

// The description a classic client gets.
static std::vector<ColumnShape> describe_result_classic(sqlite3* db, sqlite3_stmt* stmt, TableKeyCache* keys);

void apply_wire_types(ColumnShape& shape, const WireTypes& wire) {
  if (!wire.long_values) return;
  unsigned limit = wire.value_limit;
  auto capped = [&](unsigned bytes) { return bytes == 0 || bytes > limit ? limit : bytes; };
  switch (shape.type) {
    case HostType::LongVarchar:
      if (shape.hex) {
        shape.type = shape.declared_bytes == 0 ? HostType::LongVarBinary
                     : shape.fixed_binary      ? HostType::Binary
                                               : HostType::VarBinary;
        shape.precision = capped(shape.declared_bytes);
        shape.hex = false;
      } else {
        shape.precision = limit;
      }
      shape.long_forms = true;
      break;
    case HostType::Varchar:
      // No declared length: the classic 999 bytes; values may be longer.
      if (shape.declared_bytes > 0) shape.precision = capped(shape.declared_bytes);
      shape.long_forms = true;
      break;
    default: break;
  }
}

std::vector<ColumnShape> describe_result(sqlite3* db, sqlite3_stmt* stmt, const WireTypes& wire, TableKeyCache* keys) {
  std::vector<ColumnShape> columns = describe_result_classic(db, stmt, keys);
  for (auto& c : columns) apply_wire_types(c, wire);
  return columns;
}

static std::vector<ColumnShape> describe_result_classic(sqlite3* db, sqlite3_stmt* stmt, TableKeyCache* keys) {
  int n = sqlite3_column_count(stmt);
  std::vector<ColumnShape> columns(static_cast<size_t>(n));
  std::vector<bool> undeclared(static_cast<size_t>(n), false);
  TableKeyCache own;  // for one description only, when the caller keeps none
  if (!keys) keys = &own;
  bool any_undeclared = false;
  for (int i = 0; i < n; ++i) {
    ColumnShape& c = columns[static_cast<size_t>(i)];
    const char* name = sqlite3_column_name(stmt, i);
    c.name = name ? name : "";
    c.nullable = true;
    const char* declared = sqlite3_column_decltype(stmt, i);
    if (!declared) {
      undeclared[static_cast<size_t>(i)] = any_undeclared = true;
      continue;
    }
    describe_declared(declared, c);
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* origin = sqlite3_column_origin_name(stmt, i);
    const char* schema = sqlite3_column_database_name(stmt, i);
    if (!table || !origin) continue;
    const char* column_declared = nullptr;
    int notnull = 0, pk = 0;
    if (sqlite3_table_column_metadata(db, schema, table, origin, &column_declared, nullptr, &notnull, &pk, nullptr) !=
        SQLITE_OK)
      continue;
    const TableKeys& k = keys->get(db, schema, table);
    // The position in the key does not matter for the rule, only that the
    // column is part of it.
    bool key_column = pk != 0;
    c.nullable = !(notnull || (key_column && k.without_rowid) ||
                   is_rowid_alias(column_declared ? column_declared : "", key_column ? 1 : 0, k.pk_columns,
                                  k.without_rowid));
  }
  bool any_not_null = false;
  for (const ColumnShape& c : columns) any_not_null = any_not_null || !c.nullable;
  if (any_not_null && may_null_table_columns(sqlite3_sql(stmt) ? sqlite3_sql(stmt) : ""))
    for (ColumnShape& c : columns) c.nullable = true;
  if (!any_undeclared) return columns;
  std::vector<ValueKinds> kinds = result_value_kinds(db, stmt);
  for (int i = 0; i < n; ++i) {
    if (!undeclared[static_cast<size_t>(i)]) continue;
    ValueKinds k;
    if (kinds.size() == static_cast<size_t>(n)) k = kinds[static_cast<size_t>(i)];
    else k.bits = ValueKinds::kAny;
    std::string name = std::move(columns[static_cast<size_t>(i)].name);
    columns[static_cast<size_t>(i)] = from_kinds(k);
    columns[static_cast<size_t>(i)].name = std::move(name);
    columns[static_cast<size_t>(i)].nullable = true;
  }
  return columns;
}

bool describe_table(sqlite3* db, const std::string& table, std::vector<TableColumn>& out, std::string& error,
                    const WireTypes& wire, TableKeyCache* keys) {
  out.clear();
  // A query of the whole table or view: its columns as any query sees them.
  std::string sql = "SELECT * FROM main." + quoted_name(table);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
    sqlite3_finalize(raw);
    return false;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  std::vector<ColumnShape> shapes = describe_result(db, raw, wire, keys);
  // Positions in the primary key (views have none).
  std::map<std::string, int> pk;
  sqlite3_stmt* info = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name, pk FROM pragma_table_info(?, 'main')", -1, &info, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(info, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(info) == SQLITE_ROW) {
      auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info, 0));
      pk[quarl::to_upper(name ? name : "")] = sqlite3_column_int(info, 1);
    }
  }
  sqlite3_finalize(info);
  for (auto& s : shapes) {
    auto it = pk.find(quarl::to_upper(s.name));
    out.push_back({std::move(s), it == pk.end() ? 0 : it->second});
  }
  return true;
}

CatalogFields catalog_fields(const ColumnShape& shape) {
  CatalogFields f{odbc_code(shape.type), type_name(shape.type), shape.precision, 0, std::nullopt, std::nullopt,
                  std::nullopt};
  bool numeric = false;
  switch (shape.type) {
    case HostType::Bit: f.length = 1; break;
    case HostType::Char: case HostType::Varchar: case HostType::LongVarchar:
    case HostType::Binary: case HostType::VarBinary: case HostType::LongVarBinary:
      f.length = shape.precision;
      f.octet_length = shape.precision;
      break;
    case HostType::Numeric: f.length = shape.precision + 2, numeric = true; break;
    case HostType::BigInt: f.length = 8, numeric = true; break;
    case HostType::Integer: f.length = 4, numeric = true; break;
    case HostType::SmallInt: f.length = 2, numeric = true; break;
    case HostType::Double: f.length = 8, numeric = true; break;
    case HostType::Date: case HostType::Time: f.length = 6; break;
    case HostType::Timestamp: f.length = 16; break;
  }
  if (numeric || shape.type == HostType::Timestamp) f.scale = static_cast<int>(shape.scale);
  if (numeric) f.radix = 10;
  return f;
}

std::vector<TypeInfo> type_information(const WireTypes& wire) {
  std::vector<TypeInfo> types(std::begin(kTypes), std::end(kTypes));
  if (!wire.long_values) return types;
  // Character values as long as the host stores; the binary types, with
  // SQLite's blob literals (X'0A1B'), after BIGINT in the order of their codes.
  for (auto& t : types)
    if (t.is_char) t.precision = wire.value_limit;
  auto after_bigint = types.begin() + 2;
  types.insert(after_bigint, {{HostType::LongVarBinary, wire.value_limit, "X'", "'", nullptr, false, false, -1, -1, 2},
                              {HostType::VarBinary, wire.value_limit, "X'", "'", "max length", false, false, -1, -1, 2},
                              {HostType::Binary, wire.value_limit, "X'", "'", "length", false, false, -1, -1, 2}});
  return types;
}

}  // namespace hostserver
