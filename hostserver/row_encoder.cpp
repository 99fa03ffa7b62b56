#include "hostserver/row_encoder.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/text.h"

namespace hostserver {
namespace {

constexpr int64_t kPow10[] = {1,          10,          100,          1000,          10000,         100000,
                              1000000,    10000000,    100000000,    1000000000,    10000000000,   100000000000,
                              1000000000000, 10000000000000, 100000000000000, 1000000000000000,
                              10000000000000000, 100000000000000000, 1000000000000000000};

// width digits of v, zero-padded (v < 10^width), two at a time.
inline void put_fixed(char* p, int width, uint64_t v) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  int i = width;
  for (; i >= 2; i -= 2) {
    std::memcpy(p + i - 2, kPairs + 2 * (v % 100), 2);
    v /= 100;
  }
  if (i == 1) p[0] = static_cast<char>('0' + v);
}

constexpr double kPow10d[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};

// The shortest text that reads back as value, as std::to_chars writes it,
// into out (40 bytes); returns its length.  Values with at most 7 digits
// after the point and below 10^14 (prices, measures) are written directly:
// D = round(|value| x 10^s) at the largest scale s (at most 7) that keeps the
// product below 10^14 is the only digit string of that scale that can read
// back as |value| (the product is far from any rounding doubt there), and if
// D / 10^s gives |value| back, D without its trailing zeros (and s less as
// many) has the fewest digits; at or above 0.001 fixed notation is the
// shorter, as std::to_chars chooses.  Everything else goes to std::to_chars.
size_t write_double_text(char* out, double value) {
  double a = std::fabs(value);
  if (a >= 1e-3 && a < 1e14 && a != std::trunc(a)) {  // false for NaN and infinities
    int s = 7;
    while (s > 0 && a * kPow10d[s] >= 1e14) --s;
    double scaled = a * kPow10d[s];
    auto digits = static_cast<uint64_t>(scaled + 0.5);
    if (s > 0 && static_cast<double>(digits) / kPow10d[s] == a) {
      while (digits % 10 == 0) digits /= 10, --s;  // s stays above 0: a is not whole
      auto unit = static_cast<uint64_t>(kPow10d[s]);
      char* p = out;
      if (value < 0) *p++ = '-';
      p = std::to_chars(p, p + 20, digits / unit).ptr;
      *p++ = '.';
      put_fixed(p, s, digits % unit);
      return static_cast<size_t>(p + s - out);
    }
  }
  auto [end, ec] = std::to_chars(out, out + 40, value);
  if (ec != std::errc()) {
    std::memcpy(out, "nan", 3);
    return 3;
  }
  return static_cast<size_t>(end - out);
}

using quarl::trim;

std::string shown(const CellView& cell) {
  switch (cell.kind) {
    case SQLITE_INTEGER: return std::to_string(cell.integer);
    case SQLITE_FLOAT: return double_text(cell.real);
    case SQLITE_BLOB: return "a binary value of " + std::to_string(cell.bytes.size()) + " bytes";
    default: {
      std::string t(cell.bytes.substr(0, 40));
      if (cell.bytes.size() > 40) t += "...";
      return "'" + t + "'";
    }
  }
}

Encoded bad(std::string& problem, const ColumnSpec& shape, const CellView& cell, const char* why = nullptr) {
  problem = "Value " + shown(cell) + " of column " + shape.name + " does not fit its type " + type_name(shape.type);
  if (shape.type == HostType::Char || shape.type == HostType::Varchar || shape.type == HostType::LongVarchar ||
      shape.type == HostType::Numeric) {
    problem += "(" + std::to_string(shape.precision);
    if (shape.type == HostType::Numeric) problem += "," + std::to_string(shape.scale);
    problem += ")";
  }
  if (why) problem += std::string(": ") + why;
  return Encoded::Bad;
}

// A whole decimal integer (optional sign), blanks around allowed.
bool parse_integer_text(std::string_view text, int64_t& out) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// A whole decimal number, blanks around allowed.
bool parse_number_text(std::string_view text, double& out) {
  text = trim(text);
  if (text.empty() || text.size() > 400) return false;
  std::string copy(text);
  char* end = nullptr;
  out = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size();
}

// value x 10^scale, rounded half away from zero, exactly for decimal text.
bool scaled_from_text(std::string_view text, unsigned scale, int64_t& out) {
  text = trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.find_first_of("eE") != std::string_view::npos) {
    double v;
    if (!parse_number_text(text, v)) return false;
    double scaled = std::round(v * static_cast<double>(kPow10[scale]));
    if (!(std::fabs(scaled) < 1e18)) return false;
    out = static_cast<int64_t>(negative ? -scaled : scaled);
    return true;
  }
  int64_t value = 0;
  unsigned fraction_digits = 0;
  bool point = false, any = false;
  int round_digit = -1;
  for (char c : text) {
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return false;
    any = true;
    if (point && fraction_digits >= scale) {
      if (round_digit < 0) round_digit = c - '0';
      continue;
    }
    if (value > 100000000000000000) return false;
    value = value * 10 + (c - '0');
    if (point) ++fraction_digits;
  }
  if (!any) return false;
  for (; fraction_digits < scale; ++fraction_digits) value *= 10;
  if (round_digit >= 5) ++value;
  out = negative ? -value : value;
  return true;
}

