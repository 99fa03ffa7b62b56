// Fetch replies and rows: a reply's row data are appended to the statement's
// row data area; rows are then unpacked one at a time into the row buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "driver/codec/diag.h"
#include "driver/codec/records.h"

namespace quarl::codec {

// One fetch reply message (data from the status digit on).
struct FetchReply {
  enum Kind {
    Rows,        // status 0: `rows` to append; `last_block` ends this fetch request's reply
    NoData,      // status 5: no (more) rows
    HostErrors,  // any other status: post `items`, return rc
    Malformed,   // too short to read: diag
  } kind;
  int rc;
  bool last_block = false;
  std::string_view rows;
  std::string_view items;
  Diag diag;
};
FetchReply read_fetch_reply(std::string_view data);

// Watches NUMERIC values as they are read (the driver's trace): the row data
// from the value's first byte on with the column's precision, then the value.
class NumericWatch {
 public:
  virtual void before(std::string_view from_value, unsigned precision) = 0;
  virtual void after(int64_t value) = 0;

 protected:
  ~NumericWatch() = default;
};

// The outcome of unpacking one row.
// (Small enough to come back in registers: the diagnostic is made only
// when asked for.)
struct RowResult {
  enum Kind : uint8_t {
    Row,        // unpacked; `used` bytes
    End,        // the end-of-result marker
    Malformed,  // a field runs past the buffered bytes or is not in its wire form (08S01)
    BadValue,   // a well-formed value that the row storage cannot hold (S1000); `used` bytes
  } kind;
  // Malformed: what is wrong (in `column`, or with the row as a whole).
  enum Fault : uint8_t { InColumn, NoRow, NoMarker } fault = InColumn;
  uint32_t column = 0;  // Malformed in a column, BadValue: the column (1-based)
  size_t used = 0;
  // What to post for Malformed and BadValue.
  Diag diag() const;
};

// Unpacks the row at the start of `rows` into row_buffer: each column's value
// (or NULL, value length -1) at its row offset, value lengths set, and the
// returned count of character values reset.  A row must start with its row
// marker ('0'; '1' ends the result).  NUMERIC and BIGINT values are read
// with all the digits of their precision (so the rows stay in step) into 64
// bits; a well-formed value that its storage cannot hold (beyond 64, 32 or
// 16 bits, a date that does not exist) is refused (BadValue).  columns: the
// result columns (column count entries) as the describe reply laid them
// out; row_buffer holds the description's row size.  CHAR, VARCHAR and
// LONGVARCHAR values and DOUBLE texts are not copied: they are left where
// they are in `rows` (value place kInRowArea; the DOUBLE slot says where),
// which must keep them until the next row is unpacked, and keep
// kDoubleTextReadable bytes readable after its end for reading a DOUBLE's
// text (the row data area does both: it is written again only when the
// next fetch request's reply arrives).  Never reads past `rows`, never
// writes past a column's slot.
// longest_row (ResultSet::longest_row, 0: none): when `rows` holds at
// least that many bytes, the row is read without testing each value's
// length against the bytes left.
RowResult unpack_row(std::string_view rows, std::span<ColumnDescriptor> columns, unsigned char* row_buffer,
                     NumericWatch* watch = nullptr, size_t longest_row = 0);

// The row data area of a statement: received row bytes not yet unpacked.
class RowArea {
 public:
  // 2 x the connection's maximum message data length + 1.
  // A DOUBLE's text is read in whole vectors: kDoubleTextReadable bytes
  // after the last one the area holds are readable too.
  explicit RowArea(size_t capacity = 0) : bytes_(capacity + kDoubleTextReadable) {}
  void resize(size_t capacity) {
    bytes_.assign(capacity + kDoubleTextReadable, 0);
    reset();
  }
  size_t capacity() const { return bytes_.size() - kDoubleTextReadable; }

  // Forgets the buffered rows (every request and every new receive does).
  void reset() { buffered_ = read_ = 0; }
  size_t buffered() const { return buffered_; }

  // Appends a fetch reply's row data after the buffered bytes.  A block that
  // would overflow the area is refused (08S01) and nothing is appended.
  std::optional<Diag> append(std::string_view rows);

  // Unpacks the row at the read offset and moves past it.  End and Malformed
  // drop whatever is buffered; BadValue moves past the refused row.
  RowResult next_row(std::span<ColumnDescriptor> columns, unsigned char* row_buffer, NumericWatch* watch = nullptr,
                     size_t longest_row = 0) {
    RowResult r =
        unpack_row(std::string_view(bytes_.data() + read_, buffered_), columns, row_buffer, watch, longest_row);
    if (r.kind == RowResult::Row || r.kind == RowResult::BadValue) {
      read_ += r.used;
      buffered_ -= r.used;
    } else {
      reset();
    }
    return r;
  }
  // The next buffered byte is the end-of-result marker: the host has sent
  // its last row.
  bool at_end_marker() const { return buffered_ > 0 && bytes_[read_] == '1'; }

 private:
  std::vector<char> bytes_;
  size_t buffered_ = 0;
  size_t read_ = 0;
};

}  // namespace quarl::codec
