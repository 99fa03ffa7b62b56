// Dates, times and timestamps as text, the way both sides of the wire read
// and write them: SQLite's texts ("YYYY-MM-DD", "HH:MM:SS.SSS",
// "YYYY-MM-DD HH:MM:SS") and the ODBC forms written for applications.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarl {

struct Stamp {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
  uint32_t fraction = 0;  // nanoseconds
};

// A day of the proleptic Gregorian calendar, years 0 to 9999.  (Inline: the
// driver checks every date of every row it unpacks.)
// (The table lives outside the function, so that no call copies it.)
inline constexpr int kLongestMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
[[gnu::always_inline]] constexpr bool valid_date(int year, int month, int day) {
  if (static_cast<unsigned>(year) > 9999 || static_cast<unsigned>(month - 1) > 11 || day < 1 ||
      day > kLongestMonthDays[month - 1])
    return false;
  return !(month == 2 && day == 29 && ((year % 4 != 0) || (year % 100 == 0 && year % 400 != 0)));
}
// 00:00:00 to 23:59:59, fraction below one second.
constexpr bool valid_time(int hour, int minute, int second, uint32_t fraction = 0) {
  return static_cast<unsigned>(hour) <= 23 && static_cast<unsigned>(minute) <= 59 &&
         static_cast<unsigned>(second) <= 59 && fraction <= 999999999;
}

// What a text held.
struct StampText {
  Stamp stamp;
  bool has_date = false;
  bool has_time = false;
  // A fraction of a second was written ("10:20:30.000" too).
  bool has_fraction = false;
  // A non-zero digit of the fraction lies past the ninth (nanoseconds).
  bool beyond_nanoseconds = false;
};

// "YYYY-MM-DD", "HH:MM[:SS[.F...]]" or "YYYY-MM-DD HH:MM[:SS[.F...]]" (a 'T'
// in place of the blank, and a trailing 'Z', allowed too), blanks around
// allowed, every field in its range.  False for anything else.
bool parse_stamp_text(std::string_view text, StampText& out);

// The digits of the fraction that show it exactly (0 to 9).
int significant_fraction_digits(uint32_t fraction);

// Writers of the ODBC forms; nothing is terminated, the length is returned.
// "YYYY-MM-DD" (10)
size_t write_date_text(char* out, const Stamp& s);
// "HH:MM:SS" (8)
size_t write_time_text(char* out, const Stamp& s);
// "YYYY-MM-DD HH:MM:SS" and, for fraction_digits 1 to 9, a point and that
// many leading digits of the nine-digit fraction (at most 29).
size_t write_timestamp_text(char* out, const Stamp& s, int fraction_digits);
inline constexpr size_t kTimestampTextMax = 29;

}  // namespace quarl