bool digits_at(std::string_view t, size_t at, size_t n, int& out) {
  if (at + n > t.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  out = v;
  return true;
}

bool valid_date(const DateTime& d) {
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.month < 1 || d.month > 12 || d.day < 1) return false;
  if (d.day > days[d.month - 1]) return false;
  bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  return !(d.month == 2 && d.day == 29 && !leap);
}

// "HH:MM[:SS[.fffffffff]]" at the start of t; rest receives what follows.
bool parse_clock(std::string_view t, DateTime& out, std::string_view& rest) {
  if (!digits_at(t, 0, 2, out.hour) || t.size() < 5 || t[2] != ':' || !digits_at(t, 3, 2, out.minute)) return false;
  size_t at = 5;
  out.second = 0;
  out.fraction = 0;
  if (at < t.size() && t[at] == ':') {
    if (!digits_at(t, at + 1, 2, out.second)) return false;
    at += 3;
    if (at < t.size() && t[at] == '.') {
      ++at;
      size_t start = at;
      uint32_t f = 0;
      int digits = 0;
      while (at < t.size() && t[at] >= '0' && t[at] <= '9') {
        if (digits < 9) {
          f = f * 10 + static_cast<uint32_t>(t[at] - '0');
          ++digits;
        }
        ++at;
      }
      if (at == start) return false;
      for (; digits < 9; ++digits) f *= 10;
      out.fraction = f;
    }
  }
  if (out.hour > 23 || out.minute > 59 || out.second > 60) return false;
  rest = t.substr(at);
  return true;
}

}  // namespace

std::string double_text(double value) {
  char text[40];
  return std::string(text, write_double_text(text, value));
}

bool parse_date_text(std::string_view t, DateTime& out) {
  t = trim(t);
  if (!digits_at(t, 0, 4, out.year) || t.size() < 10 || t[4] != '-' || !digits_at(t, 5, 2, out.month) ||
      t[7] != '-' || !digits_at(t, 8, 2, out.day))
    return false;
  // A time part after the date is allowed (and left out).
  if (t.size() > 10 && t[10] != ' ' && t[10] != 'T') return false;
  return valid_date(out);
}

bool parse_time_text(std::string_view t, DateTime& out) {
  t = trim(t);
  DateTime d;
  // A whole timestamp gives its time of day.
  if (t.size() >= 16 && t[4] == '-' && parse_timestamp_text(t, d)) {
    out.hour = d.hour, out.minute = d.minute, out.second = d.second;
    return true;
  }
  std::string_view rest;
  return parse_clock(t, out, rest) && rest.empty();
}

bool parse_timestamp_text(std::string_view t, DateTime& out) {
  t = trim(t);
  if (!digits_at(t, 0, 4, out.year) || t.size() < 10 || t[4] != '-' || !digits_at(t, 5, 2, out.month) ||
      t[7] != '-' || !digits_at(t, 8, 2, out.day) || !valid_date(out))
    return false;
  out.hour = out.minute = out.second = 0;
  out.fraction = 0;
  if (t.size() == 10) return true;
  if (t[10] != ' ' && t[10] != 'T') return false;
  std::string_view rest;
  if (!parse_clock(t.substr(11), out, rest)) return false;
  return rest.empty() || rest == "Z";
}

