#include "hostserver/row_encoder.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/copy_fast.h"
#include "common/datetime.h"
#include "common/digits.h"
#include "common/number_text.h"
#include "common/text.h"
#include "common/utf.h"
#include "hostserver/long_values.h"

namespace hostserver {
namespace {

constexpr int64_t kPow10[] = {1,
                              10,
                              100,
                              1000,
                              10000,
                              100000,
                              1000000,
                              10000000,
                              100000000,
                              1000000000,
                              10000000000,
                              100000000000,
                              1000000000000,
                              10000000000000,
                              100000000000000,
                              1000000000000000,
                              10000000000000000,
                              100000000000000000,
                              1000000000000000000};

using quarl::trim;

// At most `limit` bytes of text, not cut inside a UTF-8 sequence.
std::string_view leading_text(std::string_view text, size_t limit) {
  return text.substr(0, quarl::utf8_cut(text.data(), text.size(), limit));
}

std::string shown(const CellView& cell) {
  switch (cell.kind) {
    case SQLITE_INTEGER: return std::to_string(cell.integer);
    case SQLITE_FLOAT: return quarl::double_text(cell.real);
    case SQLITE_BLOB: return "a binary value of " + std::to_string(cell.bytes.size()) + " bytes";
    default: {
      std::string t(leading_text(cell.bytes, 40));
      if (t.size() < cell.bytes.size()) t += "...";
      return "'" + t + "'";
    }
  }
}

std::string described_type(const ColumnShape& shape) {
  std::string t = type_name(shape.type);
  switch (shape.type) {
    case HostType::Char:
    case HostType::Varchar:
    case HostType::LongVarchar: return t + "(" + std::to_string(shape.precision) + ")";
    case HostType::Numeric:
    case HostType::Timestamp: return t + "(" + std::to_string(shape.precision) + "," + std::to_string(shape.scale) + ")";
    default: return t;
  }
}

Encoded bad(std::string& problem, const ColumnShape& shape, const CellView& cell, const char* why) {
  problem = "Value " + shown(cell) + " of column " + shape.name + " does not fit its type " + described_type(shape) +
            ": " + why;
  return Encoded::Bad;
}

// The value as an exact decimal number; false when it is none.
bool decimal_of(const CellView& cell, quarl::Decimal& out) {
  switch (cell.kind) {
    case SQLITE_INTEGER: {
      char text[24];
      auto r = std::to_chars(text, text + sizeof text, cell.integer);
      return quarl::parse_decimal(std::string_view(text, static_cast<size_t>(r.ptr - text)), out);
    }
    case SQLITE_FLOAT: {
      if (!std::isfinite(cell.real)) return false;
      char text[quarl::kDoubleTextMax];
      return quarl::parse_decimal(std::string_view(text, quarl::write_double_text(text, cell.real)), out);
    }
    case SQLITE_TEXT: return quarl::parse_decimal(cell.bytes, out);
    default: return false;
  }
}

// The value as a whole number of 64 bits; why tells what is wrong otherwise.
bool whole_number(const CellView& cell, int64_t& out, const char*& why) {
  if (cell.kind == SQLITE_INTEGER) {
    out = cell.integer;
    return true;
  }
  quarl::Decimal d;
  if (!decimal_of(cell, d)) {
    why = "not a number";
    return false;
  }
  if (d.fraction_digits() > 0) {
    why = "not a whole number";
    return false;
  }
  if (!quarl::decimal_to_int64(d, out)) {
    why = "out of range";
    return false;
  }
  return true;
}

// '-' when negative, then width digits.
template <typename Writer>
[[gnu::always_inline]] inline Encoded put_signed(Writer& out, int width, int64_t v) {
  size_t need = static_cast<size_t>(width) + (v < 0 ? 1 : 0);
  if (out.room() < need) return Encoded::NoRoom;
  char* p = out.take(need);
  if (v < 0) *p++ = '-';
  quarl::put_fixed_digits(p, width, v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
  return Encoded::Ok;
}
// The same with a width known when compiling, so that the digits unroll.
template <int width, typename Writer>
[[gnu::always_inline]] inline Encoded put_signed(Writer& out, int64_t v) {
  return put_signed(out, width, v);
}

// Writes where the caller has made sure of room: the room it tells is
// unbounded, so that the checks of the direct ways fall away.
class UncheckedWriter {
 public:
  explicit UncheckedWriter(char* at) : pos_(at) {}
  size_t room() const { return SIZE_MAX; }
  char* at() const { return pos_; }
  char* take(size_t n) {
    char* at = pos_;
    pos_ += n;
    return at;
  }

 private:
  char* pos_;
};

// A length of width digits, then the text.
template <int width>
Encoded put_counted(RowWriter& out, const char* text, size_t length) {
  if (out.room() < width + length) return Encoded::NoRoom;
  char* p = out.take(width + length);
  quarl::put_fixed_digits(p, width, length);
  std::memcpy(p + width, text, length);
  return Encoded::Ok;
}

Encoded encode_text(RowWriter& out, const ColumnShape& shape, const CellView& cell, std::string& problem) {
  char number[quarl::kDoubleTextMax];
  std::string_view bytes = cell.bytes;
  if (cell.kind == SQLITE_INTEGER) {
    auto r = std::to_chars(number, number + sizeof number, cell.integer);
    bytes = std::string_view(number, static_cast<size_t>(r.ptr - number));
  } else if (cell.kind == SQLITE_FLOAT) {
    // The shortest text that reads back as the same number.
    bytes = std::string_view(number, quarl::write_double_text(number, cell.real));
  }
  bool hex = shape.hex;
  size_t length = hex ? bytes.size() * 2 : bytes.size();
  bool fixed = shape.type == HostType::Char;
  if (fixed ? length > shape.precision : length > kMaxCharLength)
    return bad(problem, shape, cell,
               fixed ? "longer than the column" : "longer than the 999 bytes a character value can carry");
  size_t need = fixed ? 1 + shape.precision : 3 + length;
  if (out.room() < need) return Encoded::NoRoom;
  char* p = out.take(need);
  if (fixed) {
    *p++ = ' ';  // the flag byte before a CHAR value
  } else {
    quarl::put_fixed_digits(p, 3, length);
    p += 3;
  }
  if (hex) {
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned char c : bytes) {
      *p++ = digits[c >> 4];
      *p++ = digits[c & 15];
    }
  } else {
    std::memcpy(p, bytes.data(), bytes.size());
    p += bytes.size();
  }
  if (fixed) std::memset(p, ' ', shape.precision - length);
  return Encoded::Ok;
}

Encoded encode_numeric(RowWriter& out, const ColumnShape& shape, const CellView& cell, std::string& problem) {
  int64_t scaled = 0;
  int64_t limit = kPow10[shape.precision];
  if (cell.kind == SQLITE_INTEGER) {
    int64_t unit = kPow10[shape.scale];
    if (cell.integer >= limit / unit || cell.integer <= -limit / unit)
      return bad(problem, shape, cell, "more digits than its precision");
    scaled = cell.integer * unit;
  } else {
    quarl::Decimal d;
    if (!decimal_of(cell, d)) return bad(problem, shape, cell, "not a number");
    d.shift(shape.scale);
    if (d.fraction_digits() > 0) return bad(problem, shape, cell, "more fraction digits than its scale");
    if (!quarl::decimal_to_int64(d, scaled)) return bad(problem, shape, cell, "more digits than its precision");
  }
  if (scaled >= limit || scaled <= -limit) return bad(problem, shape, cell, "more digits than its precision");
  return put_signed(out, static_cast<int>(shape.precision), scaled);
}

Encoded encode_integer(RowWriter& out, const ColumnShape& shape, const CellView& cell, std::string& problem) {
  int64_t v = 0;
  const char* why = nullptr;
  if (!whole_number(cell, v, why)) return bad(problem, shape, cell, why);
  switch (shape.type) {
    case HostType::SmallInt:
      if (v < INT16_MIN || v > INT16_MAX) return bad(problem, shape, cell, "out of range");
      return put_signed<5>(out, v);
    case HostType::Integer:
      if (v < INT32_MIN || v > INT32_MAX) return bad(problem, shape, cell, "out of range");
      return put_signed<10>(out, v);
    default: return put_signed<kBigIntPrecision>(out, v);
  }
}

Encoded encode_double(RowWriter& out, const ColumnShape& shape, const CellView& cell, std::string& problem) {
  char text[quarl::kDoubleTextMax];
  size_t length;
  if (cell.kind == SQLITE_INTEGER) {
    // Integers keep all their digits.
    length = static_cast<size_t>(std::to_chars(text, text + sizeof text, cell.integer).ptr - text);
  } else if (cell.kind == SQLITE_FLOAT) {
    length = quarl::write_double_text(text, cell.real);
  } else {
    quarl::Decimal d;
    if (cell.kind != SQLITE_TEXT || !quarl::parse_decimal(cell.bytes, d)) return bad(problem, shape, cell, "not a number");
    int64_t whole;
    if (quarl::decimal_to_int64(d, whole)) {
      length = static_cast<size_t>(std::to_chars(text, text + sizeof text, whole).ptr - text);
    } else {
      double v = quarl::decimal_to_double(d);
      if (!std::isfinite(v)) return bad(problem, shape, cell, "out of range");
      length = quarl::write_double_text(text, v);
    }
  }
  return put_counted<2>(out, text, length);
}

Encoded encode_stamp(RowWriter& out, const ColumnShape& shape, const CellView& cell, std::string& problem) {
  quarl::StampText t;
  if (cell.kind != SQLITE_TEXT || !quarl::parse_stamp_text(cell.bytes, t))
    return bad(problem, shape, cell, "not a valid date or time text");
  const quarl::Stamp& s = t.stamp;
  bool midnight = s.hour == 0 && s.minute == 0 && s.second == 0 && s.fraction == 0;
  size_t need = 0;
  switch (shape.type) {
    case HostType::Date:
      if (!t.has_date) return bad(problem, shape, cell, "not a date");
      if (!midnight) return bad(problem, shape, cell, "it has a time of day");
      need = 8;
      break;
    case HostType::Time:
      if (t.has_date) return bad(problem, shape, cell, "it has a date");
      if (s.fraction != 0) return bad(problem, shape, cell, "it has a fraction of a second");
      need = 6;
      break;
    default: {
      if (!t.has_date) return bad(problem, shape, cell, "it has no date");
      uint32_t unit = static_cast<uint32_t>(kPow10[9 - (shape.scale > 9 ? 9 : shape.scale)]);
      if (t.beyond_nanoseconds || s.fraction % unit != 0)
        return bad(problem, shape, cell, "more fraction digits than its scale");
      need = 23;
      break;
    }
  }
  if (out.room() < need) return Encoded::NoRoom;
  char* p = out.take(need);
  if (shape.type != HostType::Time) {
    quarl::put_fixed_digits(p, 4, static_cast<uint64_t>(s.year));
    quarl::put_fixed_digits(p + 4, 2, static_cast<uint64_t>(s.month));
    quarl::put_fixed_digits(p + 6, 2, static_cast<uint64_t>(s.day));
    p += 8;
  }
  if (shape.type != HostType::Date) {
    quarl::put_fixed_digits(p, 2, static_cast<uint64_t>(s.hour));
    quarl::put_fixed_digits(p + 2, 2, static_cast<uint64_t>(s.minute));
    quarl::put_fixed_digits(p + 4, 2, static_cast<uint64_t>(s.second));
    if (shape.type == HostType::Timestamp) quarl::put_fixed_digits(p + 6, 9, s.fraction);
  }
  return Encoded::Ok;
}

Encoded encode_bit(RowWriter& out, const ColumnShape& shape, const CellView& cell, std::string& problem) {
  int64_t v = -1;
  if (cell.kind == SQLITE_TEXT) {
    std::string_view t = trim(cell.bytes);
    if (t == "true" || t == "TRUE" || t == "True" || t == "t" || t == "T") v = 1;
    else if (t == "false" || t == "FALSE" || t == "False" || t == "f" || t == "F") v = 0;
  }
  const char* why = "not 0 or 1";
  if (v < 0 && !whole_number(cell, v, why)) return bad(problem, shape, cell, why);
  if (v != 0 && v != 1) return bad(problem, shape, cell, "not 0 or 1");
  return out.put(v ? '1' : '0') ? Encoded::Ok : Encoded::NoRoom;
}

// A "YYYY-MM-DD" text of a valid day as the eight digits of a DATE; false
// for any other text (which the general path then reads or refuses).
template <typename Writer>
[[gnu::always_inline]] inline bool put_plain_date(Writer& out, const char* t, size_t n) {
  if (n != 10 || out.room() < 8) return false;
  // "YYYY-MM-" and "DD" as words (byte i of a word is character i), the
  // eight digits gathered into one and checked all at once: a byte is a
  // digit when its high half is 3 and adding 6 keeps it so.
  uint64_t head;
  uint16_t tail;
  std::memcpy(&head, t, 8);
  std::memcpy(&tail, t + 8, 2);
  if constexpr (std::endian::native == std::endian::big) {
    head = __builtin_bswap64(head);
    tail = static_cast<uint16_t>(tail >> 8 | tail << 8);
  }
  if (((head >> 32) & 0xFF) != '-' || (head >> 56) != '-') return false;
  const uint64_t digits = (head & 0xFFFFFFFF) | ((head >> 40) & 0xFFFF) << 32 | static_cast<uint64_t>(tail) << 48;
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL, kThrees = 0x3030303030303030ULL;
  if ((digits & kHigh) != kThrees || ((digits + 0x0606060606060606ULL) & kHigh) != kThrees) return false;
  // Each even byte becomes the two-digit number it starts: the century,
  // the year in it, the month, the day.
  const uint64_t values = digits - kThrees;
  const uint64_t pairs = values * 10 + (values >> 8);
  const auto field = [pairs](int byte) { return static_cast<int>((pairs >> (8 * byte)) & 0xFF); };
  if (!quarl::valid_date(field(0) * 100 + field(2), field(4), field(6))) return false;
  quarl::detail::store_digit_word(out.take(8), digits);
  return true;
}

// A value the direct ways leave: read into a cell, then the general encoders.
[[gnu::noinline]] Encoded encode_value_generally(RowWriter& out, const ColumnShape& shape, sqlite3_value* value,
                                                 std::string& problem) {
  CellView cell = sqlite_cell(value);
  if (shape.long_forms) {
    bool went_apart = false;
    return encode_long_value(out, shape, cell, false, went_apart);
  }
  return encode_cell(out, shape, cell, problem);
}

}  // namespace

ValuePath value_path(const ColumnShape& shape) {
  if (shape.long_forms && shape.type != HostType::Varchar && shape.type != HostType::LongVarchar)
    return ValuePath::General;
  switch (shape.type) {
    case HostType::BigInt: return ValuePath::BigInt;
    case HostType::Integer: return ValuePath::Integer;
    case HostType::SmallInt: return ValuePath::SmallInt;
    case HostType::Double: return ValuePath::Double;
    case HostType::Date: return ValuePath::Date;
    // Both the classic form and the short long form: three digits of length
    // and the bytes.
    case HostType::Varchar:
    case HostType::LongVarchar: return shape.hex ? ValuePath::General : ValuePath::Text;
    default: return ValuePath::General;
  }
}

DirectWay direct_way(const ColumnShape& shape) {
  return DirectWay{value_path(shape), static_cast<uint16_t>(std::min<unsigned>(shape.precision, kMaxCharLength))};
}

size_t direct_row_most(const DirectWay* ways, size_t count) {
  size_t most = 0;
  for (size_t c = 0; c < count; ++c) {
    switch (ways[c].path) {
      case ValuePath::BigInt: most += 1 + kBigIntPrecision; break;
      case ValuePath::Integer: most += 1 + 10; break;
      case ValuePath::SmallInt: most += 1 + 5; break;
      case ValuePath::Double: most += 2 + quarl::kDoubleTextMax; break;
      case ValuePath::Date: most += 8; break;
      case ValuePath::Text: most += 3 + ways[c].text_limit; break;
      case ValuePath::General: break;
    }
  }
  return most;
}

namespace {

// Writes a value the direct way of its column when it has the storage
// class the way takes; false, with nothing written, for any other value
// (and for a want of room: the general path then decides).
template <typename Writer>
[[gnu::always_inline]] inline bool put_direct(Writer& out, DirectWay way, sqlite3_value* value) {
  const int kind = sqlite3_value_type(value);
  switch (way.path) {
    case ValuePath::BigInt:
      return kind == SQLITE_INTEGER &&
             put_signed<kBigIntPrecision>(out, sqlite3_value_int64(value)) == Encoded::Ok;
    case ValuePath::Integer:
      if (kind == SQLITE_INTEGER) {
        int64_t v = sqlite3_value_int64(value);
        return v >= INT32_MIN && v <= INT32_MAX && put_signed<10>(out, v) == Encoded::Ok;
      }
      return false;
    case ValuePath::SmallInt:
      if (kind == SQLITE_INTEGER) {
        int64_t v = sqlite3_value_int64(value);
        return v >= INT16_MIN && v <= INT16_MAX && put_signed<5>(out, v) == Encoded::Ok;
      }
      return false;
    case ValuePath::Double:
      if (kind == SQLITE_FLOAT && out.room() >= 2 + quarl::kDoubleTextMax) {
        size_t length = quarl::write_double_text(out.at() + 2, sqlite3_value_double(value));
        quarl::put_fixed_digits(out.take(2 + length), 2, length);
        return true;
      }
      return false;
    case ValuePath::Date:
      if (kind == SQLITE_TEXT) {
        auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        return text && put_plain_date(out, text, static_cast<size_t>(sqlite3_value_bytes(value)));
      }
      return false;
    case ValuePath::Text:
      if (kind == SQLITE_TEXT) {
        auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        auto n = static_cast<size_t>(sqlite3_value_bytes(value));
        // Within the column's declared bytes it is within what a value of
        // the column may be in either form; the general path judges the rest.
        if (text && n <= way.text_limit && out.room() >= 3 + n) {
          char* p = out.take(3 + n);
          quarl::put_fixed_digits(p, 3, n);
          quarl::copy_bytes(p + 3, text, n);
          return true;
        }
      }
      return false;
    case ValuePath::General: return false;
  }
  return false;
}

[[gnu::always_inline]] inline Encoded encode_value_inline(RowWriter& out, const ColumnShape& shape, DirectWay way,
                                                          sqlite3_value* value, std::string& problem) {
  if (put_direct(out, way, value)) return Encoded::Ok;
  return encode_value_generally(out, shape, value, problem);
}

}  // namespace

Encoded encode_value(RowWriter& out, const ColumnShape& shape, const DirectWay& way, sqlite3_value* value,
                     std::string& problem) {
  return encode_value_inline(out, shape, way, value, problem);
}

Encoded encode_values(RowWriter& out, const ColumnShape* shapes, const DirectWay* ways, size_t count,
                      size_t direct_most, sqlite3_stmt* stmt, std::string& problem) {
  // With room for the most the direct ways can write, no value needs its
  // own check until one leaves them; from there on (its bytes may be more)
  // every value is checked.
  size_t c = 0;
  if (out.room() >= direct_most) {
    UncheckedWriter direct(out.at());
    while (c < count && put_direct(direct, ways[c], sqlite3_column_value(stmt, static_cast<int>(c)))) ++c;
    out.take(static_cast<size_t>(direct.at() - out.at()));
  }
  for (; c < count; ++c) {
    Encoded result =
        encode_value_inline(out, shapes[c], ways[c], sqlite3_column_value(stmt, static_cast<int>(c)), problem);
    if (result != Encoded::Ok) return result;
  }
  return Encoded::Ok;
}

Encoded encode_cell(RowWriter& out, const ColumnShape& shape, const CellView& cell, std::string& problem) {
  if (cell.kind == SQLITE_NULL) return out.put('N') ? Encoded::Ok : Encoded::NoRoom;
  switch (shape.type) {
    case HostType::Bit: return encode_bit(out, shape, cell, problem);
    case HostType::Char:
    case HostType::Varchar:
    case HostType::LongVarchar: return encode_text(out, shape, cell, problem);
    case HostType::Numeric: return encode_numeric(out, shape, cell, problem);
    case HostType::BigInt:
    case HostType::Integer:
    case HostType::SmallInt: return encode_integer(out, shape, cell, problem);
    case HostType::Double: return encode_double(out, shape, cell, problem);
    case HostType::Date:
    case HostType::Time:
    case HostType::Timestamp: return encode_stamp(out, shape, cell, problem);
    case HostType::Binary:
    case HostType::VarBinary:
    case HostType::LongVarBinary: {  // only with long values
      bool went_apart = false;
      return encode_long_value(out, shape, cell, false, went_apart);
    }
  }
  return bad(problem, shape, cell, "no wire form");
}

}  // namespace hostserver
