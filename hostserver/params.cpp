#include "hostserver/params.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdlib>

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

// The number text of a NUMERIC entry is the value times 10^scale.
void bind_scaled(sqlite3_stmt* stmt, int index, const std::string& text, unsigned scale) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (scale == 0 && std::trunc(v) == v && std::fabs(v) < 9e15) {
    sqlite3_bind_int64(stmt, index, static_cast<sqlite3_int64>(v));
    return;
  }
  // Shift the decimal point of the text when it has no exponent, so that
  // the value is not rounded twice.
  if (text.find_first_of("eE") == std::string::npos) {
    std::string digits;
    bool negative = false;
    size_t point = std::string::npos;
    for (char c : text) {
      if (c == '-') negative = true;
      else if (c == '.') point = digits.size();
      else if (c >= '0' && c <= '9') digits += c;
    }
    if (point == std::string::npos) point = digits.size();
    while (point < scale) {
      digits.insert(0, 1, '0');
      ++point;
    }
    std::string shifted = (negative ? "-" : "") + digits.substr(0, point - scale) + "." + digits.substr(point - scale);
    if (shifted == "." || shifted == "-.") shifted = "0";
    v = std::strtod(shifted.c_str(), nullptr);
  } else {
    v /= std::pow(10.0, scale);
  }
  if (std::trunc(v) == v && std::fabs(v) < 9e15) sqlite3_bind_int64(stmt, index, static_cast<sqlite3_int64>(v));
  else sqlite3_bind_double(stmt, index, v);
}

}  // namespace

bool parse_param_entries(std::string_view data, unsigned count, std::vector<ParamEntry>& out, size_t& used,
                         std::string& problem) {
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
        case 1: case 12: case -1: ok = take_counted(data, at, 3, e.value); break;  // character
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
        problem = "Malformed value of parameter " + std::to_string(e.number);
        return false;
      }
    }
    out.push_back(std::move(e));
  }
  used = at;
  return true;
}

bool bind_params(sqlite3_stmt* stmt, const std::vector<ParamEntry>& entries, std::string& problem) {
  int markers = sqlite3_bind_parameter_count(stmt);
  std::vector<bool> bound(static_cast<size_t>(markers) + 1, false);
  for (const auto& e : entries) {
    if (e.number > static_cast<unsigned>(markers)) continue;
    int i = static_cast<int>(e.number);
    bound[static_cast<size_t>(i)] = true;
    if (e.null) {
      sqlite3_bind_null(stmt, i);
      continue;
    }
    const std::string& v = e.value;
    int rc = SQLITE_OK;
    switch (e.sql_type) {
      case -7: rc = sqlite3_bind_int(stmt, i, v == "0" ? 0 : 1); break;
      case 1: case 12: case -1:
        rc = sqlite3_bind_text(stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        break;
      case 2: bind_scaled(stmt, i, v, e.scale); break;
      case 4: case 5: rc = sqlite3_bind_int64(stmt, i, std::strtoll(v.c_str(), nullptr, 10)); break;
      case 6: case 7: case 8: rc = sqlite3_bind_double(stmt, i, std::strtod(v.c_str(), nullptr)); break;
      case 9: {
        std::string t = v.substr(0, 4) + "-" + v.substr(4, 2) + "-" + v.substr(6, 2);
        rc = sqlite3_bind_text(stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        break;
      }
      case 10: {
        std::string t = v.substr(0, 2) + ":" + v.substr(2, 2) + ":" + v.substr(4, 2);
        rc = sqlite3_bind_text(stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        break;
      }
      case 11: {
        // The fraction is in nanoseconds; trailing zeros are left out.
        std::string t = v.substr(0, 4) + "-" + v.substr(4, 2) + "-" + v.substr(6, 2) + " " + v.substr(8, 2) + ":" +
                        v.substr(10, 2) + ":" + v.substr(12, 2);
        std::string fraction = v.substr(14, 9);
        size_t last = fraction.find_last_not_of('0');
        if (last != std::string::npos) t += "." + fraction.substr(0, last + 1);
        rc = sqlite3_bind_text(stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        break;
      }
      default: break;
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