CellView sqlite_cell(sqlite3_stmt* stmt, int column, const ColumnSpec& shape) {
  // The column's value object once, then the cheaper value accessors: each
  // sqlite3_column_* call takes the connection's mutex and checks for
  // allocation failures anew.  The statement and its connection are used by
  // this session's worker alone, so the unprotected value is safe to read.
  sqlite3_value* value = sqlite3_column_value(stmt, column);
  CellView cell{sqlite3_value_type(value), 0, 0, {}};
  switch (cell.kind) {
    case SQLITE_INTEGER:
      cell.integer = sqlite3_value_int64(value);
      break;
    case SQLITE_FLOAT:
      if (shape.type == HostType::Char || shape.type == HostType::Varchar || shape.type == HostType::LongVarchar) {
        // Character columns show a real as SQLite itself writes it.
        auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        cell.kind = SQLITE_TEXT;
        cell.bytes = std::string_view(text ? text : "", static_cast<size_t>(sqlite3_value_bytes(value)));
      } else {
        cell.real = sqlite3_value_double(value);
      }
      break;
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
    default:
      break;
  }
  return cell;
}

Encoded encode_cell(RowWriter& out, const ColumnSpec& shape, const CellView& cell, std::string& problem) {
  if (cell.kind == SQLITE_NULL) return out.put('N') ? Encoded::Ok : Encoded::NoRoom;

  switch (shape.type) {
    case HostType::Bit: {
      bool on;
      if (cell.kind == SQLITE_INTEGER) on = cell.integer != 0;
      else if (cell.kind == SQLITE_FLOAT) on = cell.real != 0;
      else {
        std::string_view t = trim(cell.bytes);
        double v;
        if (cell.kind == SQLITE_TEXT && parse_number_text(t, v)) on = v != 0;
        else if (t == "true" || t == "TRUE" || t == "True" || t == "t" || t == "T") on = true;
        else if (t == "false" || t == "FALSE" || t == "False" || t == "f" || t == "F") on = false;
        else return bad(problem, shape, cell);
      }
      return out.put(on ? '1' : '0') ? Encoded::Ok : Encoded::NoRoom;
    }

    case HostType::Char:
    case HostType::Varchar:
    case HostType::LongVarchar: {
      char number[40];
      std::string_view bytes = cell.bytes;
      if (cell.kind == SQLITE_INTEGER) {
        auto r = std::to_chars(number, number + sizeof number, cell.integer);
        bytes = std::string_view(number, static_cast<size_t>(r.ptr - number));
      } else if (cell.kind == SQLITE_FLOAT) {
        std::string t = double_text(cell.real);
        std::memcpy(number, t.data(), t.size());
        bytes = std::string_view(number, t.size());
      }
      bool hex = shape.hex;
      size_t length = hex ? bytes.size() * 2 : bytes.size();
      if (length > shape.precision) return bad(problem, shape, cell, "too long");
      bool fixed = shape.type == HostType::Char;
      size_t need = fixed ? 1 + shape.precision : 3 + length;
      if (out.room() < need) return Encoded::NoRoom;
      char* p = out.take(need);
      if (fixed) *p++ = ' ';  // the flag byte before a CHAR value
      else {
        put_fixed(p, 3, length);
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

    case HostType::Numeric: {
      int64_t scaled = 0;
      int64_t limit = kPow10[shape.precision];
      if (cell.kind == SQLITE_INTEGER) {
        if (cell.integer >= limit || cell.integer <= -limit) return bad(problem, shape, cell);
        scaled = cell.integer * kPow10[shape.scale];
      } else if (cell.kind == SQLITE_FLOAT) {
        double v = std::round(cell.real * static_cast<double>(kPow10[shape.scale]));
        if (!(std::fabs(v) < static_cast<double>(limit))) return bad(problem, shape, cell);
        scaled = static_cast<int64_t>(v);
      } else if (cell.kind != SQLITE_TEXT || !scaled_from_text(cell.bytes, shape.scale, scaled)) {
        return bad(problem, shape, cell, "not a number");
      }
      if (scaled >= limit || scaled <= -limit) return bad(problem, shape, cell);
      size_t need = shape.precision + (scaled < 0 ? 1 : 0);
      if (out.room() < need) return Encoded::NoRoom;
      char* p = out.take(need);
      if (scaled < 0) *p++ = '-';
      put_fixed(p, static_cast<int>(shape.precision), static_cast<uint64_t>(scaled < 0 ? -scaled : scaled));
      return Encoded::Ok;
    }

    case HostType::Integer:
    case HostType::SmallInt: {
      int64_t v = 0;
      if (cell.kind == SQLITE_INTEGER) v = cell.integer;
      else if (cell.kind == SQLITE_FLOAT) {
        if (!(std::fabs(cell.real) < 9e18) || std::trunc(cell.real) != cell.real)
          return bad(problem, shape, cell, "not a whole number");
        v = static_cast<int64_t>(cell.real);
      } else if (cell.kind != SQLITE_TEXT || !parse_integer_text(cell.bytes, v)) {
        return bad(problem, shape, cell, "not a whole number");
      }
      bool small = shape.type == HostType::SmallInt;
      if (small ? (v < INT16_MIN || v > INT16_MAX) : (v < INT32_MIN || v > INT32_MAX))
        return bad(problem, shape, cell, "out of range");
      int width = small ? 5 : 10;
      size_t need = static_cast<size_t>(width) + (v < 0 ? 1 : 0);
      if (out.room() < need) return Encoded::NoRoom;
      char* p = out.take(need);
      if (v < 0) *p++ = '-';
      put_fixed(p, width, static_cast<uint64_t>(v < 0 ? -v : v));
      return Encoded::Ok;
    }

    case HostType::Double: {
      char text[40];
      size_t length = 0;
      if (cell.kind == SQLITE_INTEGER) {
        length = static_cast<size_t>(std::to_chars(text, text + sizeof text, cell.integer).ptr - text);
      } else if (cell.kind == SQLITE_FLOAT) {
        length = write_double_text(text, cell.real);
      } else {
        double v;
        std::string_view t = trim(cell.bytes);
        if (cell.kind != SQLITE_TEXT || !parse_number_text(t, v)) return bad(problem, shape, cell, "not a number");
        if (t.size() <= kMaxDoubleText) {
          std::memcpy(text, t.data(), t.size());
          length = t.size();
        } else {
          length = write_double_text(text, v);
        }
      }
      if (out.room() < 2 + length) return Encoded::NoRoom;
      char* p = out.take(2 + length);
      put_fixed(p, 2, length);
      std::memcpy(p + 2, text, length);
      return Encoded::Ok;
    }

    case HostType::Date:
    case HostType::Time:
    case HostType::Timestamp: {
      DateTime d;
      bool ok = cell.kind == SQLITE_TEXT &&
                (shape.type == HostType::Date   ? parse_date_text(cell.bytes, d)
                 : shape.type == HostType::Time ? parse_time_text(cell.bytes, d)
                                               : parse_timestamp_text(cell.bytes, d));
      if (!ok) return bad(problem, shape, cell, "not a valid text of that type");
      size_t need = shape.type == HostType::Date ? 8 : shape.type == HostType::Time ? 6 : 23;
      if (out.room() < need) return Encoded::NoRoom;
      char* p = out.take(need);
      if (shape.type != HostType::Time) {
        put_fixed(p, 4, static_cast<uint64_t>(d.year));
        put_fixed(p + 4, 2, static_cast<uint64_t>(d.month));
        put_fixed(p + 6, 2, static_cast<uint64_t>(d.day));
        p += 8;
      }
      if (shape.type != HostType::Date) {
        put_fixed(p, 2, static_cast<uint64_t>(d.hour));
        put_fixed(p + 2, 2, static_cast<uint64_t>(d.minute));
        put_fixed(p + 4, 2, static_cast<uint64_t>(d.second));
        if (shape.type == HostType::Timestamp) put_fixed(p + 6, 9, d.fraction);
      }
      return Encoded::Ok;
    }
  }
  return bad(problem, shape, cell);
}

}  // namespace hostserver
