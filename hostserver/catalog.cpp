// Catalog requests (type 1 codes 3, 5, 6, 7, 12, 13, 15, 16) answered from
// SQLite's schema with the ODBC 2 catalog result columns, and the type
// information request (code 8).  Table names of SQLTables, SQLColumns and
// SQLTablePrivileges are search patterns ('%', '_', escape '\'), as is the
// column name of SQLColumnPrivileges; the other names are plain (an escaped
// '\_' or '\%' in them still means the character).  Qualifier and owner
// are not used: SQLite has neither, and they are answered as NULL.
//
// A request whose data end with the digit '3' after the function's own
// fields asks for the result columns of ODBC 3 (the Unicode driver does, for
// applications of ODBC 3): the columns that ODBC 3 renamed carry their new
// names, the date and time types their codes 91 to 93, and the columns that
// ODBC 3 added follow the others.
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "common/hostmsg.h"
#include "common/text.h"
#include "hostserver/row_encoder.h"
#include "hostserver/session.h"
#include "hostserver/sql_errors.h"
#include "hostserver/sql_session.h"
#include "hostserver/type_mapping.h"

namespace hostserver {
namespace {

namespace code = quarl::hostmsg::code;

// ---- names and patterns ----

struct Names {
  std::string qualifier, owner, table, column;
  std::string_view extra;  // fields after the names
  bool odbc3 = false;      // the result columns of ODBC 3
};

bool take_name(std::string_view& d, std::string& out) {
  unsigned n = 0;
  if (d.size() < 3 || !parse_digits(d.substr(0, 3), n) || d.size() - 3 < n) return false;
  out.assign(d.substr(3, n));
  d.remove_prefix(3 + n);
  return true;
}

bool parse_names(std::string_view d, bool with_column, Names& out) {
  d.remove_prefix(4);  // statement id
  if (!take_name(d, out.qualifier) || !take_name(d, out.owner) || !take_name(d, out.table)) return false;
  if (with_column && !take_name(d, out.column)) return false;
  out.extra = d;
  return true;
}

// SQL LIKE with '%', '_' and the escape '\', without regard to (ASCII) case
// as SQLite compares names.
bool like(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star_p = std::string_view::npos, star_t = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      star_p = ++p;
      star_t = t;
      continue;
    }
    if (p < pattern.size()) {
      char pc = pattern[p];
      size_t width = 1;
      bool any = pc == '_';
      if (pc == '\\' && p + 1 < pattern.size()) {
        pc = pattern[p + 1];
        width = 2;
        any = false;
      }
      if (any || quarl::ascii_upper(pc) == quarl::ascii_upper(text[t])) {
        p += width;
        ++t;
        continue;
      }
    }
    if (star_p == std::string_view::npos) return false;
    p = star_p;
    t = ++star_t;
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

// A plain name may still carry the escapes of a pattern.
std::string unescape(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 1 < name.size() && (name[i + 1] == '_' || name[i + 1] == '%' || name[i + 1] == '\\'))
      ++i;
    out += name[i];
  }
  return out;
}

// ---- reading the schema ----

// Rows of a query with text parameters; every value as text or NULL.
using TextRow = std::vector<std::optional<std::string>>;
bool query(sqlite3* db, const char* sql, const std::vector<std::string>& args, std::vector<TextRow>& rows,
           SqlError& error) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  StmtPtr stmt(raw);
  if (rc != SQLITE_OK) {
    error = sqlite_error(db, rc);
    return false;
  }
  for (size_t i = 0; i < args.size(); ++i)
    sqlite3_bind_text(raw, static_cast<int>(i + 1), args[i].data(), static_cast<int>(args[i].size()),
                      SQLITE_TRANSIENT);
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    TextRow row;
    for (int c = 0, n = sqlite3_column_count(raw); c < n; ++c) {
      auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
      if (text) row.emplace_back(std::string(text, static_cast<size_t>(sqlite3_column_bytes(raw, c))));
      else row.emplace_back(std::nullopt);
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    error = sqlite_error(db, rc);
    return false;
  }
  return true;
}

