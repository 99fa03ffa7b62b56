#include "common/datetime.h"

#include "common/digits.h"

namespace quarl {

namespace {

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

// "YYYY-MM-DD" at the start of t.
bool read_date(std::string_view t, Stamp& s) {
  return t.size() >= 10 && digits_at(t, 0, 4, s.year) && t[4] == '-' && digits_at(t, 5, 2, s.month) &&
         t[7] == '-' && digits_at(t, 8, 2, s.day) && valid_date(s.year, s.month, s.day);
}

// "HH:MM[:SS[.F...]]" making up the whole of t.
bool read_clock(std::string_view t, StampText& out) {
  Stamp& s = out.stamp;
  if (t.size() < 5 || !digits_at(t, 0, 2, s.hour) || t[2] != ':' || !digits_at(t, 3, 2, s.minute)) return false;
  size_t at = 5;
  s.second = 0;
  s.fraction = 0;
  if (at < t.size() && t[at] == ':') {
    if (!digits_at(t, at + 1, 2, s.second)) return false;
    at += 3;
    if (at < t.size() && t[at] == '.') {
      size_t start = ++at;
      uint32_t f = 0;
      int digits = 0;
      for (; at < t.size() && t[at] >= '0' && t[at] <= '9'; ++at) {
        if (digits < 9) {
          f = f * 10 + static_cast<uint32_t>(t[at] - '0');
          ++digits;
        } else if (t[at] != '0') {
          out.beyond_nanoseconds = true;
        }
      }
      if (at == start) return false;
      for (; digits < 9; ++digits) f *= 10;
      s.fraction = f;
      out.has_fraction = true;
    }
  }
  if (at != t.size()) return false;
  out.has_time = true;
  return valid_time(s.hour, s.minute, s.second);
}

}  // namespace

bool parse_stamp_text(std::string_view t, StampText& out) {
  out = StampText{};
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  if (t.size() >= 5 && t[2] == ':') return read_clock(t, out);
  if (!read_date(t, out.stamp)) return false;
  out.has_date = true;
  if (t.size() == 10) return true;
  if (t[10] != ' ' && t[10] != 'T') return false;
  std::string_view clock = t.substr(11);
  if (!clock.empty() && clock.back() == 'Z') clock.remove_suffix(1);
  return read_clock(clock, out);
}

int significant_fraction_digits(uint32_t fraction) {
  if (fraction == 0) return 0;
  int digits = 9;
  while (fraction % 10 == 0) fraction /= 10, --digits;
  return digits;
}

size_t write_date_text(char* out, const Stamp& s) {
  auto year = static_cast<unsigned>(s.year);
  put_two_digits(out, year / 100);
  put_two_digits(out + 2, year);
  out[4] = '-';
  put_two_digits(out + 5, static_cast<unsigned>(s.month));
  out[7] = '-';
  put_two_digits(out + 8, static_cast<unsigned>(s.day));
  return 10;
}

size_t write_time_text(char* out, const Stamp& s) {
  put_two_digits(out, static_cast<unsigned>(s.hour));
  out[2] = ':';
  put_two_digits(out + 3, static_cast<unsigned>(s.minute));
  out[5] = ':';
  put_two_digits(out + 6, static_cast<unsigned>(s.second));
  return 8;
}

size_t write_timestamp_text(char* out, const Stamp& s, int fraction_digits) {
  write_date_text(out, s);
  out[10] = ' ';
  write_time_text(out + 11, s);
  if (fraction_digits <= 0) return 19;
  if (fraction_digits > 9) fraction_digits = 9;
  out[19] = '.';
  char nine[9];
  put_fixed_digits(nine, 9, s.fraction % 1000000000u);
  for (int i = 0; i < fraction_digits; ++i) out[20 + i] = nine[i];
  return 20 + static_cast<size_t>(fraction_digits);
}

}  // namespace quarl
