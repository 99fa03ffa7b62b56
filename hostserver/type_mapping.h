// The host's type system, in one place: the types rows travel in, how
// SQLite's declared column types map onto them, how the result columns of
// a statement are described before it is stepped (declared types, then what
// the statement's program says about its expressions, then a fallback that
// holds every value of the kind), which columns cannot hold NULL, and how
// the catalog and the type information describe columns and types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace hostserver {

// The host's types, by the ODBC 2 SQL type code that applications see.
enum class HostType : int8_t {
  Bit = -7,
  BigInt = -5,  // travels as NUMERIC(19,0)
  // Binary types: only for clients that agreed to long values.
  LongVarBinary = -4,
  VarBinary = -3,
  Binary = -2,
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

// Character values travel with a three-digit length of UTF-8 bytes.
inline constexpr unsigned kMaxCharLength = 999;
// A declared length counts characters; UTF-8 takes up to four bytes for one.
inline constexpr unsigned kBytesPerCharacter = 4;
// NUMERIC values live in the client's 64-bit storage: 18 digits always fit.
inline constexpr unsigned kMaxNumericPrecision = 18;
// 64-bit integers: NUMERIC(19,0) on the wire, BIGINT for the application.
inline constexpr unsigned kBigIntPrecision = 19;
// Fraction digits of a TIMESTAMP declared without them (nanoseconds).
inline constexpr unsigned kDefaultTimestampScale = 9;
// Column names travel with a two-digit length.
inline constexpr unsigned kMaxNameLength = 99;

struct ColumnShape {
  std::string name;
  HostType type = HostType::Varchar;
  unsigned precision = kMaxCharLength;
  unsigned scale = 0;
  bool nullable = true;
  bool hex = false;  // binary data sent as hexadecimal text
  // What a declaration says beyond the classic shape, for clients that agreed
  // to long values: the bytes of VARCHAR(n) and CHAR(n) (4n) or of BINARY(n)
  // and VARBINARY(n) (n), uncut; 0 when it gives none.
  unsigned declared_bytes = 0;
  bool fixed_binary = false;  // BINARY(n)
  // Values travel in the long forms (common/long_values.h).
  bool long_forms = false;
};

// How a client's columns are described: the classic way (character values
// of at most 999 bytes, blobs as hexadecimal LONGVARCHAR), or, when it agreed
// to long values, with the binary types and the long types as long as the
// host's value limit.
struct WireTypes {
  bool long_values = false;
  unsigned value_limit = 0;  // precision of LONGVARCHAR and LONGVARBINARY
};
// A classic description in the client's terms.
void apply_wire_types(ColumnShape& shape, const WireTypes& wire);

// The ODBC name ("BIGINT") and the code applications see (-5).
const char* type_name(HostType type);
inline int odbc_code(HostType type) { return static_cast<int>(type); }
// The code and precision a column item carries on the wire.
int wire_code(HostType type);

// Precision (characters of the ODBC text) of a TIMESTAMP with scale fraction digits.
unsigned timestamp_precision(unsigned scale);

// Type, precision and scale for a declared column type ("VARCHAR(20)",
// "NUMERIC(7,2)", "INTEGER", ...).  Name and nullable are left as they are.
void describe_declared(std::string_view declared, ColumnShape& shape);

// The primary key of a table as the rowid alias rule needs it.
struct TableKeys {
  int pk_columns = 0;
  bool without_rowid = false;
};

// Table keys remembered between descriptions of one connection: asking
// SQLite for them takes a query of its own, which costs more than the rest
// of a description.  An entry holds while the database's data version stays
// (it moves with every commit, of this connection or another); while the
// connection's own changes are not committed the cache is not used.
class TableKeyCache {
 public:
  const TableKeys& get(sqlite3* db, const char* schema, const char* table);
  void clear() { entries_.clear(); }

 private:
  struct Entry {
    std::string schema, table;
    unsigned data_version;
    TableKeys keys;
  };
  std::vector<Entry> entries_;
  TableKeys uncached_;
};

// The result columns of a prepared statement, without stepping it:
// columns of tables by their declared types (NOT NULL and the rowid alias
// make them not nullable), expressions by what the statement's program says
// they can hold: integers BIGINT, numbers DOUBLE, text VARCHAR(999), blobs
// hexadecimal LONGVARCHAR(999), the value of one declared column that
// column's type, anything else VARCHAR(999).  keys: the connection's cache,
// if it has one.
std::vector<ColumnShape> describe_result(sqlite3* db, sqlite3_stmt* stmt, const WireTypes& wire = {},
                                       TableKeyCache* keys = nullptr);

// A column of a rowid table declared INTEGER that is the whole primary key
// is the rowid itself, which is never NULL.  (Other primary key columns of
// rowid tables may hold NULL in SQLite.)
bool is_rowid_alias(std::string_view declared, int pk_position, int pk_columns, bool without_rowid);

// The columns of a table or view as the catalog lists them (described as a
// query of the whole table would be), with each one's position in the
// primary key (0 when not in it).  False with error set when SQLite fails.
struct TableColumn {
  ColumnShape shape;
  int pk = 0;
};
bool describe_table(sqlite3* db, const std::string& table, std::vector<TableColumn>& out, std::string& error,
                    const WireTypes& wire = {}, TableKeyCache* keys = nullptr);

// What the catalog (SQLColumns, SQLSpecialColumns) says about a column.
struct CatalogFields {
  int data_type;
  const char* type_name;
  unsigned precision;
  unsigned length;  // bytes of the client's transfer form
  std::optional<int> scale;
  std::optional<int> radix;
  // Most bytes of a character or binary value (ODBC 3's CHAR_OCTET_LENGTH);
  // none for other types.
  std::optional<unsigned> octet_length;
};
CatalogFields catalog_fields(const ColumnShape& shape);

// One row of the type information (SQLGetTypeInfo), in the order of the
// type codes.
struct TypeInfo {
  HostType type;
  unsigned precision;
  const char* prefix;
  const char* suffix;
  const char* create_params;
  bool is_char, is_number;
  int min_scale, max_scale;  // -1: NULL
  int searchable;
};
std::vector<TypeInfo> type_information(const WireTypes& wire = {});

}  // namespace hostserver