struct TableInfo {
  std::string name;
  std::string type;  // "TABLE" or "VIEW"
};

// Tables and views of the main database in the order SQLTables wants
// (type, then name); internal tables left out.
bool tables(sqlite3* db, std::vector<TableInfo>& out, SqlError& error) {
  std::vector<TextRow> rows;
  if (!query(db,
             "SELECT name, CASE type WHEN 'view' THEN 'VIEW' ELSE 'TABLE' END FROM main.sqlite_schema "
             "WHERE type IN ('table','view') AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY 2, 1 COLLATE NOCASE",
             {}, rows, error))
    return false;
  for (auto& r : rows) out.push_back({*r[0], *r[1]});
  return true;
}

// The tables whose names match (pattern) or equal (plain name) the request's.
bool matching_tables(sqlite3* db, const std::string& name, bool pattern, std::vector<TableInfo>& out,
                     SqlError& error) {
  std::vector<TableInfo> all;
  if (!tables(db, all, error)) return false;
  std::string plain = unescape(name);
  for (auto& t : all)
    if (pattern ? (name.empty() || like(name, t.name)) : quarl::iequals(plain, t.name)) out.push_back(t);
  std::sort(out.begin(), out.end(), [](const TableInfo& a, const TableInfo& b) {
    return quarl::to_upper(a.name) < quarl::to_upper(b.name);
  });
  return true;
}

struct ColumnInfo {
  std::string name, declared;
  bool notnull = false;
  int pk = 0;  // position in the primary key, 0 when not in it
  std::optional<std::string> default_value;
};

bool table_columns(sqlite3* db, const std::string& table, std::vector<ColumnInfo>& out, SqlError& error) {
  std::vector<TextRow> rows;
  if (!query(db, "SELECT name, type, \"notnull\", pk, dflt_value FROM pragma_table_info(?)", {table}, rows, error))
    return false;
  for (auto& r : rows)
    out.push_back({r[0].value_or(""), r[1].value_or(""), r[2].value_or("0") != "0",
                   std::atoi(r[3].value_or("0").c_str()), r[4]});
  return true;
}

// The catalog's description of a table's columns, as queries see them.
bool describe_columns(SqlSession& ss, const std::string& table, std::vector<TableColumn>& out, SqlError& error,
                      const WireTypes& wire) {
  std::string problem;
  if (describe_table(ss.db, table, out, problem, wire, &ss.client->table_keys())) return true;
  error = SqlError{kErrGeneral, problem};
  return false;
}

// ---- result columns ----

ColumnShape col(const char* name, HostType type, bool nullable = true) {
  ColumnShape c;
  c.name = name;
  c.type = type;
  c.nullable = nullable;
  switch (type) {
    case HostType::SmallInt: c.precision = 5; break;
    case HostType::Integer: c.precision = 10; break;
    case HostType::Char: c.precision = 1; break;
    default: c.precision = 128; break;
  }
  return c;
}

ColumnShape text_col(const char* name, unsigned length, bool nullable = true) {
  ColumnShape c = col(name, HostType::Varchar, nullable);
  c.precision = length;
  return c;
}

Value opt(const std::optional<std::string>& v) { return v ? Value::of(*v) : Value::null(); }
Value num(int64_t v) { return Value::of(v); }
Value text(std::string v) { return Value::of(std::move(v)); }
Value null() { return Value::null(); }

// The three leading columns of most catalog results.
std::vector<ColumnShape> table_cols(const char* prefix = "TABLE") {
  std::string p = prefix;
  std::vector<ColumnShape> out;
  for (const char* suffix : {"_QUALIFIER", "_OWNER", "_NAME"}) {
    ColumnShape c = text_col("", 128, std::string(suffix) != "_NAME");
    c.name = p + suffix;
    out.push_back(c);
  }
  return out;
}

