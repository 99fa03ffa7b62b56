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

#include <sqlite3.h>

#include "hostserver/type_mapping.h"

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

// A value object of a statement's current row as a cell.
inline CellView sqlite_cell(sqlite3_value* value) {
  CellView cell{sqlite3_value_type(value), 0, 0, {}};
  switch (cell.kind) {
    case SQLITE_INTEGER: cell.integer = sqlite3_value_int64(value); break;
    case SQLITE_FLOAT: cell.real = sqlite3_value_double(value); break;
    case SQLITE_TEXT: {
      auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      cell.bytes = std::string_view(text ? text : "", static_cast<size_t>(sqlite3_value_bytes(value)));
      break;
    }
    case SQLITE_BLOB: {
      auto* blob = static_cast<const char*>(sqlite3_value_blob(value));
      cell.bytes = std::string_view(blob ? blob : "", static_cast<size_t>(sqlite3_value_bytes(value)));
      break;
    }
    default: break;
  }
  return cell;
}

// A value of the statement's current row.
inline CellView sqlite_cell(sqlite3_stmt* stmt, int column) {
  // The column's value object once, then the cheaper value accessors: each
  // sqlite3_column_* call takes the connection's mutex and checks for
  // allocation failures anew.  The statement and its connection are used by
  // this session's worker alone, so the unprotected value is safe to read.
  return sqlite_cell(sqlite3_column_value(stmt, column));
}


// Appends into a fixed area without ever passing its end.
class RowWriter {
 public:
  RowWriter(char* begin, size_t capacity) : begin_(begin), pos_(begin), end_(begin + capacity) {}
  size_t size() const { return static_cast<size_t>(pos_ - begin_); }
  size_t room() const { return static_cast<size_t>(end_ - pos_); }
  void rewind(size_t size) { pos_ = begin_ + size; }
  char* at() const { return pos_; }  // where the next byte goes
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
Encoded encode_cell(RowWriter& out, const ColumnShape& shape, const CellView& cell, std::string& problem);

// How the values of a column that come from SQLite are written, chosen once
// per statement: a direct way for the storage class a column of its type
// usually holds (an INTEGER of a whole-number column, a REAL of a DOUBLE, a
// "YYYY-MM-DD" TEXT of a DATE, a TEXT short enough for the three-digit
// length of a character column), every other value through encode_cell (or
// the long forms).  Either way the bytes are the same.
enum class ValuePath : unsigned char { General, BigInt, Integer, SmallInt, Double, Date, Text };
ValuePath value_path(const ColumnShape& shape);

// A column's way with what the direct way needs of its shape: the longest
// text it writes directly (the declared bytes, within what a character
// value carries).
struct DirectWay {
  ValuePath path = ValuePath::General;
  uint16_t text_limit = 0;
};
DirectWay direct_way(const ColumnShape& shape);

// Writes a value of a source row (not left on the host), as encode_cell, or
// encode_long_value for a column in the long forms, would write it.
Encoded encode_value(RowWriter& out, const ColumnShape& shape, const DirectWay& way, sqlite3_value* value,
                     std::string& problem);
// The most bytes the direct ways write for the values of one row (0 for a
// column without a direct way).
size_t direct_row_most(const DirectWay* ways, size_t count);
// The same as encode_value for the first count columns of the statement's
// current row; direct_most is direct_row_most of their ways.
Encoded encode_values(RowWriter& out, const ColumnShape* shapes, const DirectWay* ways, size_t count,
                      size_t direct_most, sqlite3_stmt* stmt, std::string& problem);

}  // namespace hostserver
