#include "common/digits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace quarl {
namespace {

std::string put(int width, uint64_t v) {
  std::string s(width, '?');
  put_digits(s.data(), width, v);
  return s;
}

TEST(Digits, PutDigitsPadsAndCutsToLeadingDigits) {
  EXPECT_EQ(put(4, 12345), "1234");
  EXPECT_EQ(put(3, 7), "007");
  EXPECT_EQ(put(1, 0), "0");
  EXPECT_EQ(put(5, 65535), "65535");
}

// The writers of the row and parameter paths: every width, the edges of each
// group of digits, and random values, against printf and std::to_string.
TEST(Digits, FixedDigitsMatchPrintfAtEveryWidth) {
  auto expected = [](int width, uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llu", width, static_cast<unsigned long long>(v));
    return std::string(text);
  };
  auto fixed = [](int width, uint64_t v) {
    std::string s(static_cast<size_t>(width) + 2, '?');
    put_fixed_digits(s.data() + 1, width, v);
    EXPECT_EQ(s.front(), '?');  // nothing written outside the field
    EXPECT_EQ(s.back(), '?');
    return s.substr(1, static_cast<size_t>(width));
  };
  std::vector<uint64_t> values = {0,        1,         9,         10,        99,         100,       999,
                                  9999,     10000,     99999,     999999,    9999999,    10000000,  99999999,
                                  100000000, 100010001, 4294967295ULL, 4294967296ULL, 1000000000000000ULL,
                                  9999999999999999ULL, 9999999999999999999ULL,
                                  UINT64_MAX};
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) values.push_back(random() >> (random() % 64));
  for (uint64_t v : values) {
    char text[kDecimalTextMax];
    ASSERT_EQ(std::string(text, static_cast<size_t>(write_decimal(text, v))), std::to_string(v));
    for (int width = 1; width <= 20; ++width) {
      std::string want = expected(width, v);
      if (want.size() > static_cast<size_t>(width)) continue;  // does not fit: outside the contract
      ASSERT_EQ(fixed(width, v), want) << v;
    }
  }
  // Sixteen digits with the count of '0' characters at their end.
  for (uint64_t v : values) {
    if (v >= 10000000000000000ULL) continue;
    std::string want = expected(16, v);
    char text[16];
    int zeros = detail::put_sixteen_digits(text, v);
    ASSERT_EQ(std::string(text, 16), want);
    ASSERT_EQ(zeros, static_cast<int>(want.size() - 1 - want.find_last_not_of('0'))) << want;
  }
  // Every value of each four-digit group of eight digits.
  for (uint32_t v = 0; v < 10000; ++v) {
    ASSERT_EQ(fixed(8, v), expected(8, v));
    ASSERT_EQ(fixed(8, v * 10000ULL + 9999 - v), expected(8, v * 10000ULL + 9999 - v));
  }
}

TEST(Digits, GetDigitsAndHex) {
  EXPECT_EQ(get_digits("0042", 4), 42u);
  EXPECT_EQ(get_digits("9999", 4), 9999u);
  EXPECT_EQ(get_hex_digits("1f", 2), 31u);
  EXPECT_EQ(get_hex_digits("A0", 2), 160u);
  EXPECT_EQ(read_number_field("  12x4", 6), 12u);
  EXPECT_EQ(read_number_field("     ", 5), 0u);
  EXPECT_EQ(read_number_field("abc", 3), 0u);
}

TEST(Digits, SignedDigits) {
  struct Case {
    int32_t value;
    int width;
    const char* text;
    bool round_trips;
  } cases[] = {{-42, 4, "-0042", true},
               {7, 10, "0000000007", true},
               {-7, 10, "-0000000007", true},
               {123456, 3, "123", false},
               {INT32_MIN, 10, "-2147483648", true}};
  for (auto& c : cases) {
    char buf[16] = {};
    int n = put_signed_digits(buf, c.width, c.value);
    EXPECT_EQ(std::string(buf, n), c.text);
    int32_t back = 0;
    EXPECT_EQ(get_signed_digits(buf, c.width, back), n);
    if (c.round_trips) {
      EXPECT_EQ(back, c.value);
    }
  }
  int16_t s = 0;
  EXPECT_EQ(get_signed_digits16("-00300", 5, s), 6);
  EXPECT_EQ(s, -300);
  char buf[8];
  EXPECT_EQ(put_signed_digits16(buf, 5, -32768), 6);
  EXPECT_EQ(std::string(buf, 6), "-32768");
}