void append(std::vector<ColumnShape>& to, std::initializer_list<ColumnShape> more) { to.insert(to.end(), more); }

// ---- the result columns of ODBC 3 ----

// Whether the request asks for them: the digit '3' after the function's own
// fields (own_fields characters after the names).
bool wants_odbc3(std::string_view extra, size_t own_fields) {
  return extra.size() > own_fields && extra[own_fields] == '3';
}

// The columns that ODBC 3 renamed.
constexpr std::pair<std::string_view, const char*> kOdbc3Names[] = {
    {"TABLE_QUALIFIER", "TABLE_CAT"},     {"TABLE_OWNER", "TABLE_SCHEM"},
    {"PKTABLE_QUALIFIER", "PKTABLE_CAT"}, {"PKTABLE_OWNER", "PKTABLE_SCHEM"},
    {"FKTABLE_QUALIFIER", "FKTABLE_CAT"}, {"FKTABLE_OWNER", "FKTABLE_SCHEM"},
    {"PRECISION", "COLUMN_SIZE"},         {"LENGTH", "BUFFER_LENGTH"},
    {"SCALE", "DECIMAL_DIGITS"},          {"RADIX", "NUM_PREC_RADIX"},
    {"SEQ_IN_INDEX", "ORDINAL_POSITION"}, {"COLLATION", "ASC_OR_DESC"},
    {"MONEY", "FIXED_PREC_SCALE"},        {"AUTO_INCREMENT", "AUTO_UNIQUE_VALUE"},
};

void rename_for_odbc3(std::vector<ColumnShape>& columns) {
  for (auto& c : columns)
    for (auto& [old_name, new_name] : kOdbc3Names)
      if (c.name == old_name) c.name = new_name;
}

// The type code an ODBC 3 application knows a date or time type by, and the
// verbose type and subcode it adds (SQL_DATETIME, SQL_CODE_DATE ...).
int data_type_for(int code, bool odbc3) { return odbc3 && code >= 9 && code <= 11 ? code + 82 : code; }
int verbose_type(int code) { return code >= 9 && code <= 11 ? 9 : code; }
std::optional<int> datetime_subcode(int code) {
  return code >= 9 && code <= 11 ? std::optional<int>(code - 8) : std::nullopt;
}

// ---- the requests ----

// One catalog request as its row producer sees it.
struct CatalogCall {
  SqlSession& ss;
  Session& s;
  Names names;  // for type information: extra holds the type field
};

// A catalog request: how its data are read, its result columns, and the
// producer of its rows.  The one handler (answer_catalog) runs them in turn
// and puts the rows behind the statement.
struct CatalogRequest {
  unsigned code;
  // Reads the request's data after the statement id into names; false when
  // they cannot be read (the request is answered with malformed).
  bool (*read)(std::string_view data, Names& names);
  const char* malformed;
  std::vector<ColumnShape> (*columns)(bool odbc3);
  // The rows; false with error when the schema cannot be read.
  bool (*rows)(const CatalogCall& call, std::vector<ValueRow>& out, SqlError& error);
};

// The names (and a column name with with_column) and own_fields characters
// of the function's fields, then the ODBC 3 digit if any.
template <bool with_column, size_t own_fields>
bool read_names(std::string_view d, Names& names) {
  if (!parse_names(d, with_column, names)) return false;
  names.odbc3 = wants_odbc3(names.extra, own_fields);
  return true;
}

// ---- SQLTables ----

std::vector<ColumnShape> tables_columns(bool) {
  auto columns = table_cols();
  append(columns, {text_col("TABLE_TYPE", 128), text_col("REMARKS", 254)});
  return columns;
}

bool tables_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError& e) {
  std::vector<TableInfo> found;
  if (!tables(c.ss.db, found, e)) return false;
  for (auto& t : found)
    if (c.names.table.empty() || like(c.names.table, t.name))
      rows.push_back({null(), null(), text(t.name), text(t.type), null()});
  return true;
}

