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

// Three 16-bit fields into a slot (a date's or a time's).
inline void store3x16(unsigned char* slot, uint32_t a, uint32_t b, uint32_t c) {
  uint64_t fields = (a & 0xFFFF) | (b & 0xFFFF) << 16 | uint64_t{c & 0xFFFF} << 32;  // little-endian
  std::memcpy(slot, &fields, 6);
}

// Three length digits at p (3 bytes readable); false when any is not a digit.
inline bool parse_length3(const char* p, uint32_t& n) {
  unsigned hundreds = static_cast<unsigned char>(p[0]) - 0x30u, tens = static_cast<unsigned char>(p[1]) - 0x30u,
           ones = static_cast<unsigned char>(p[2]) - 0x30u;
  if (hundreds > 9 || tens > 9 || ones > 9) return false;
  n = hundreds * 100 + tens * 10 + ones;
  return true;
}

// `width` digits at p (width bytes readable, at most 18): their value; false
// when any is not a digit.
inline bool parse_digits(const char* p, size_t width, size_t left, uint64_t& v) {
  v = 0;
  size_t k = 0;
  if (width >= 16) {
    if (!parse16(p, v)) return false;
    k = 16;
  }
  for (uint32_t eight; k + 8 <= width; k += 8) {
    if (!parse8(p + k, eight)) return false;
    v = v * 100000000u + eight;
  }
  if (k < width) {
    uint32_t rest = 0;
    bool digits = width - k == 3 && left - k >= 4 ? parse3_of4(p + k, rest)
                                                  : parse_n(p + k, static_cast<unsigned>(width - k), rest);
    if (!digits) return false;
    v = v * kPow10[width - k] + rest;
  }
  return true;
}

// 19 digits at p (checked) make a value that 64 bits hold, with its sign.
[[gnu::noinline]] bool fits_int64(const char* p, bool negative) {
  return std::memcmp(p, negative ? "9223372036854775808" : "9223372036854775807", kMaxNumericDigits) <= 0;
}

RowResult malformed(size_t column) {
  return RowResult{RowResult::Malformed, RowResult::InColumn, static_cast<uint32_t>(column), 0};
}

RowResult bad_value(size_t column, size_t used) {
  return RowResult{RowResult::BadValue, RowResult::InColumn, static_cast<uint32_t>(column), used};
}

// A character value now in its slot, none of it handed out yet.
// (The two bytes side by side are written together.)
inline void set_in_slot(ColumnDescriptor& c, uint64_t n) {
  c.value_length = static_cast<int64_t>(n);
  c.returned_count = 0;
  c.piece_returned = false;
  c.value_place = kInSlot;
}

// A character value left where it came, in the row data area (which keeps
// the row until the next fetch), none of it handed out yet: it is copied
// once, into the application's buffer.
inline void set_in_row_area(ColumnDescriptor& c, const char* bytes, uint64_t n) {
  c.value_length = static_cast<int64_t>(n);
  c.area_bytes = bytes;
  c.returned_count = 0;
  c.piece_returned = false;
  c.value_place = kInRowArea;
}

// The trace of a NUMERIC value (BIGINT's are not traced): the row data
// from the value on, then the value read.
inline void watch_before(NumericWatch* watch, const ColumnDescriptor& c, const char* p, size_t left) {
  if (c.sql_type == SQL_NUMERIC) watch->before(std::string_view(p, left), c.precision);
}
inline void watch_after(NumericWatch* watch, const ColumnDescriptor& c, int64_t value) {
  if (c.sql_type == SQL_NUMERIC) watch->after(value);
}

