// Character and binary values handed out in pieces (SQLGetData, and bound
// columns that the fetch cuts): into SQL_C_CHAR, SQL_C_WCHAR and
// SQL_C_BINARY buffers, from text or binary columns, whether the value is at
// hand whole or arrives in stretches (a long value left on the host).
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/codec/convert.h"
#include "driver/codec/records.h"

namespace quarl::codec {

// How a piece is written.
enum class PieceForm : uint8_t {
  Bytes,    // SQL_C_BINARY: the bytes as they are
  Text,     // SQL_C_CHAR from text: the bytes, terminated
  Hex,      // SQL_C_CHAR from binary: two hexadecimal digits a byte, terminated
  Wide,     // SQL_C_WCHAR from text: UTF-16, terminated; every piece but the last fills
            // the buffer, so a surrogate pair may end one piece and begin the next
  WideHex,  // SQL_C_WCHAR from binary: the hexadecimal digits in UTF-16, terminated
};
// c_type: SQL_C_CHAR, SQL_C_WCHAR or SQL_C_BINARY.
PieceForm piece_form(int sql_type, int c_type);

// The length a piece call reports: what is left of the value before it, in
// the buffer's unit (bytes; bytes of UTF-16 for the wide forms).  bytes:
// the value's bytes not yet handed out; units: for Wide, the UTF-16 units
// they make (less a high surrogate already handed out); half: the first of
// them has had its first digit handed out.
uint64_t remaining_length(PieceForm form, uint64_t bytes, uint64_t units, bool half);

// Writes one piece into the application's buffer from one or more stretches
// of the value's bytes, in order.
class PieceWriter {
 public:
  // half: the first byte's first hexadecimal digit, or the high surrogate of
  // the first character, went out in an earlier piece.
  PieceWriter(PieceForm form, SQLPOINTER target, SQLLEN size, bool half);

  // Whether the buffer is there and holds at least the terminator of a text.
  bool writable() const { return writable_; }
  bool full() const { return used_ == room_; }
  // Units (bytes, digits, UTF-16 units) the buffer still takes.
  size_t room_left() const { return room_ - used_; }
  // Writes from the n bytes at bytes as much as fits, in whole units: whole
  // characters for Wide (with more set, a character whose bytes run past n
  // waits for the next stretch) but the high surrogate of a pair that has
  // one unit of room, single digits for the hexadecimal forms.  Returns the
  // bytes taken whole (a byte of which only the first digit, a character of
  // which only the high surrogate went out is not counted: half() tells).
  size_t write(const char* bytes, size_t n, bool more);
  // Terminates the text forms.
  void finish();
  uint64_t units_written() const { return units_; }
  bool half() const { return half_; }

 private:
  void put_digit(unsigned nibble);

  PieceForm form_;
  unsigned char* out_;
  size_t room_ = 0;  // units (bytes, or UTF-16 units) before the terminator
  size_t used_ = 0;
  uint64_t units_ = 0;  // UTF-16 units of a wide text written
  bool half_;
  bool writable_ = false;
};

// The next piece of a character or binary column's value that is at hand
// (in its slot or in the row data area), as SQLGetData gives it: the length
// of what is left before the call, 01004 while something is left after it,
// SQL_NO_DATA_FOUND once the value has been handed out.
ConvertResult value_piece(ColumnDescriptor& column, const unsigned char* row_buffer, int c_type, SQLPOINTER target,
                          SQLLEN size, SQLLEN* length);

// Bytes of UTF-8 at the end of n bytes that begin a character whose other
// bytes are not there (0 to 3).
size_t incomplete_utf8_tail(const char* bytes, size_t n);

}  // namespace quarl::codec

namespace quarl::codec {

// A value of a column with the long forms that begins "X" or "L" (at p,
// left bytes): sets the column's value state (length, place, the bytes in
// the row data area or the units of a value left on the host).  Returns the
// bytes the value takes, 0 when it is malformed.
size_t read_long_form(const char* p, size_t left, ColumnDescriptor& column);

}  // namespace quarl::codec