// ---- SQLColumns ----

std::vector<ColumnShape> columns_columns(bool odbc3) {
  auto columns = table_cols();
  append(columns, {text_col("COLUMN_NAME", 128, false), col("DATA_TYPE", HostType::SmallInt, false),
                   text_col("TYPE_NAME", 128, false), col("PRECISION", HostType::Integer),
                   col("LENGTH", HostType::Integer), col("SCALE", HostType::SmallInt), col("RADIX", HostType::SmallInt),
                   col("NULLABLE", HostType::SmallInt, false), text_col("REMARKS", 254)});
  if (odbc3)
    append(columns, {text_col("COLUMN_DEF", 254), col("SQL_DATA_TYPE", HostType::SmallInt, false),
                     col("SQL_DATETIME_SUB", HostType::SmallInt), col("CHAR_OCTET_LENGTH", HostType::Integer),
                     col("ORDINAL_POSITION", HostType::Integer, false), text_col("IS_NULLABLE", 254)});
  return columns;
}

bool columns_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError& e) {
  const Names& n = c.names;
  std::vector<TableInfo> found;
  if (!matching_tables(c.ss.db, n.table, true, found, e)) return false;
  auto opt_num = [](std::optional<int> v) { return v ? num(*v) : null(); };
  for (auto& t : found) {
    std::vector<TableColumn> columns;
    if (!describe_columns(c.ss, t.name, columns, e, wire_types(c.s))) return false;
    std::vector<ColumnInfo> declared;  // defaults, for ODBC 3
    if (n.odbc3 && !table_columns(c.ss.db, t.name, declared, e)) return false;
    int position = 0;
    for (auto& column : columns) {
      const ColumnShape& shape = column.shape;
      CatalogFields f = catalog_fields(shape);
      ValueRow row{null(), null(), text(t.name), text(shape.name), num(data_type_for(f.data_type, n.odbc3)),
                   text(f.type_name), num(f.precision), num(f.length), opt_num(f.scale), opt_num(f.radix),
                   num(shape.nullable ? 1 : 0), null()};
      if (n.odbc3) {
        std::optional<std::string> default_value;
        for (auto& d : declared)
          if (quarl::iequals(d.name, shape.name)) default_value = d.default_value;
        ++position;
        row.insert(row.end(), {opt(default_value), num(verbose_type(f.data_type)),
                               opt_num(datetime_subcode(f.data_type)),
                               f.octet_length ? num(*f.octet_length) : null(), num(position),
                               text(shape.nullable ? "YES" : "NO")});
      }
      rows.push_back(std::move(row));
    }
  }
  return true;
}

// ---- SQLStatistics ----

std::vector<ColumnShape> statistics_columns(bool) {
  auto columns = table_cols();
  append(columns, {col("NON_UNIQUE", HostType::SmallInt), text_col("INDEX_QUALIFIER", 128),
                   text_col("INDEX_NAME", 128), col("TYPE", HostType::SmallInt, false),
                   col("SEQ_IN_INDEX", HostType::SmallInt), text_col("COLUMN_NAME", 128),
                   col("COLLATION", HostType::Char), col("CARDINALITY", HostType::Integer),
                   col("PAGES", HostType::Integer), text_col("FILTER_CONDITION", 128)});
  return columns;
}

