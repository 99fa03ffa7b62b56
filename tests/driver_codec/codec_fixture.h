// Helpers of the codec tests: describe items and result sets built through
// the real reader, bytes of values, guarded output buffers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "driver/codec/describe.h"
#include "driver/codec/records.h"
#include "driver/codec/row.h"

namespace quarl::codec::test {

struct Col {
  int type;
  int precision = 0;
  int scale = 0;
  std::string name = "C";
};

// One column item of a describe reply.
inline std::string describe_item(const Col& c, int nullable = 1) {
  char head[16], tail[64];
  std::snprintf(head, sizeof head, "%02zu", c.name.size());
  std::snprintf(tail, sizeof tail, "%s%02d%04d%02d%d", c.type < 0 ? "-" : "", c.type < 0 ? -c.type : c.type,
                c.precision, c.scale, nullable);
  return head + c.name + tail;
}

// The describe reply of an execute direct (after the status digit).
inline std::string exec_reply(const std::vector<Col>& cols, int rows = 0) {
  char head[48];
  std::snprintf(head, sizeof head, "%010d%04zu", rows, cols.size());
  std::string s = head;
  for (const Col& c : cols) s += describe_item(c);
  return s;
}

// A result set described by the real reader from a single-message reply.
inline ResultSet result_set(const std::vector<Col>& cols) {
  DescribeReader reader(9);
  EXPECT_EQ(reader.feed(exec_reply(cols)), DescribeReader::Step::Done) << reader.diag().text;
  ResultSet rs;
  EXPECT_FALSE(rs.apply(reader.description()));
  return rs;
}

// Character values and doubles' texts stay in the bytes they came in, as
// they stay in the driver's row data area until the next fetch: the rows
// unpacked here are kept for the life of the test program, each with the
// bytes after it that the row data area keeps readable.  Each row is read
// twice: first with the bytes of a longest row after it (as in a full row
// data area, where no value's length is tested against the bytes left),
// then alone; both must come out the same.
inline RowResult unpack(ResultSet& rs, const std::string& row) {
  static std::deque<std::string> kept;
  const auto columns = std::span(rs.columns.data(), rs.column_count);
  std::optional<RowResult> roomy;
  std::vector<int64_t> roomy_lengths;
  if (rs.longest_row != 0) {
    kept.push_back(row + std::string(rs.longest_row + kDoubleTextReadable, '1'));
    roomy = unpack_row(std::string_view(kept.back().data(), row.size() + rs.longest_row), columns,
                       rs.row_buffer.data(), nullptr, rs.longest_row);
    for (const ColumnDescriptor& c : columns) roomy_lengths.push_back(c.value_length);
  }
  kept.push_back(row + std::string(kDoubleTextReadable, '\0'));
  RowResult r = unpack_row(std::string_view(kept.back().data(), row.size()), columns, rs.row_buffer.data());
  if (roomy) {
    EXPECT_EQ(roomy->kind, r.kind) << row;
    EXPECT_EQ(roomy->fault, r.fault) << row;
    EXPECT_EQ(roomy->column, r.column) << row;
    if (r.kind == RowResult::Row || r.kind == RowResult::BadValue) {
      EXPECT_EQ(roomy->used, r.used) << row;
      for (size_t i = 0; i < columns.size(); ++i) EXPECT_EQ(roomy_lengths[i], columns[i].value_length) << row;
    }
  }
  return r;
}

template <typename T>
std::string bytes_of(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

inline std::string wide(const std::u16string& s) {
  return std::string(reinterpret_cast<const char*>(s.data()), 2 * s.size());
}

// An output buffer with guard bytes on both sides.
class Guarded {
 public:
  static constexpr size_t kGuard = 16;
  static constexpr unsigned char kFill = 0xA5;
  explicit Guarded(size_t size) : size_(size), bytes_(size + 2 * kGuard, kFill) {}
  void* data() { return bytes_.data() + kGuard; }
  std::string content(size_t n) const { return std::string(reinterpret_cast<const char*>(bytes_.data() + kGuard), n); }
  // True when nothing outside the buffer changed.
  bool guards_intact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (bytes_[i] != kFill || bytes_[kGuard + size_ + i] != kFill) return false;
    return true;
  }

 private:
  size_t size_;
  std::vector<unsigned char> bytes_;
};

// Text with its terminator, wide text with its two-byte terminator.
inline std::string cz(const char* s) { return std::string(s, std::strlen(s) + 1); }
inline std::string wz(const std::u16string& s) { return wide(s) + std::string(2, '\0'); }

inline DATE_STRUCT date(int y, int m, int d) {
  return DATE_STRUCT{static_cast<SQLSMALLINT>(y), static_cast<SQLUSMALLINT>(m), static_cast<SQLUSMALLINT>(d)};
}
inline TIME_STRUCT time_of(int h, int m, int s) {
  return TIME_STRUCT{static_cast<SQLUSMALLINT>(h), static_cast<SQLUSMALLINT>(m), static_cast<SQLUSMALLINT>(s)};
}
inline TIMESTAMP_STRUCT stamp(int y, int mo, int d, int h, int mi, int s, unsigned f) {
  TIMESTAMP_STRUCT t{};
  t.year = static_cast<SQLSMALLINT>(y), t.month = static_cast<SQLUSMALLINT>(mo), t.day = static_cast<SQLUSMALLINT>(d);
  t.hour = static_cast<SQLUSMALLINT>(h), t.minute = static_cast<SQLUSMALLINT>(mi),
  t.second = static_cast<SQLUSMALLINT>(s);
  t.fraction = f;
  return t;
}

}  // namespace quarl::codec::test