// unpack_row, without a watch (kWatched false: watch is null) or with one.
// Each column is read by its row form; a value that its storage cannot hold
// is noted (the first such column) and the row read on, so that the next
// row stays in step.  kRoomForAnyRow: `rows` holds at least the longest row
// of these columns (long forms aside), so no value can run past its end and
// no length needs a test against it; a value in a long form, or longer
// than the longest row counts (a character value beyond its column's
// precision, a double's text beyond kDoubleTextKept), or a character value's
// length that is no number sets redo and stops: the caller reads the row
// again the tested way.
template <bool kWatched, bool kRoomForAnyRow = false>
RowResult unpack_row_as(std::string_view rows, std::span<ColumnDescriptor> columns, unsigned char* row_buffer,
                        NumericWatch* watch, bool* redo = nullptr) {
  const char* const start = rows.data();
  const char* p = start;
  const char* const end = start + rows.size();
  if (!kRoomForAnyRow && p == end) return RowResult{RowResult::Malformed, RowResult::NoRow, 0, 0};
  if (*p == '1') return RowResult{RowResult::End};
  // A row starts with its marker; anything else is not a row.
  if (*p != '0') return RowResult{RowResult::Malformed, RowResult::NoMarker, 0, 0};
  ++p;
  size_t bad = 0;  // the first column whose value cannot be stored
  ColumnDescriptor* const first = columns.data();
  ColumnDescriptor* const last = first + columns.size();
  for (ColumnDescriptor* at = first; at != last; ++at) {
    ColumnDescriptor& c = *at;
    // The column's number, for a diagnostic.
    const auto number = [&] { return static_cast<size_t>(at - first) + 1; };
    if (!kRoomForAnyRow && p == end) return malformed(number());
    if (*p == 'N') {
      c.value_length = -1;
      ++p;
      continue;
    }
    unsigned char* const slot = row_buffer + c.row_offset;
    const size_t left = static_cast<size_t>(end - p);
    // Fewer than n bytes are left from the value's first.
    const auto short_of = [&](size_t n) { return !kRoomForAnyRow && left < n; };
    switch (c.row_form) {
      case RowForm::Bit:
        *slot = *p == '1';
        ++p;
        c.value_length = 1;
        break;
      case RowForm::Char1:
        if (short_of(2)) return malformed(number());
        *slot = static_cast<unsigned char>(p[1]);
        p += 2;
        set_in_slot(c, 1);
        break;
      case RowForm::Chars: {
        size_t n = c.precision;
        if (short_of(1 + n)) return malformed(number());
        set_in_row_area(c, p + 1, n);
        p += 1 + n;
        break;
      }
      case RowForm::VaryingLong:
        // (Read without the length tests, a long form's marker is no
        // length digit: the row goes back to the tested way below.)
        if (!kRoomForAnyRow && (*p == longvalues::kInline || *p == longvalues::kApart)) {
          // Longer than a slot holds: in the row data area, or on the host.
          size_t used = read_long_form(p, left, c);
          if (used == 0) return malformed(number());
          p += used;
          break;
        }
        [[fallthrough]];
      case RowForm::Varying: {
        // The slot holds any length the three digits can give.
        uint32_t n;
        if (short_of(3) || !parse_length3(p, n) || short_of(3 + n) || (kRoomForAnyRow && n > c.precision)) {
          if constexpr (kRoomForAnyRow) {
            *redo = true;
            return RowResult{};
          }
          return malformed(number());
        }
        set_in_row_area(c, p + 3, n);
        p += 3 + n;
        break;
      }
      case RowForm::Integer: {
        bool negative = *p == '-';
        p += negative;
        uint32_t high, low;
        if (short_of(negative + 10) || !parse_n(p, 2, high) || !parse8(p + 2, low)) return malformed(number());
        p += 10;
        uint64_t v = uint64_t{high} * 100000000u + low;
        if (v > 2147483647u + uint64_t{negative}) {
          if (!bad) bad = number();
          break;
        }
        auto value = static_cast<int32_t>(negative ? 0 - v : v);
        std::memcpy(slot, &value, 4);
        c.value_length = 4;
        break;
      }
      case RowForm::SmallInt: {
        bool negative = *p == '-';
        p += negative;
        uint32_t v;
        if (short_of(negative + 5) || !parse_n(p, 5, v)) return malformed(number());
        p += 5;
        if (v > 32767u + negative) {
          if (!bad) bad = number();
          break;
        }
        auto s = static_cast<int16_t>(negative ? -static_cast<int32_t>(v) : static_cast<int32_t>(v));
        std::memcpy(slot, &s, 2);
        c.value_length = 2;
        break;
      }
      case RowForm::Digits19: {
        // A BIGINT's (or NUMERIC(19,s)'s) field: checked, and kept as it
        // came (whole_value reads the number from its digits).
        if constexpr (kWatched) watch_before(watch, c, p, left);
        bool negative = *p == '-';
        p += negative;
        if (short_of(negative + kMaxNumericDigits) || !all_digits16(p) || !all_digits16(p + 3))
          return malformed(number());
        // Beyond 64 bits only from 9223372036854775808 (and its negative
        // from ...809) on.
        if (*p == '9' && !fits_int64(p, negative)) {
          if (!bad) bad = number();
          p += kMaxNumericDigits;
          break;
        }
        slot[0] = negative;
        std::memcpy(slot + kWholeDigitsAt, p, 16);
        std::memcpy(slot + kWholeDigitsAt + 3, p + 3, 16);
        p += kMaxNumericDigits;
        c.value_length = 8;
        if constexpr (kWatched) watch_after(watch, c, whole_value(c, slot));
        break;
      }
      case RowForm::Digits: {
        // As many digits as the precision: the value x 10^scale.
        if constexpr (kWatched) watch_before(watch, c, p, left);
        bool negative = *p == '-';
        p += negative;
        uint64_t v;
        if (short_of(negative + c.precision) || !parse_digits(p, c.precision, left - negative, v))
          return malformed(number());
        p += c.precision;
        auto value = static_cast<int64_t>(negative ? 0 - v : v);  // below 10^18: always fits
        std::memcpy(slot, &value, 8);
        c.value_length = 8;
        if constexpr (kWatched) watch_after(watch, c, value);
        break;
      }
      case RowForm::Double: {
        uint32_t n;
        if (short_of(2) || !parse2(p, n) || short_of(2 + n)) return malformed(number());
        // A longer text would have to be cut, which changes the number.
        if (n > kDoubleTextKept) {
          if constexpr (kRoomForAnyRow) {
            *redo = true;
            return RowResult{};
          }
          if (!bad) bad = number();
        } else {
          set_double_text(slot, p + 2, n);
          c.value_length = 8;
        }
        p += 2 + n;
        break;
      }
      case RowForm::Date: {
        uint32_t year, month, day;
        if (short_of(8) || !parse_ymd(p, year, month, day)) return malformed(number());
        p += 8;
        if (!valid_date(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day))) {
          if (!bad) bad = number();
          break;
        }
        store3x16(slot, year, month, day);
        std::memcpy(slot + kDateDigitsAt, p - 8, 8);  // the digits too, for the date's text
        c.value_length = 6;
        break;
      }
      case RowForm::Time: {
        uint32_t h, m, sec;
        if (short_of(6) || !parse_n(p, 2, h) || !parse_n(p + 2, 2, m) || !parse_n(p + 4, 2, sec))
          return malformed(number());
        p += 6;
        if (!valid_time(static_cast<int>(h), static_cast<int>(m), static_cast<int>(sec))) {
          if (!bad) bad = number();
          break;
        }
        store3x16(slot, h, m, sec);
        c.value_length = 6;
        break;
      }
      case RowForm::Timestamp: {
        uint32_t year, month, day, h, m, sec, f8, f1;
        if (short_of(23) || !parse_ymd(p, year, month, day) || !parse_n(p + 8, 2, h) || !parse_n(p + 10, 2, m) ||
            !parse_n(p + 12, 2, sec) || !parse8(p + 14, f8) || !parse_n(p + 22, 1, f1))
          return malformed(number());
        p += 23;
        if (!valid_date(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)) ||
            !valid_time(static_cast<int>(h), static_cast<int>(m), static_cast<int>(sec))) {
          if (!bad) bad = number();
          break;
        }
        store3x16(slot, year, month, day);
        store3x16(slot + 6, h, m, sec);
        uint32_t fraction = f8 * 10 + f1;
        std::memcpy(slot + 12, &fraction, 4);
        c.value_length = 16;
        break;
      }
      case RowForm::None:
      default:
        // The describe reply refuses columns without row storage.
        return malformed(number());
    }
  }
  size_t used = static_cast<size_t>(p - start);
  if (bad) return bad_value(bad, used);
  return RowResult{RowResult::Row, RowResult::InColumn, 0, used};
}

}  // namespace

