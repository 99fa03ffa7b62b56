// Number and date texts shared by both sides of the wire.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "common/number_text.h"

namespace quarl {
namespace {

TEST(DoubleText, IsTheShortestThatReadsBack) {
  // Common values (prices, measures, values of up to 15 significant digits)
  // are written without the general search; the text must be the very one
  // std::to_chars writes, whatever the value.
  std::mt19937_64 random(20240601);
  std::vector<double> values = {0.001, -0.001, 0.0015, 0.005, 0.1, 0.3, 1.05, 47346.95, 167.607096471984,
                                99999999999999.9, 99999999999999.99, 1e14 - 0.5, 123456.1234567, 0.0009999,
                                0.00999999999999999, 0.0999999999999999, 0.999999999999999, 0.9999999999999999,
                                999999999999999.9, 99999999999999.98, 1e15 - 1, 1e15, 1e15 + 0.5, 2.5, -0.0,
                                5e-324, 1.7976931348623157e308, std::numeric_limits<double>::infinity(),
                                std::nan(""),
                                // Eight significant digits or fewer with up to seven whole ones, the
                                // next longer, and the longest whole parts with 16 and 17 digits.
                                1234567.8, -9999999.9, 1.2345678, 9.9999999, 1.0000001, 1000000.1, 12345678.9,
                                1234567.89, 9999999.99999999, 123456789012345.6, 999999999999999.88,
                                12345.678901234567, 1.2345678901234567};
  // Around each edge of the direct way: the doubles next to it.
  for (double edge : {1e-3, 1e-2, 0.1, 1.0, 1e8, 1e14, 1e15}) {
    double below = edge, above = edge;
    for (int i = 0; i < 50; ++i) {
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, HUGE_VAL);
      values.insert(values.end(), {below, above, -below});
    }
  }
  auto digits_of_length = [&](int n) {  // n random decimal digits, the first not 0
    uint64_t d = 1 + random() % 9;
    for (int i = 1; i < n; ++i) d = d * 10 + random() % 10;
    return static_cast<double>(d);
  };
  for (int i = 0; i < 2000000; ++i) {
    switch (i % 6) {
      case 0: values.push_back(static_cast<double>(random() % 10000000) / 100.0); break;
      case 1: values.push_back(static_cast<double>(random() >> 11) * 0x1.0p-53 * 1000.0); break;
      case 2: values.push_back(static_cast<double>(random() % 100000000) / std::pow(10.0, random() % 9)); break;
      case 3:
        values.push_back(std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 80) - 70));
        break;
      case 4: {
        // Any bits of a double between 2^-12 and 2^52.
        double v =
            std::ldexp(1.0 + static_cast<double>(random() >> 12) * 0x1.0p-52, static_cast<int>(random() % 64) - 12);
        values.push_back(random() % 2 ? v : -v);
        break;
      }
      default: {
        // A decimal of 1 to 17 significant digits, read the way SQLite or a
        // client would read it, from 10^-5 to 10^17.
        int n = 1 + static_cast<int>(random() % 17);
        int exponent = static_cast<int>(random() % 23) - 5 - n;  // value = digits x 10^exponent
        char text[48];
        std::snprintf(text, sizeof text, "%.0fe%d", digits_of_length(n), exponent);
        values.push_back(std::strtod(text, nullptr));
      }
    }
  }
  for (double v : values) {
    char want[64];
    std::string expected(want, std::to_chars(want, want + sizeof want, v).ptr);
    std::string text = double_text(v);
    ASSERT_EQ(text, expected) << expected;
    ASSERT_LE(text.size(), kDoubleTextMax);
  }
  EXPECT_EQ(double_text(-2.2250738585072014e-308).size(), kDoubleTextMax);
}

