// Parameter entries of statement requests: number, SQL type, precision,
// scale, null flag and the value in its wire form; bound to the markers of
// a SQLite statement by number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hostserver/owned_bytes.h"

struct sqlite3_stmt;

namespace hostserver {

struct ParamEntry {
  unsigned number = 0;
  int sql_type = 0;
  unsigned precision = 0;
  unsigned scale = 0;
  bool null = false;
  std::string value;  // the wire form of the value (without its length field)
  // With long values agreed: a value sent apart, in parameter pieces before
  // the request ("L"), of apart_length bytes; owned holds it once taken.
  bool apart = false;
  uint64_t apart_length = 0;
  OwnedBytes owned;
};

// The value forms a client may use.
struct EntryForms {
  bool long_values = false;    // the client agreed to long and binary values
  bool apart_allowed = true;   // values sent apart (not in parameter sets)
};

// Reads count entries from the start of data; used receives the bytes they
// took.  False with problem set when an entry is malformed or its type has
// no wire form.
bool parse_param_entries(std::string_view data, unsigned count, std::vector<ParamEntry>& out, size_t& used,
                         std::string& problem, const EntryForms& forms = {});

// Binds each entry to its marker (a value sent apart is handed over to
// SQLite).  Entries numbered past the statement's markers are ignored; a
// marker without an entry is an error.
bool bind_params(sqlite3_stmt* stmt, std::vector<ParamEntry>& entries, std::string& problem);

}  // namespace hostserver
