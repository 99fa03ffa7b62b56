// What the result columns of a prepared statement can hold, read from the
// program SQLite compiled for it (EXPLAIN) before anything is stepped: which
// storage classes each column's values can take, and whether every value is
// the value of one declared table column (max(hired) is a DATE).  Part of
// the type mapping (type_mapping.h), which turns this into descriptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hostserver/type_mapping.h"

struct sqlite3;
struct sqlite3_stmt;

namespace hostserver {

struct ValueKinds {
  static constexpr uint8_t kInteger = 1, kReal = 2, kText = 4, kBlob = 8, kNull = 16;
  // Anything at all (a parameter, a virtual table's column, a function the
  // analysis does not know).
  static constexpr uint8_t kAny = 32;
  uint8_t bits = 0;
  // Set when every value is the value of this declared column.
  std::optional<ColumnShape> column;
};

// One entry per result column; empty when the program cannot be read (the
// caller then treats every column as kAny).
std::vector<ValueKinds> result_value_kinds(sqlite3* db, sqlite3_stmt* stmt);

// A table or schema name as an SQL identifier ("my ""table""").
std::string quoted_name(const std::string& name);

}  // namespace hostserver