TEST(DecimalText, ReadExactly) {
  struct Case {
    const char* text;
    bool ok;
    const char* plain;  // decimal_text of it
    const char* int64;  // its 64-bit integer, or "" when it has none
  } cases[] = {
      {"0", true, "0", "0"},
      {"-0.000", true, "0", "0"},
      {" 12.50 ", true, "12.5", ""},
      {"+7", true, "7", "7"},
      {".5", true, "0.5", ""},
      {"5.", true, "5", "5"},
      {"1e3", true, "1000", "1000"},
      {"1.5E-3", true, "0.0015", ""},
      {"-1200", true, "-1200", "-1200"},
      {"9223372036854775807", true, "9223372036854775807", "9223372036854775807"},
      {"-9223372036854775808", true, "-9223372036854775808", "-9223372036854775808"},
      {"9223372036854775808", true, "9223372036854775808", ""},
      {"0.30000000000000004", true, "0.30000000000000004", ""},
      {"1e300", true, "1e+300", ""},
      {"-2.5e-50", true, "-2.5e-50", ""},
      {"", false, "", ""},
      {"-", false, "", ""},
      {".", false, "", ""},
      {"1e", false, "", ""},
      {"12abc", false, "", ""},
      {"1 2", false, "", ""},
      {"0x10", false, "", ""},
      {"nan", false, "", ""},
      {"inf", false, "", ""},
      {"1e9999999", false, "", ""},
  };
  for (const auto& c : cases) {
    Decimal d;
    ASSERT_EQ(parse_decimal(c.text, d), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(decimal_text(d), c.plain) << c.text;
    int64_t v = 0;
    EXPECT_EQ(decimal_to_int64(d, v), *c.int64 != '\0') << c.text;
    if (*c.int64) {
      EXPECT_EQ(std::to_string(v), c.int64) << c.text;
    }
  }
  // Moving the point is exact.
  Decimal d;
  ASSERT_TRUE(parse_decimal("123.45", d));
  d.shift(2);
  EXPECT_EQ(decimal_text(d), "12345");
  EXPECT_EQ(d.fraction_digits(), 0);
  d.shift(-7);
  EXPECT_EQ(decimal_text(d), "0.0012345");
  EXPECT_EQ(d.fraction_digits(), 7);
}

TEST(DecimalText, DoublesComeBackBitForBit) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 100000; ++i) {
    uint64_t bits = random();
    double v;
    std::memcpy(&v, &bits, 8);
    if (!std::isfinite(v)) continue;
    Decimal d;
    ASSERT_TRUE(parse_decimal(double_text(v), d)) << double_text(v);
    double back = decimal_to_double(d);
    ASSERT_EQ(std::memcmp(&back, &v, 8) == 0 || (v == 0 && back == 0), true) << double_text(v);
  }
  Decimal huge;
  ASSERT_TRUE(parse_decimal("1e400", huge));
  EXPECT_TRUE(std::isinf(decimal_to_double(huge)));
  ASSERT_TRUE(parse_decimal("1e-400", huge));
  EXPECT_EQ(decimal_to_double(huge), 0.0);
}

TEST(StampText, SqliteFormsAndTheirFields) {
  struct Case {
    const char* text;
    bool ok, date = false, time = false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    uint32_t fraction = 0;
  } cases[] = {
      {"2024-02-29", true, true, false, 2024, 2, 29, 0, 0, 0, 0},
      {"2024-02-29 10:20:30", true, true, true, 2024, 2, 29, 10, 20, 30, 0},
      {"2024-02-29T10:20:30.5Z", true, true, true, 2024, 2, 29, 10, 20, 30, 500000000},
      {" 1999-12-31 23:59:59.123456789 ", true, true, true, 1999, 12, 31, 23, 59, 59, 123456789},
      {"2024-01-05 10:20", true, true, true, 2024, 1, 5, 10, 20, 0, 0},
      {"07:08", true, false, true, 0, 0, 0, 7, 8, 0, 0},
      {"23:59:59.999", true, false, true, 0, 0, 0, 23, 59, 59, 999000000},
      {"2023-02-29", false, false, false, 0, 0, 0, 0, 0, 0, 0},
      {"2024-13-01", false, false, false, 0, 0, 0, 0, 0, 0, 0},
      {"24:00:00", false, false, false, 0, 0, 0, 0, 0, 0, 0},
      {"10:60:00", false, false, false, 0, 0, 0, 0, 0, 0, 0},
      {"2024-01-05 10:20:30.", false, false, false, 0, 0, 0, 0, 0, 0, 0},
      {"2024-01-05 10:20:30+02:00", false, false, false, 0, 0, 0, 0, 0, 0, 0},
      {"2024-1-5", false, false, false, 0, 0, 0, 0, 0, 0, 0},
      {"not a date", false, false, false, 0, 0, 0, 0, 0, 0, 0},
      {"", false, false, false, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    StampText t;
    ASSERT_EQ(parse_stamp_text(c.text, t), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(t.has_date, c.date) << c.text;
    EXPECT_EQ(t.has_time, c.time) << c.text;
    const Stamp& s = t.stamp;
    EXPECT_EQ((std::vector<int>{s.year, s.month, s.day, s.hour, s.minute, s.second}),
              (std::vector<int>{c.year, c.month, c.day, c.hour, c.minute, c.second}))
        << c.text;
    EXPECT_EQ(s.fraction, c.fraction) << c.text;
  }
  StampText t;
  ASSERT_TRUE(parse_stamp_text("2024-01-05 10:20:30.1234567891", t));
  EXPECT_TRUE(t.beyond_nanoseconds);
  ASSERT_TRUE(parse_stamp_text("2024-01-05 10:20:30.1234567890", t));
  EXPECT_FALSE(t.beyond_nanoseconds);

  Stamp s{2024, 1, 5, 9, 8, 7, 120000000};
  char out[kTimestampTextMax];
  EXPECT_EQ(std::string(out, write_timestamp_text(out, s, 9)), "2024-01-05 09:08:07.120000000");
  EXPECT_EQ(std::string(out, write_timestamp_text(out, s, 3)), "2024-01-05 09:08:07.120");
  EXPECT_EQ(std::string(out, write_timestamp_text(out, s, 0)), "2024-01-05 09:08:07");
  EXPECT_EQ(std::string(out, write_timestamp_text(out, s, significant_fraction_digits(s.fraction))),
            "2024-01-05 09:08:07.12");
}

}  // namespace
}  // namespace quarl
