// Row data of fetch replies: each row is a marker byte followed by its
// values in their wire forms (a single 'N' for NULL).  A value travels in
// the type its column was described with, and only when that type holds it
// exactly; any other value is refused with a text that names the value,
// the column and the type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "hostserver/type_mapping.h"

struct sqlite3_stmt;

namespace hostserver {

inline constexpr char kRowMarker = '0';
inline constexpr char kEndMarker = '1';

// One value as the source holds it; kind is SQLite's storage class
// (SQLITE_NULL, SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB).
struct CellView {
  int kind;
  int64_t integer = 0;
  double real = 0;
  std::string_view bytes;  // TEXT and BLOB
};

// A value of the statement's current row.
CellView sqlite_cell(sqlite3_stmt* stmt, int column);

// Appends into a fixed area without ever passing its end.
class RowWriter {
 public:
  RowWriter(char* begin, size_t capacity) : begin_(begin), pos_(begin), end_(begin + capacity) {}
  size_t size() const { return static_cast<size_t>(pos_ - begin_); }
  size_t room() const { return static_cast<size_t>(end_ - pos_); }
  void rewind(size_t size) { pos_ = begin_ + size; }
  char* take(size_t n) {  // caller checked room()
    char* at = pos_;
    pos_ += n;
    return at;
  }
  bool put(char c) {
    if (pos_ == end_) return false;
    *pos_++ = c;
    return true;
  }

 private:
  char* begin_;
  char* pos_;
  char* end_;
};

enum class Encoded { Ok, NoRoom, Bad };

// Writes one value; on Bad, problem tells why (the writer may hold part of
// the value: the caller rewinds to the row's start).  NoRoom: the value
// does not fit the room left.
Encoded encode_cell(RowWriter& out, const ColumnSpec& shape, const CellView& cell, std::string& problem);

}  // namespace hostserver
