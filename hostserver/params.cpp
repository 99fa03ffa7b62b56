#include "hostserver/params.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdlib>

#include "common/datetime.h"
#include "common/long_values.h"
#include "common/number_text.h"

#include "hostserver/envelope.h"

namespace hostserver {
namespace {

// Reads width digits at data[at]; advances at.
bool take_digits(std::string_view data, size_t& at, size_t width, unsigned& value) {
  if (data.size() - at < width || !parse_digits(data.substr(at, width), value)) return false;
  at += width;
  return true;
}

// A value with a length field of width digits before it.
bool take_counted(std::string_view data, size_t& at, size_t width, std::string& value) {
  unsigned n;
  if (!take_digits(data, at, width, n) || data.size() - at < n) return false;
  value.assign(data.substr(at, n));
  at += n;
  return true;
}

// A character or binary value in one of the forms of long values: three
// length digits, "X" with ten and the bytes, or "L" with ten (the bytes
// came apart).
bool take_long_form(std::string_view data, size_t& at, bool apart_allowed, ParamEntry& e) {
  namespace lv = quarl::longvalues;
  if (at >= data.size()) return false;
  char form = data[at];
  if (form != lv::kInline && form != lv::kApart) return take_counted(data, at, 3, e.value);
  ++at;
  if (data.size() - at < static_cast<size_t>(lv::kLengthDigits)) return false;
  uint64_t n = 0;
  for (int i = 0; i < lv::kLengthDigits; ++i) {
    char c = data[at + static_cast<size_t>(i)];
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  at += lv::kLengthDigits;
  if (form == lv::kApart) {
    e.apart = true;
    e.apart_length = n;
    return apart_allowed;
  }
  if (data.size() - at < n) return false;
  e.value.assign(data.substr(at, n));
  at += n;
  return true;
}

// An optional '-' and width digits.
bool take_signed(std::string_view data, size_t& at, size_t width, std::string& value) {
  size_t start = at;
  if (at < data.size() && data[at] == '-') ++at;
  if (data.size() - at < width) return false;
  for (size_t i = 0; i < width; ++i)
    if (data[at + i] < '0' || data[at + i] > '9') return false;
  at += width;
  value.assign(data.substr(start, at - start));
  return true;
}

bool take_fixed(std::string_view data, size_t& at, size_t width, std::string& value) {
  unsigned ignored;
  if (!take_digits(data, at, width, ignored)) return false;
  value.assign(data.substr(at - width, width));
  return true;
}

// A number's text, read exactly: a whole number that fits 64 bits is bound
// as an integer, a number that a double holds as it is as that double, and
// any other as its exact decimal text, which SQLite keeps whole in TEXT
// columns and bare expressions and rounds by the column's own rule
// elsewhere.  scale moves the point (a NUMERIC entry carries the value times
// 10^scale).
int bind_number(sqlite3_stmt* stmt, int index, const std::string& text, unsigned scale, bool& ok) {
  quarl::Decimal d;
  ok = quarl::parse_decimal(text, d);
  if (!ok) return SQLITE_OK;
  d.shift(-static_cast<int64_t>(scale));
  int64_t whole;
  if (quarl::decimal_to_int64(d, whole)) return sqlite3_bind_int64(stmt, index, whole);
  double nearest = quarl::decimal_to_double(d);
  quarl::Decimal back;
  if (std::isfinite(nearest) && quarl::parse_decimal(quarl::double_text(nearest), back) &&
      back.negative == d.negative && back.digits == d.digits && back.exponent == d.exponent)
    return sqlite3_bind_double(stmt, index, nearest);
  std::string exact = quarl::decimal_text(d);
  return sqlite3_bind_text(stmt, index, exact.data(), static_cast<int>(exact.size()), SQLITE_TRANSIENT);
}

// A date, time or timestamp entry's digits as SQLite's text, when they make
// a valid value.
bool stamp_text(int type, const std::string& v, std::string& out) {
  auto field = [&](size_t at, size_t n) { return std::atoi(v.substr(at, n).c_str()); };
  quarl::Stamp s;
  char text[quarl::kTimestampTextMax];
  size_t n = 0;
  if (type == 10) {
    s.hour = field(0, 2), s.minute = field(2, 2), s.second = field(4, 2);
    if (!quarl::valid_time(s.hour, s.minute, s.second)) return false;
    n = quarl::write_time_text(text, s);
  } else {
    s.year = field(0, 4), s.month = field(4, 2), s.day = field(6, 2);
    if (!quarl::valid_date(s.year, s.month, s.day)) return false;
    if (type == 9) {
      n = quarl::write_date_text(text, s);
    } else {
      s.hour = field(8, 2), s.minute = field(10, 2), s.second = field(12, 2);
      s.fraction = static_cast<uint32_t>(std::strtoul(v.substr(14, 9).c_str(), nullptr, 10));
      if (!quarl::valid_time(s.hour, s.minute, s.second)) return false;
      // The fraction with its trailing zeros left out.
      n = quarl::write_timestamp_text(text, s, quarl::significant_fraction_digits(s.fraction));
    }
  }
  out.assign(text, n);
  return true;
}

}  // namespace

bool parse_param_entries(std::string_view data, unsigned count, std::vector<ParamEntry>& out, size_t& used,
                         std::string& problem, const EntryForms& forms) {
  size_t at = 0;
  for (unsigned i = 0; i < count; ++i) {
    ParamEntry e;
    unsigned type = 0, null_flag = 0;
    bool ok = take_digits(data, at, 4, e.number);
    bool negative = ok && at < data.size() && data[at] == '-';
    if (negative) ++at;  // a negative type takes one more byte
    if (!ok || !take_digits(data, at, 2, type) || !take_digits(data, at, 4, e.precision) ||
        !take_digits(data, at, 2, e.scale) || !take_digits(data, at, 1, null_flag) || null_flag > 1) {
      problem = "Malformed parameter entry " + std::to_string(i + 1);
      return false;
    }
    e.sql_type = negative ? -static_cast<int>(type) : static_cast<int>(type);
    e.null = null_flag == 1;
    if (e.number == 0) {
      problem = "Parameter number 0 in entry " + std::to_string(i + 1);
      return false;
    }
    if (!e.null) {
      bool ok;
      switch (e.sql_type) {
        case -7: ok = take_fixed(data, at, 1, e.value); break;                  // BIT
        case 1: case 12: case -1:  // character
          ok = forms.long_values ? take_long_form(data, at, forms.apart_allowed, e) : take_counted(data, at, 3, e.value);
          break;
        case -2: case -3: case -4:  // binary, with long values only
          if (!forms.long_values) {
            ok = false;
            problem = "Parameter " + std::to_string(e.number) + " has SQL type " + std::to_string(e.sql_type) +
                      ", which the host does not take";
            return false;
          }
          ok = take_long_form(data, at, forms.apart_allowed, e);
          break;
        case 2: case 6: case 7: case 8: ok = take_counted(data, at, 2, e.value); break;  // NUMERIC, FLOAT, REAL, DOUBLE
        case 4: ok = take_signed(data, at, 10, e.value); break;                 // INTEGER
        case 5: ok = take_signed(data, at, 5, e.value); break;                  // SMALLINT
        case 9: ok = take_fixed(data, at, 8, e.value); break;                   // DATE
        case 10: ok = take_fixed(data, at, 6, e.value); break;                  // TIME
        case 11: ok = take_fixed(data, at, 23, e.value); break;                 // TIMESTAMP
        default:
          problem = "Parameter " + std::to_string(e.number) + " has SQL type " + std::to_string(e.sql_type) +
                    ", which the host does not take";
          return false;
      }
      if (!ok) {
        problem = e.apart && !forms.apart_allowed
                      ? "Parameter " + std::to_string(e.number) + ": a value sent apart cannot be part of a parameter set"
                      : "Malformed value of parameter " + std::to_string(e.number);
        return false;
      }
    }
    out.push_back(std::move(e));
  }
  used = at;
  return true;
}

bool bind_params(sqlite3_stmt* stmt, std::vector<ParamEntry>& entries, std::string& problem) {
  int markers = sqlite3_bind_parameter_count(stmt);
  std::vector<bool> bound(static_cast<size_t>(markers) + 1, false);
  for (auto& e : entries) {
    if (e.number > static_cast<unsigned>(markers)) continue;
    int i = static_cast<int>(e.number);
    bound[static_cast<size_t>(i)] = true;
    if (e.null) {
      sqlite3_bind_null(stmt, i);
      continue;
    }
    const std::string& v = e.value;
    int rc = SQLITE_OK;
    bool valid = true;
    switch (e.sql_type) {
      case -7: rc = sqlite3_bind_int(stmt, i, v == "0" ? 0 : 1); break;
      case 1: case 12: case -1:
      case -2: case -3: case -4: {
        bool binary = e.sql_type < -1;
        if (e.apart) {
          // SQLite takes the bytes over (and frees them, even when binding fails).
          sqlite3_uint64 n = e.owned.size();
          char* bytes = e.owned.release();
          if (bytes == nullptr) bytes = static_cast<char*>(std::malloc(1));
          rc = binary ? sqlite3_bind_blob64(stmt, i, bytes, n, std::free)
                      : sqlite3_bind_text64(stmt, i, bytes, n, std::free, SQLITE_UTF8);
        } else if (binary) {
          rc = sqlite3_bind_blob64(stmt, i, v.data(), v.size(), SQLITE_TRANSIENT);
        } else {
          rc = sqlite3_bind_text64(stmt, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        break;
      }
      case 2: rc = bind_number(stmt, i, v, e.scale, valid); break;
      case 4: case 5: rc = sqlite3_bind_int64(stmt, i, std::strtoll(v.c_str(), nullptr, 10)); break;
      case 6: case 7: case 8: {
        quarl::Decimal d;
        valid = quarl::parse_decimal(v, d);
        if (valid) rc = sqlite3_bind_double(stmt, i, quarl::decimal_to_double(d));
        break;
      }
      case 9: case 10: case 11: {
        std::string t;
        valid = stamp_text(e.sql_type, v, t);
        if (valid) rc = sqlite3_bind_text(stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        break;
      }
      default: break;
    }
    if (!valid) {
      problem = "Parameter " + std::to_string(i) + ": '" + v + "' is not a valid value of SQL type " +
                std::to_string(e.sql_type);
      return false;
    }
    if (rc == SQLITE_TOOBIG) {
      problem = "Parameter " + std::to_string(i) + ": the value is longer than the host stores (" +
                std::to_string(sqlite3_limit(sqlite3_db_handle(stmt), SQLITE_LIMIT_LENGTH, -1)) + " bytes)";
      return false;
    }
    if (rc != SQLITE_OK) {
      problem = "Cannot bind parameter " + std::to_string(i);
      return false;
    }
  }
  for (int i = 1; i <= markers; ++i)
    if (!bound[static_cast<size_t>(i)]) {
      problem = "Parameter " + std::to_string(i) + " of " + std::to_string(markers) + " has no value";
      return false;
    }
  return true;
}

}  // namespace hostserver
