#include "driver/codec/sql_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quarl::codec {
namespace {

TEST(SqlText, CleanUp) {
  struct Case {
    const char* in;
    SQLINTEGER length;
    const char* out;
  } cases[] = {
      {"  select * from SELECT a from t;", SQL_NTS, "SELECT a from t"},
      {"SELECT * FROM select x", SQL_NTS, "select x"},
      {"select * from t", SQL_NTS, "select * from t"},  // only the doubled form loses its head
      {"select * from selectx", SQL_NTS, "selectx"},     // 20 characters compared, no word boundary
      {"select 1;;", SQL_NTS, "select 1;"},               // one final ';' only
      {"select 1; ", SQL_NTS, "select 1; "},              // ';' must be the last character
      {"\tselect 1", SQL_NTS, "\tselect 1"},              // only spaces are skipped
      {"   ", SQL_NTS, ""},
      {";", SQL_NTS, ""},
      {"select 1;xyz", 9, "select 1"},  // an explicit length wins over the terminator
      {"abc", 0, ""},
  };
  for (const Case& c : cases) {
    CleanText t = clean_sql_text(c.in, c.length);
    EXPECT_FALSE(t.diag) << c.in;
    EXPECT_EQ(std::string(t.text), c.out) << c.in;
  }
  EXPECT_EQ(clean_sql_text(nullptr, SQL_NTS).text.size(), 0u);
  CleanText bad = clean_sql_text("x", -7);
  ASSERT_TRUE(bad.diag);
  EXPECT_EQ(bad.diag->index, kErrArgument);
}

TEST(SqlText, ControlBytesBecomeBlanksUtf8Stays) {
  std::string in = std::string("a\tb\x01") + "\x7f" + "'Zo\xC3\xAB'" + "\x1f~ z";
  std::string out(in.size(), '?');
  copy_blanking_controls(out.data(), in.data(), in.size());
  EXPECT_EQ(out, std::string("a b ") + "\x7f" + "'Zo\xC3\xAB'" + " ~ z");
}

}  // namespace
TEST(SqlText, ParameterMarkersOutsideLiteralsNamesAndComments) {
  struct Case {
    const char* text;
    std::optional<size_t> markers;
  } cases[] = {
      {"select 1", 0},
      {"insert into t values (?, ?, ?)", 3},
      {"select '?', \"a?\", `b?`, [c?] from t where x = ? -- ?\n and y = ? /* ? */", 2},
      {"select 'it''s ?' || ?", 1},
      {"select 'unterminated ?", 0},
      {"select ?1, ?2", std::nullopt},
      {"select :name", std::nullopt},
      {"select @x, $y", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(count_parameter_markers(c.text), c.markers) << c.text;
}

}  // namespace quarl::codec
