#include "driver/codec/row.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "common/datetime.h"
#include "common/hostmsg.h"
#include "common/long_values.h"
#include "common/copy_fast.h"
#include "driver/codec/digits_fast.h"
#include "driver/codec/pieces.h"

namespace quarl::codec {

FetchReply read_fetch_reply(std::string_view data) {
  FetchReply r{FetchReply::Malformed, hostmsg::kRcError, false, {}, {}, {}};
  if (data.empty()) {
    r.diag = Diag{kErrCommLink, "Malformed fetch reply from host: no status"};
    return r;
  }
  r.rc = hostmsg::host_rc(data[0]);
  if (r.rc == hostmsg::kRcSuccess) {
    if (data.size() < 2) {
      r.rc = hostmsg::kRcError;
      r.diag = Diag{kErrCommLink, "Malformed fetch reply from host: no block flag"};
      return r;
    }
    r.kind = FetchReply::Rows;
    r.last_block = data[1] == '1';
    r.rows = data.substr(2);
  } else if (r.rc == hostmsg::kRcNoData) {
    r.kind = FetchReply::NoData;
  } else {
    r.kind = FetchReply::HostErrors;
    r.items = data.substr(1);
  }
  return r;
}

namespace {

constexpr uint64_t kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

inline void store16(unsigned char* slot, size_t index, uint32_t v) {
  auto h = static_cast<uint16_t>(v);
  std::memcpy(slot + 2 * index, &h, 2);
}

[[gnu::cold, gnu::noinline]] RowResult malformed(size_t column) {
  return RowResult{RowResult::Malformed, 0,
                   Diag{kErrCommLink, "Malformed row data from host in column " + std::to_string(column)}};
}

}  // namespace

namespace {

// unpack_row, without a watch (kWatched false: watch is null) or with one.
template <bool kWatched>
RowResult unpack_row_as(std::string_view rows, std::span<ColumnDescriptor> columns, unsigned char* row_buffer,
                        NumericWatch* watch) {
  const char* const start = rows.data();
  const char* p = start;
  const char* const end = start + rows.size();
  if (p == end) return RowResult{RowResult::Malformed, 0, Diag{kErrCommLink, "Fetch reply from host holds no row"}};
  if (*p == '1') return RowResult{RowResult::End, 0, {}};
  // A row starts with its marker; anything else is not a row.
  if (*p != '0') return RowResult{RowResult::Malformed, 0, Diag{kErrCommLink, "Malformed row data from host: no row marker"}};
  ++p;
  size_t bad_column = 0;  // first column whose value cannot be stored
  for (size_t i = 0; i < columns.size(); ++i) {
    ColumnDescriptor& c = columns[i];
    if (p == end) return malformed(i + 1);
    if (*p == 'N') {
      c.value_length = -1;
      ++p;
      continue;
    }
    unsigned char* slot = row_buffer + c.row_offset;
    size_t left = static_cast<size_t>(end - p);
    switch (c.sql_type) {
      case SQL_BIT:
        *slot = *p == '1';
        ++p;
        c.value_length = 1;
        break;
      case SQL_CHAR: {
        size_t n = c.precision;
        if (left < 1 + n) return malformed(i + 1);
        if (n == 1)
          *slot = static_cast<unsigned char>(p[1]);
        else
          copy_bytes(slot, p + 1, n);
        p += 1 + n;
        c.value_length = static_cast<int64_t>(n);
        c.value_place = kInSlot;
        c.returned_count = 0;
        c.piece_returned = false;
        break;
      }
      case SQL_VARCHAR:
      case SQL_LONGVARCHAR:
      case SQL_BINARY:
      case SQL_VARBINARY:
      case SQL_LONGVARBINARY: {
        if (c.long_forms && (*p == longvalues::kInline || *p == longvalues::kApart)) {
          // Longer than a slot holds: in the row data area, or on the host.
          size_t used = read_long_form(p, left, c);
          if (used == 0) return malformed(i + 1);
          p += used;
          break;
        }
        // The slot holds any length the three digits can give.
        uint32_t n;
        if (left >= 4 ? !parse3_of4(p, n) : (left < 3 || !parse_n(p, 3, n))) return malformed(i + 1);
        if (left - 3 < n) return malformed(i + 1);
        copy_bytes(slot, p + 3, n);
        c.value_length = n;
        c.returned_count = 0;
        c.piece_returned = false;
        c.value_place = kInSlot;
        p += 3 + n;
        break;
      }
      case SQL_INTEGER: {
        bool negative = *p == '-';
        if (negative) ++p, --left;
        uint32_t high, low;
        if (left < 10 || !parse_n(p, 2, high) || !parse8(p + 2, low)) return malformed(i + 1);
        p += 10;
        uint64_t v = uint64_t{high} * 100000000u + low;
        if (v > (negative ? 2147483648u : 2147483647u)) {
          if (!bad_column) bad_column = i + 1;
          break;
        }
        auto value = static_cast<int32_t>(negative ? 0 - v : v);
        std::memcpy(slot, &value, 4);
        c.value_length = 4;
        break;
      }
      case SQL_SMALLINT: {
        bool negative = *p == '-';
        if (negative) ++p, --left;
        uint32_t v;
        if (left < 5 || !parse_n(p, 5, v)) return malformed(i + 1);
        p += 5;
        if (v > (negative ? 32768u : 32767u)) {
          if (!bad_column) bad_column = i + 1;
          break;
        }
        auto s = static_cast<int16_t>(negative ? -static_cast<int32_t>(v) : static_cast<int32_t>(v));
        std::memcpy(slot, &s, 2);
        c.value_length = 2;
        break;
      }
      case SQL_NUMERIC:
      case SQL_BIGINT: {
        // As many digits as the precision (at most 19): the value x 10^scale.
        if constexpr (kWatched) {
          if (c.sql_type == SQL_NUMERIC) watch->before(std::string_view(p, left), c.precision);
        }
        bool negative = *p == '-';
        if (negative) ++p, --left;
        size_t width = c.precision;
        if (left < width) return malformed(i + 1);
        uint64_t v = 0;
        size_t k = 0;
        if (width >= 16) {
          if (!parse16(p, v)) return malformed(i + 1);
          k = 16;
        }
        if (width == 19 && left >= 20) {
          // A BIGINT's field: the last three digits.
          uint32_t rest;
          if (!parse3_of4(p + 16, rest)) return malformed(i + 1);
          v = v * 1000 + rest;
          k = 19;
        }
        for (uint32_t eight; k + 8 <= width; k += 8) {
          if (!parse8(p + k, eight)) return malformed(i + 1);
          v = v * 100000000u + eight;
        }
        if (k < width) {
          uint32_t rest = 0;
          bool digits = width - k == 3 && left - k >= 4 ? parse3_of4(p + k, rest)
                                                        : parse_n(p + k, static_cast<unsigned>(width - k), rest);
          if (!digits) return malformed(i + 1);
          v = v * kPow10[width - k] + rest;
        }
        p += width;
        if (v > (negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1)) {
          if (!bad_column) bad_column = i + 1;
          break;
        }
        auto value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
        std::memcpy(slot, &value, 8);
        c.value_length = 8;
        if constexpr (kWatched) {
          if (c.sql_type == SQL_NUMERIC) watch->after(value);
        }
        break;
      }
      case SQL_DOUBLE: {
        uint32_t n;
        if (left < 2 || !parse2(p, n)) return malformed(i + 1);
        if (left - 2 < n) return malformed(i + 1);
        // The slot holds 31 characters and the terminator; a longer text would
        // have to be cut, which changes the number.
        if (n >= kDoubleSlot) {
          if (!bad_column) bad_column = i + 1;
        } else {
          copy_bytes(slot, p + 2, n);
          slot[n] = '\0';
          set_double_text_length(slot, n);
          c.value_length = 8;
        }
        p += 2 + n;
        break;
      }
      case SQL_DATE: {
        uint32_t ymd;
        if (left < 8 || !parse8(p, ymd)) return malformed(i + 1);
        uint32_t year = ymd / 10000, month = ymd / 100 % 100, day = ymd % 100;
        if (!valid_date(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day))) {
          if (!bad_column) bad_column = i + 1;
          p += 8;
          break;
        }
        store16(slot, 0, year);
        store16(slot, 1, month);
        store16(slot, 2, day);
        p += 8;
        c.value_length = 6;
        break;
      }
      case SQL_TIME: {
        uint32_t h, m, sec;
        if (left < 6 || !parse_n(p, 2, h) || !parse_n(p + 2, 2, m) || !parse_n(p + 4, 2, sec))
          return malformed(i + 1);
        if (!valid_time(static_cast<int>(h), static_cast<int>(m), static_cast<int>(sec))) {
          if (!bad_column) bad_column = i + 1;
          p += 6;
          break;
        }
        store16(slot, 0, h);
        store16(slot, 1, m);
        store16(slot, 2, sec);
        p += 6;
        c.value_length = 6;
        break;
      }
      case SQL_TIMESTAMP: {
        uint32_t ymd, h, m, sec, f8, f1;
        if (left < 23 || !parse8(p, ymd) || !parse_n(p + 8, 2, h) || !parse_n(p + 10, 2, m) ||
            !parse_n(p + 12, 2, sec) || !parse8(p + 14, f8) || !parse_n(p + 22, 1, f1))
          return malformed(i + 1);
        if (!valid_date(static_cast<int>(ymd / 10000), static_cast<int>(ymd / 100 % 100), static_cast<int>(ymd % 100)) ||
            !valid_time(static_cast<int>(h), static_cast<int>(m), static_cast<int>(sec))) {
          if (!bad_column) bad_column = i + 1;
          p += 23;
          break;
        }
        store16(slot, 0, ymd / 10000);
        store16(slot, 1, ymd / 100 % 100);
        store16(slot, 2, ymd % 100);
        store16(slot, 3, h);
        store16(slot, 4, m);
        store16(slot, 5, sec);
        uint32_t fraction = f8 * 10 + f1;
        std::memcpy(slot + 12, &fraction, 4);
        p += 23;
        c.value_length = 16;
        break;
      }
      default:
        // The describe reply refuses columns without row storage.
        return malformed(i + 1);
    }
  }
  size_t used = static_cast<size_t>(p - start);
  if (bad_column)
    return RowResult{RowResult::BadValue, used,
                     Diag{kErrGeneral, "Value in column " + std::to_string(bad_column) +
                                             " does not fit the column's type"}};
  return RowResult{RowResult::Row, used, {}};
}

}  // namespace

RowResult unpack_row(std::string_view rows, std::span<ColumnDescriptor> columns, unsigned char* row_buffer,
                     NumericWatch* watch) {
  return watch ? unpack_row_as<true>(rows, columns, row_buffer, watch)
               : unpack_row_as<false>(rows, columns, row_buffer, nullptr);
}

std::optional<Diag> RowArea::append(std::string_view rows) {
  size_t end = read_ + buffered_;
  if (rows.size() > bytes_.size() - end)
    return Diag{kErrCommLink, "Fetch reply from host overflows the row data area"};
  std::memcpy(bytes_.data() + end, rows.data(), rows.size());
  buffered_ += rows.size();
  return std::nullopt;
}

}  // namespace quarl::codec