bool statistics_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError& e) {
  const Names& n = c.names;
  bool all = !n.extra.empty() && n.extra[0] == '1';  // SQL_INDEX_ALL; else unique indexes only
  std::vector<TableInfo> found;
  if (!matching_tables(c.ss.db, n.table, false, found, e)) return false;
  for (auto& t : found) {
    // SQL_TABLE_STAT first; SQLite keeps no counts to give.
    rows.push_back({null(), null(), text(t.name), null(), null(), null(), num(0), null(), null(), null(), null(),
                    null(), null()});
    std::vector<TextRow> indexes;
    if (!query(c.ss.db, "SELECT name, \"unique\", partial FROM pragma_index_list(?) ORDER BY \"unique\" DESC, name",
               {t.name}, indexes, e))
      return false;
    for (auto& index : indexes) {
      bool unique = index[1].value_or("0") != "0";
      if (!unique && !all) continue;
      std::vector<TextRow> parts;
      if (!query(c.ss.db, "SELECT seqno, name FROM pragma_index_info(?) ORDER BY seqno", {*index[0]}, parts, e))
        return false;
      for (auto& part : parts)
        rows.push_back({null(), null(), text(t.name), num(unique ? 0 : 1), null(), text(*index[0]),
                        num(3 /* SQL_INDEX_OTHER */), num(std::atoi(part[0].value_or("0").c_str()) + 1),
                        opt(part[1]), text("A"), null(), null(), null()});
    }
  }
  return true;
}

// ---- SQLSpecialColumns ----

// The names, then the identifier type (5 digits) and five more digits of
// scope and nullable, which SQLite's answers do not depend on.
bool read_special_columns(std::string_view d, Names& names) {
  unsigned kind = 0;
  return read_names<false, 10>(d, names) && names.extra.size() >= 10 && parse_digits(names.extra.substr(0, 5), kind);
}

std::vector<ColumnShape> special_columns_columns(bool) {
  return {col("SCOPE", HostType::SmallInt),         text_col("COLUMN_NAME", 128, false),
          col("DATA_TYPE", HostType::SmallInt, false), text_col("TYPE_NAME", 128, false),
          col("PRECISION", HostType::Integer),      col("LENGTH", HostType::Integer),
          col("SCALE", HostType::SmallInt),         col("PSEUDO_COLUMN", HostType::SmallInt)};
}

bool special_columns_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError& e) {
  const Names& n = c.names;
  unsigned kind = 0;
  parse_digits(n.extra.substr(0, 5), kind);  // read_special_columns checked it
  std::vector<TableInfo> found;
  if (!matching_tables(c.ss.db, n.table, false, found, e)) return false;
  // SQL_BEST_ROWID (1): the primary key, or the rowid; SQL_ROWVER (2): none.
  if (kind != 1 || found.empty()) return true;
  std::vector<TableColumn> columns;
  if (!describe_columns(c.ss, found[0].name, columns, e, wire_types(c.s))) return false;
  std::vector<const TableColumn*> key;
  for (auto& column : columns)
    if (column.pk > 0) key.push_back(&column);
  std::sort(key.begin(), key.end(), [](auto* a, auto* b) { return a->pk < b->pk; });
  for (auto* k : key) {
    CatalogFields f = catalog_fields(k->shape);
    rows.push_back({num(2 /* SQL_SCOPE_SESSION */), text(k->shape.name), num(data_type_for(f.data_type, n.odbc3)),
                    text(f.type_name), num(f.precision), num(f.length), num(f.scale.value_or(0)),
                    num(1 /* SQL_PC_NOT_PSEUDO */)});
  }
  if (key.empty() && found[0].type == "TABLE") {
    ColumnShape rowid;
    describe_declared("INTEGER", rowid);
    CatalogFields f = catalog_fields(rowid);
    rows.push_back({num(2), text("rowid"), num(f.data_type), text(f.type_name), num(f.precision), num(f.length),
                    num(0), num(2 /* SQL_PC_PSEUDO */)});
  }
  return true;
}

// ---- SQLPrimaryKeys ----

std::vector<ColumnShape> primary_keys_columns(bool) {
  auto columns = table_cols();
  append(columns, {text_col("COLUMN_NAME", 128, false), col("KEY_SEQ", HostType::SmallInt, false),
                   text_col("PK_NAME", 128)});
  return columns;
}

