// Parameter entries of statement requests: number, SQL type, precision,
// scale, null flag and the value in its wire form; bound to the markers of
// a SQLite statement by number.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct sqlite3_stmt;

namespace hostserver {

struct ParamEntry {
  unsigned number = 0;
  int sql_type = 0;
  unsigned precision = 0;
  unsigned scale = 0;
  bool null = false;
  std::string value;  // the wire form of the value (without its length field)
};

// Reads count entries from the start of data; used receives the bytes they
// took.  False with problem set when an entry is malformed or its type has
// no wire form.
bool parse_param_entries(std::string_view data, unsigned count, std::vector<ParamEntry>& out, size_t& used,
                         std::string& problem);

// Binds each entry to its marker.  Entries numbered past the statement's
// markers are ignored; a marker without an entry is an error.
bool bind_params(sqlite3_stmt* stmt, const std::vector<ParamEntry>& entries, std::string& problem);

}  // namespace hostserver