Diag RowResult::diag() const {
  if (kind == BadValue)
    return Diag{kErrGeneral, "Value in column " + std::to_string(column) + " does not fit the column's type"};
  if (kind != Malformed) return Diag{};
  switch (fault) {
    case NoRow: return Diag{kErrCommLink, "Fetch reply from host holds no row"};
    case NoMarker: return Diag{kErrCommLink, "Malformed row data from host: no row marker"};
    default: return Diag{kErrCommLink, "Malformed row data from host in column " + std::to_string(column)};
  }
}

RowResult unpack_row(std::string_view rows, std::span<ColumnDescriptor> columns, unsigned char* row_buffer,
                     NumericWatch* watch, size_t longest_row) {
  if (watch) return unpack_row_as<true>(rows, columns, row_buffer, watch);
  if (longest_row != 0 && rows.size() >= longest_row) {
    bool redo = false;
    RowResult r = unpack_row_as<false, true>(rows, columns, row_buffer, nullptr, &redo);
    if (!redo) return r;
  }
  return unpack_row_as<false>(rows, columns, row_buffer, nullptr);
}

std::optional<Diag> RowArea::append(std::string_view rows) {
  size_t end = read_ + buffered_;
  if (rows.size() > capacity() - end)
    return Diag{kErrCommLink, "Fetch reply from host overflows the row data area"};
  std::memcpy(bytes_.data() + end, rows.data(), rows.size());
  buffered_ += rows.size();
  return std::nullopt;
}

}  // namespace quarl::codec