bool primary_keys_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError& e) {
  std::vector<TableInfo> found;
  if (!matching_tables(c.ss.db, c.names.table, false, found, e)) return false;
  for (auto& t : found) {
    std::vector<ColumnInfo> columns;
    if (!table_columns(c.ss.db, t.name, columns, e)) return false;
    std::vector<const ColumnInfo*> key;
    for (auto& column : columns)
      if (column.pk > 0) key.push_back(&column);
    std::sort(key.begin(), key.end(), [](auto* a, auto* b) { return a->pk < b->pk; });
    for (auto* k : key) rows.push_back({null(), null(), text(t.name), text(k->name), num(k->pk), null()});
  }
  return true;
}

// ---- SQLForeignKeys ----

int rule(const std::optional<std::string>& action) {
  std::string a = quarl::to_upper(action.value_or("NO ACTION"));
  if (a == "CASCADE") return 0;     // SQL_CASCADE
  if (a == "SET NULL") return 2;    // SQL_SET_NULL
  if (a == "SET DEFAULT") return 4;  // SQL_SET_DEFAULT
  return 1;                          // SQL_RESTRICT (also NO ACTION)
}

std::vector<ColumnShape> foreign_keys_columns(bool odbc3) {
  auto columns = table_cols("PKTABLE");
  append(columns, {text_col("PKCOLUMN_NAME", 128, false)});
  for (auto& c : table_cols("FKTABLE")) columns.push_back(c);
  append(columns, {text_col("FKCOLUMN_NAME", 128, false), col("KEY_SEQ", HostType::SmallInt, false),
                   col("UPDATE_RULE", HostType::SmallInt), col("DELETE_RULE", HostType::SmallInt),
                   text_col("FK_NAME", 128), text_col("PK_NAME", 128)});
  if (odbc3) append(columns, {col("DEFERRABILITY", HostType::SmallInt)});
  return columns;
}

// The request carries no usable names: every foreign key of the database
// is answered, ordered by the referencing table.
bool foreign_keys_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError& e) {
  std::vector<TableInfo> all;
  if (!matching_tables(c.ss.db, "", true, all, e)) return false;
  for (auto& t : all) {
    std::vector<TextRow> keys;
    if (!query(c.ss.db,
               "SELECT id, seq, \"table\", \"from\", \"to\", on_update, on_delete FROM pragma_foreign_key_list(?) "
               "ORDER BY id, seq",
               {t.name}, keys, e))
      return false;
    for (auto& k : keys) {
      std::string target = k[2].value_or("");
      std::optional<std::string> to = k[4];
      if (!to) {
        // No column named: the referenced table's primary key, by position.
        std::vector<ColumnInfo> columns;
        if (table_columns(c.ss.db, target, columns, e)) {
          int seq = std::atoi(k[1].value_or("0").c_str()) + 1;
          for (auto& column : columns)
            if (column.pk == seq) to = column.name;
        }
      }
      rows.push_back({null(), null(), text(target), opt(to), null(), null(), text(t.name), opt(k[3]),
                      num(std::atoi(k[1].value_or("0").c_str()) + 1), num(rule(k[5])), num(rule(k[6])), null(),
                      null()});
      if (c.names.odbc3) rows.back().push_back(num(7 /* SQL_NOT_DEFERRABLE */));
    }
  }
  return true;
}

// ---- SQLTablePrivileges, SQLColumnPrivileges ----

// SQLite has no privileges: every client may do everything, as granted to
// the user it logged in as.
const char* const kTablePrivileges[] = {"DELETE", "INSERT", "REFERENCES", "SELECT", "UPDATE"};
const char* const kColumnPrivileges[] = {"INSERT", "REFERENCES", "SELECT", "UPDATE"};

std::vector<ColumnShape> table_privileges_columns(bool) {
  auto columns = table_cols();
  append(columns, {text_col("GRANTOR", 128), text_col("GRANTEE", 128, false), text_col("PRIVILEGE", 128, false),
                   text_col("IS_GRANTABLE", 3)});
  return columns;
}

