// Row data of fetch replies: each row is a marker byte followed by its
// values in their wire forms (a single 'N' for NULL).  Values are converted
// to the type that the result's description announced, or refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "hostserver/host_types.h"

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

// A SQLite result value read for a column of the given description.
CellView sqlite_cell(sqlite3_stmt* stmt, int column, const ColumnSpec& shape);

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
// the value: the caller rewinds to the row's start).
Encoded encode_cell(RowWriter& out, const ColumnSpec& shape, const CellView& cell, std::string& problem);

// Parsers of SQLite's date and time texts ("YYYY-MM-DD", "HH:MM[:SS[.f]]",
// "YYYY-MM-DD[ |T]HH:MM[:SS[.f]][Z]"); false when the text is not one.
struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  uint32_t fraction = 0;  // nanoseconds
};
bool parse_date_text(std::string_view text, DateTime& out);
bool parse_time_text(std::string_view text, DateTime& out);
bool parse_timestamp_text(std::string_view text, DateTime& out);

// Shortest text that reads back as the same double.
std::string double_text(double value);

}  // namespace hostserver