TEST(Digits, PutDigits32IsPrintfZeroPadded) {
  char buf[8];
  put_digits32(buf, 4, 17);
  EXPECT_EQ(std::string(buf, 4), "0017");
  put_digits32(buf, 4, -5);
  EXPECT_EQ(std::string(buf, 4), "-005");
  put_digits32(buf, 2, 12345);
  EXPECT_EQ(std::string(buf, 2), "12");
  // Against the C library's own reading of the format, at the extremes.
  for (int32_t v : {0, -1, 9, -10, 99999, INT32_MAX, INT32_MIN}) {
    for (int width : {1, 2, 5, 10, 11, 12}) {
      char mine[16], theirs[32];
      std::snprintf(theirs, sizeof theirs, "%0*ld", width, static_cast<long>(v));
      put_digits32(mine, width, v);
      EXPECT_EQ(std::string(mine, static_cast<size_t>(width)), std::string(theirs).substr(0, static_cast<size_t>(width)))
          << v << " in " << width;
    }
  }
}

TEST(Digits, HexDigitsBothWays) {
  char buf[4];
  for (uint32_t v : {0u, 9u, 0xabcu, 0xffffu}) {
    put_hex_digits(buf, 4, v);
    char theirs[8];
    std::snprintf(theirs, sizeof theirs, "%4.4x", v);
    EXPECT_EQ(std::string(buf, 4), theirs);
    EXPECT_EQ(get_hex_digits(buf, 4), v);
  }
}

TEST(Digits, WriteDecimalAndLongValuesCut) {
  struct Case {
    int64_t value;
    const char* text;
  } cases[] = {{0, "0"},         {9, "9"},           {10, "10"},
               {-1, "-1"},       {99, "99"},         {100, "100"},
               {1234567, "1234567"},  {-7654321, "-7654321"},
               {12345678, "12345678"}, {99999999, "99999999"}, {100000000, "100000000"},
               {-123456789, "-123456789"},           {INT64_MAX, "9223372036854775807"},
               {INT64_MIN, "-9223372036854775808"}};
  for (const Case& c : cases) {
    char buf[kDecimalTextMax];
    EXPECT_EQ(std::string(buf, static_cast<size_t>(write_decimal(buf, c.value))), c.text);
  }
  char buf[kDecimalTextMax];
  EXPECT_EQ(std::string(buf, static_cast<size_t>(write_decimal(buf, UINT64_MAX))), "18446744073709551615");
  // A field narrower than the value keeps its leading digits.
  EXPECT_EQ(put(3, UINT64_MAX), "184");
  EXPECT_EQ(put(19, UINT64_MAX), "1844674407370955161");
  EXPECT_EQ(put(22, UINT64_MAX), "0018446744073709551615");
}

TEST(Digits, ScaledDecimal) {
  struct Case {
    int32_t value;
    int scale;
    bool keep;
    const char* text;
  } cases[] = {
      {-5, 2, true, "-0.05"},   {1200, 3, false, "1.2"},  {1000, 3, false, "1"},    {0, 2, true, "0.00"},
      {0, 2, false, "0"},       {12345, 2, true, "123.45"}, {1200, 2, true, "12.00"}, {1200, 2, false, "12"},
      {-7, 2, true, "-0.07"},   {42, 0, true, "42"},       {INT32_MIN, 0, true, "-2147483648"},
      {INT32_MIN, 9, true, "-2.147483648"},
  };
  for (auto& c : cases) {
    char buf[40];
    int n = format_scaled_decimal(buf, c.value, c.scale, c.keep);
    EXPECT_STREQ(buf, c.text) << c.value << " scale " << c.scale;
    EXPECT_EQ(n, static_cast<int>(std::string(c.text).size()));
  }
}

TEST(Digits, GeneralFormatWithFifteenDigits) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {{1234, "1234."},         {0.5, "0.5"},       {1e20, "1.e+020"},         {125, "125."},
               {0.0, "0."},             {-2.5, "-2.5"},     {0.1, "0.1"},              {0.05, "5.e-002"},
               {1.0 / 3, "0.333333333333333"}, {999999999999999.0, "999999999999999."},
               {1e15, "1.e+015"},       {123456789.125, "123456789.125"}};
  for (auto& c : cases) EXPECT_EQ(format_general15(c.value).value_or("none"), c.text) << c.value;
  EXPECT_FALSE(format_general15(1.0 / 0.0).has_value());
}

TEST(Digits, FormatDouble) {
  char buf[32];
  format_double(buf, 2.5);
  EXPECT_STREQ(buf, "2.5");
  format_double(buf, 0.0);
  EXPECT_STREQ(buf, "0.e+000");
  format_double(buf, -1e-7);
  EXPECT_STREQ(buf, "-1.e-007");
  format_double(buf, -1.0 / 0.0);
  EXPECT_STREQ(buf, "-inf");
}

}  // namespace
}  // namespace quarl