bool table_privileges_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError& e) {
  std::vector<TableInfo> found;
  if (!matching_tables(c.ss.db, c.names.table, true, found, e)) return false;
  for (auto& t : found)
    for (const char* p : kTablePrivileges)
      rows.push_back({null(), null(), text(t.name), null(), text(c.s.user()), text(p), text("NO")});
  return true;
}

std::vector<ColumnShape> column_privileges_columns(bool) {
  auto columns = table_cols();
  append(columns, {text_col("COLUMN_NAME", 128, false), text_col("GRANTOR", 128), text_col("GRANTEE", 128, false),
                   text_col("PRIVILEGE", 128, false), text_col("IS_GRANTABLE", 3)});
  return columns;
}

bool column_privileges_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError& e) {
  const Names& n = c.names;
  std::vector<TableInfo> found;
  if (!matching_tables(c.ss.db, n.table, false, found, e)) return false;
  for (auto& t : found) {
    std::vector<ColumnInfo> columns;
    if (!table_columns(c.ss.db, t.name, columns, e)) return false;
    std::sort(columns.begin(), columns.end(),
              [](auto& a, auto& b) { return quarl::to_upper(a.name) < quarl::to_upper(b.name); });
    for (auto& column : columns)
      if (n.column.empty() || like(n.column, column.name))
        for (const char* p : kColumnPrivileges)
          rows.push_back(
              {null(), null(), text(t.name), text(column.name), null(), text(c.s.user()), text(p), text("NO")});
  }
  return true;
}

// ---- SQLGetTypeInfo ----

// The type wanted ('-' when negative and 2 digits), then the ODBC 3 digit
// if any; the type field is left in names.extra.
bool read_type_info(std::string_view d, Names& names) {
  if (d.size() < 4) return false;
  d.remove_prefix(4);  // statement id
  bool negative = !d.empty() && d[0] == '-';
  size_t own = negative ? 3u : 2u;
  unsigned magnitude = 0;
  names.odbc3 = wants_odbc3(d, own);
  if (!parse_digits(d.substr(negative ? 1 : 0, 2), magnitude) || d.size() != own + (names.odbc3 ? 1 : 0))
    return false;
  names.extra = d.substr(0, own);
  return true;
}

std::vector<ColumnShape> type_info_columns(bool odbc3) {
  std::vector<ColumnShape> columns{text_col("TYPE_NAME", 128, false),
                                  col("DATA_TYPE", HostType::SmallInt, false),
                                  col("PRECISION", HostType::Integer),
                                  text_col("LITERAL_PREFIX", 128),
                                  text_col("LITERAL_SUFFIX", 128),
                                  text_col("CREATE_PARAMS", 128),
                                  col("NULLABLE", HostType::SmallInt, false),
                                  col("CASE_SENSITIVE", HostType::SmallInt, false),
                                  col("SEARCHABLE", HostType::SmallInt, false),
                                  col("UNSIGNED_ATTRIBUTE", HostType::SmallInt),
                                  col("MONEY", HostType::SmallInt, false),
                                  col("AUTO_INCREMENT", HostType::SmallInt),
                                  text_col("LOCAL_TYPE_NAME", 128),
                                  col("MINIMUM_SCALE", HostType::SmallInt),
                                  col("MAXIMUM_SCALE", HostType::SmallInt)};
  if (odbc3)
    append(columns, {col("SQL_DATA_TYPE", HostType::SmallInt, false), col("SQL_DATETIME_SUB", HostType::SmallInt),
                     col("NUM_PREC_RADIX", HostType::Integer), col("INTERVAL_PRECISION", HostType::SmallInt)});
  return columns;
}

bool type_info_rows(const CatalogCall& c, std::vector<ValueRow>& rows, SqlError&) {
  std::string_view field = c.names.extra;
  bool negative = field[0] == '-';
  unsigned magnitude = 0;
  parse_digits(field.substr(negative ? 1 : 0, 2), magnitude);  // read_type_info checked it
  int wanted = negative ? -static_cast<int>(magnitude) : static_cast<int>(magnitude);
  // ODBC 3 names for the date and time types.
  if (wanted >= 91 && wanted <= 93) wanted -= 82;
  bool odbc3 = c.names.odbc3;
  auto opt_text = [](const char* t) { return t ? text(t) : null(); };
  for (const auto& t : type_information(wire_types(c.s))) {
    if (wanted != 0 && wanted != odbc_code(t.type)) continue;
    int code = odbc_code(t.type);
    rows.push_back({text(type_name(t.type)), num(data_type_for(code, odbc3)), num(t.precision), opt_text(t.prefix),
                    opt_text(t.suffix), opt_text(t.create_params), num(1 /* SQL_NULLABLE */), num(t.is_char ? 1 : 0),
                    num(t.searchable), t.is_number ? num(0) : null(), num(0), t.is_number ? num(0) : null(), null(),
                    t.min_scale < 0 ? null() : num(t.min_scale), t.max_scale < 0 ? null() : num(t.max_scale)});
    if (odbc3) {
      auto sub = datetime_subcode(code);
      rows.back().insert(rows.back().end(),
                         {num(verbose_type(code)), sub ? num(*sub) : null(), t.is_number ? num(10) : null(), null()});
    }
  }
  return true;
}

// ---- the table ----

constexpr const char* kMalformed = "Malformed catalog request";

const CatalogRequest kCatalog[] = {
    {code::kTables, read_names<false, 0>, kMalformed, tables_columns, tables_rows},
    {code::kColumns, read_names<false, 0>, kMalformed, columns_columns, columns_rows},
    {code::kStatistics, read_names<false, 1>, kMalformed, statistics_columns, statistics_rows},
    {code::kSpecialColumns, read_special_columns, "Malformed special columns request", special_columns_columns,
     special_columns_rows},
    {code::kPrimaryKeys, read_names<false, 0>, kMalformed, primary_keys_columns, primary_keys_rows},
    {code::kForeignKeys, read_names<false, 0>, kMalformed, foreign_keys_columns, foreign_keys_rows},
    {code::kTablePrivileges, read_names<false, 0>, kMalformed, table_privileges_columns, table_privileges_rows},
    {code::kColumnPrivileges, read_names<true, 0>, kMalformed, column_privileges_columns, column_privileges_rows},
    {code::kTypeInfo, read_type_info, "Malformed type information request", type_info_columns, type_info_rows},
};

// Reads the request, produces its rows, puts them behind the statement and
// describes them (with the names of ODBC 3 when the request asked for them).
void answer_catalog(const CatalogRequest& request, SqlSession& ss, HostStatement& st, Session& s, Request& r) {
  CatalogCall call{ss, s, {}};
  if (!request.read(r.data, call.names)) {
    s.reply_error(r, kErrArgument, request.malformed);
    return;
  }
  std::vector<ValueRow> rows;
  SqlError e;
  if (!request.rows(call, rows, e)) {
    s.reply_error(r, e.index, e.text);
    return;
  }
  std::vector<ColumnShape> columns = request.columns(call.names.odbc3);
  if (call.names.odbc3) rename_for_odbc3(columns);
  st.reset();
  st.cursor = std::make_unique<Cursor>(columns, std::move(rows));
  ss.ahead_id = st.id;
  send_describe(s, r, -1, columns, 0);
}

}  // namespace

void register_catalog_handlers(HandlerTable& table, const SqlContext& context) {
  for (const CatalogRequest& request : kCatalog)
    table.add(quarl::hostmsg::kDatabase, request.code,
              discarding_handler(on_statement(context, [&request](SqlSession& ss, HostStatement& st, Session& s,
                                                                  Request& r) { answer_catalog(request, ss, st, s, r); })));
}

}  // namespace hostserver
