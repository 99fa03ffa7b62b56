// The Host Server's pure wire pieces: envelope, error items, login texts,
// describe replies, row wire forms and parameter entries.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "hostserver/describe.h"
#include "hostserver/envelope.h"
#include "hostserver/long_values.h"
#include "hostserver/login_guard.h"
#include "hostserver/params.h"
#include "hostserver/row_encoder.h"
#include "hostserver/type_mapping.h"
#include "hostserver/users.h"

namespace hs = hostserver;

namespace {

TEST(Envelope, FramesAreSortedIntoRequestsAndMisfits) {
  auto ok = hs::parse_frame("\r\n#@!70210090005hello");
  ASSERT_EQ(ok.kind, hs::FrameKind::Request);
  EXPECT_EQ(ok.request.sequence, '7');
  EXPECT_EQ(ok.request.sub_id, 2u);
  EXPECT_EQ(ok.request.type, 1u);
  EXPECT_EQ(ok.request.code, 9u);
  EXPECT_EQ(ok.request.data, "hello");

  struct Case {
    std::string frame;
    hs::FrameKind kind;
  } cases[] = {
      {"login: DEMO", hs::FrameKind::Foreign},
      {"", hs::FrameKind::Foreign},
      {"#@!1", hs::FrameKind::Malformed},
      {"#@!1xx10000000", hs::FrameKind::Malformed},
      {"#@!1010000005abc", hs::FrameKind::BadLength},  // says 5, brings 3
      {"#@!1010000001abc", hs::FrameKind::BadLength},  // says 1, brings 3
      {"#@!101000000zabc", hs::FrameKind::BadLength},
  };
  for (auto& c : cases) EXPECT_EQ(hs::parse_frame(c.frame).kind, c.kind) << c.frame;
}

TEST(Envelope, ErrorItemsAlwaysFitTheMessage) {
  hs::ErrorItems items;
  items.add(15, "near \"x\": syntax error").add(3, std::string(500, 'e'));
  EXPECT_EQ(items.reply_data('9', 1000), "900150022near \"x\": syntax error00030500" + std::string(500, 'e') + "0000");
  std::string cut = items.reply_data('9', 100);
  EXPECT_EQ(cut.size(), 100u);
  EXPECT_EQ(cut.substr(0, 35), "900150022near \"x\": syntax error0003");
  EXPECT_EQ(cut.substr(35, 4), "0057");  // shortened to what was left
  EXPECT_EQ(cut.substr(96), "0000");
  EXPECT_EQ(hs::error_reply_data(0, "x", 100), "900030001x0000");  // index 0 would end the list
}

TEST(Users, FileAndLoginTexts) {
  std::string error;
  auto users = hs::Users::parse("# staff\n\nsmith : Se.cr:et\r\nJONES:pw\n", error);
  ASSERT_TRUE(users) << error;
  hs::LoginText who;
  struct Case {
    const char* text;
    bool accepted;
    const char* user;
  } cases[] = {
      {"SMITH/SE.CR:ET.QUARL/CLIENTCONFIG.", true, "SMITH"},  // a '.' inside the password
      {"SMITH/SE.CR:ET/CHARGE1.CFG.", true, "SMITH"},
      {"JONES/PW.", true, "JONES"},  // the RPC library's form
      {"JONES/PX.CFG.", false, ""},
      {"JONES.CFG.", false, ""},
      {"NOBODY/PW.CFG.", false, ""},
      {"JONES/PW", false, ""},
      {"", false, ""},
      {"JONES/PW/CHARGE.CFG.WITH.DOTS.", true, "JONES"},
      {"JONES/PWX.CFG.", false, ""},  // the stored password is only a prefix
  };
  for (auto& c : cases) {
    EXPECT_EQ(hs::login_matches(*users, c.text, who), c.accepted) << c.text;
    if (c.accepted) {
      EXPECT_EQ(who.user, c.user);
    }
  }
  EXPECT_TRUE(hs::login_matches(hs::Users::demo(), "DEMO/DEMO.QUARL/CLIENTCONFIG.", who));
  EXPECT_EQ(who.config, "QUARL/CLIENTCONFIG");
  // A text of nearly 10000 dots is read once, not once per dot.
  EXPECT_FALSE(hs::login_matches(hs::Users::demo(), "DEMO/" + std::string(9990, '.'), who));
  EXPECT_TRUE(hs::login_matches(hs::Users::demo(), "DEMO/DEMO" + std::string(9990, '.'), who));
  EXPECT_FALSE(hs::Users::parse("nopassword\n", error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
  EXPECT_FALSE(hs::Users::parse("ok:fine\nsmith:a/b\n", error));  // a '/' would start the charge code
  EXPECT_NE(error.find("line 2"), std::string::npos);
}

TEST(LoginGuard, FailuresAreSlowedThenCutOffPerConnectionAndAddress) {
  using namespace std::chrono;
  hs::LoginPolicy policy;
  policy.per_address = 3;
  policy.lockout = seconds(30);
  hs::LoginGuard guard(policy);
  EXPECT_EQ(guard.delay(1), milliseconds(250));
  EXPECT_EQ(guard.delay(2), milliseconds(500));
  EXPECT_EQ(guard.delay(3), milliseconds(1000));
  EXPECT_EQ(guard.delay(40), milliseconds(4000));
  EXPECT_FALSE(guard.connection_spent(2));
  EXPECT_TRUE(guard.connection_spent(3));

  auto t0 = hs::LoginGuard::Clock::time_point{} + hours(1);
  EXPECT_FALSE(guard.record_failure("10.0.0.1", t0));
  EXPECT_FALSE(guard.record_failure("10.0.0.2", t0));
  EXPECT_FALSE(guard.record_failure("10.0.0.1", t0 + seconds(1)));
  EXPECT_TRUE(guard.record_failure("10.0.0.1", t0 + seconds(2)));  // the third within the window
  EXPECT_EQ(guard.locked_for("10.0.0.1", t0 + seconds(2)), seconds(30));
  EXPECT_EQ(guard.locked_for("10.0.0.2", t0 + seconds(2)), seconds(0));
  EXPECT_EQ(guard.locked_for("10.0.0.1", t0 + seconds(32)), seconds(0));  // the lockout ends
  // Failures further apart than the window do not add up.
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(guard.record_failure("10.0.0.3", t0 + minutes(i)));
  // The table of addresses stays bounded, and keeps a locked-out address.
  for (size_t i = 0; i < hs::LoginGuard::kMaxAddresses + 10; ++i)
    guard.record_failure("192.168." + std::to_string(i / 256) + "." + std::to_string(i % 256), t0 + seconds(3));
  guard.record_failure("10.0.0.4", t0 + seconds(3));
  for (int i = 0; i < 3; ++i) guard.record_failure("10.0.0.5", t0 + seconds(3));
  EXPECT_GT(guard.locked_for("10.0.0.5", t0 + seconds(4)), seconds(0));
}

TEST(Describe, ItemsPerCodeAndContinuationMessages) {
  std::vector<hs::ColumnShape> columns(3);
  columns[0] = {"ID", hs::HostType::Integer, 10, 0, false};
  columns[1] = {"FLAG", hs::HostType::Bit, 1, 0, true};
  columns[2] = {std::string(120, 'n'), hs::HostType::Numeric, 7, 2, true};
  auto exec = hs::describe_reply(9, 12, columns, 0, 4000);
  ASSERT_EQ(exec.size(), 1u);
  EXPECT_EQ(exec[0], "000000000120003" "02ID040010000" "04FLAG-070001001" "99" + std::string(99, 'n') + "020007021");
  EXPECT_EQ(hs::describe_reply(10, -1, {columns[0]}, 2, 4000)[0], "000010002" "02ID040010000");
  EXPECT_EQ(hs::describe_reply(11, -1, columns, 0, 4000), std::vector<std::string>{"0-0000000001"});
  EXPECT_EQ(hs::describe_reply(3, -1, {}, 0, 4000), std::vector<std::string>{"00000"});
  // A small message: items are never split, the rest follows in more messages.
  columns[2].name = "N";
  auto split = hs::describe_reply(6, -1, columns, 0, 33);
  EXPECT_EQ(split, (std::vector<std::string>{"00003" "02ID040010000", "04FLAG-070001001" "01N020007021"}));
}

// ---- row wire forms ----

hs::CellView integer(int64_t v) { return {SQLITE_INTEGER, v, 0, {}}; }
hs::CellView real(double v) { return {SQLITE_FLOAT, 0, v, {}}; }
hs::CellView text(std::string_view v) { return {SQLITE_TEXT, 0, 0, v}; }
const std::string k999(999, 'x'), k1000(1000, 'x'), kBlob("\x01\xAB", 2);
hs::CellView blob(std::string_view v) { return {SQLITE_BLOB, 0, 0, v}; }
hs::CellView null() { return {SQLITE_NULL, 0, 0, {}}; }

hs::ColumnShape shape(const char* declared) {
  hs::ColumnShape s;
  s.name = "C";
  hs::describe_declared(declared, s);
  return s;
}

// The wire form, or "!" when the value is refused.
std::string wire(const hs::ColumnShape& s, const hs::CellView& cell, size_t room = 2000) {
  std::string buffer(room, '\0');
  hs::RowWriter out(buffer.data(), room);
  std::string problem;
  switch (hs::encode_cell(out, s, cell, problem)) {
    case hs::Encoded::Ok: return buffer.substr(0, out.size());
    case hs::Encoded::NoRoom: return "<no room>";
    case hs::Encoded::Bad: return "!";
  }
  return "?";
}

// A value travels only in a form that gives it back exactly; anything else
// is refused ("!").
TEST(RowWireForms, EveryTypeFromEveryStorageClass) {
  const std::string k19 = "9223372036854775807";
  struct Case {
    const char* declared;
    hs::CellView cell;
    std::string expected;
  } cases[] = {
      {"BIT", integer(1), "1"},
      {"BIT", integer(0), "0"},
      {"BIT", text("true"), "1"},
      {"BIT", real(1.0), "1"},
      {"BIT", integer(2), "!"},
      {"BIT", real(0.5), "!"},
      {"BIT", text("maybe"), "!"},
      // Declared lengths count characters: CHAR(n) and VARCHAR(n) travel as
      // VARCHAR of 4n bytes, values as stored (no padding); longer values go
      // whole up to the 999 bytes the form carries.
      {"CHAR(5)", text("ab"), "002ab"},
      {"CHAR(3)", text("\xD0\x96\xD0\x96\xD0\x96"), "006\xD0\x96\xD0\x96\xD0\x96"},
      {"CHAR(6)", text("abcdefgh"), "008abcdefgh"},
      {"CHAR(3)", integer(42), "00242"},
      {"VARCHAR(10)", text("hello"), "005hello"},
      {"VARCHAR(10)", text(""), "000"},
      {"VARCHAR(10)", integer(-7), "002-7"},
      {"VARCHAR(30)", real(0.30000000000000004), "0190.30000000000000004"},
      {"LONGVARCHAR", text(k999), "999" + k999},
      {"LONGVARCHAR", text(k1000), "!"},
      {"VARCHAR(2)", text(k1000), "!"},
      {"BLOB", blob(kBlob), "00401AB"},
      {"VARCHAR(4)", blob(kBlob), std::string("002") + kBlob},
      // NUMERIC(p,s): sign and p digits of value x 10^s; fraction digits past
      // the scale are refused, not rounded.
      {"NUMERIC(7,2)", text("123.45"), "0012345"},
      {"NUMERIC(7,2)", real(-0.07), "-0000007"},
      {"NUMERIC(7,2)", real(123.45), "0012345"},
      {"NUMERIC(7,2)", integer(12), "0001200"},
      {"NUMERIC(7,2)", text("1.005"), "!"},
      {"NUMERIC(7,2)", real(0.1 + 0.2), "!"},
      {"NUMERIC(7,2)", integer(100000), "!"},
      {"NUMERIC(7,2)", text("abc"), "!"},
      {"NUMERIC(18,0)", integer(999999999999999999LL), "999999999999999999"},
      // 64-bit integers: NUMERIC(19,0) on the wire.
      {"INTEGER", integer(7), "0000000000000000007"},
      {"INTEGER", integer(-7), "-0000000000000000007"},
      {"INTEGER", integer(3000000000LL), "0000000003000000000"},
      {"BIGINT", integer(INT64_MAX), k19},
      {"BIGINT", integer(INT64_MIN), "-9223372036854775808"},
      {"BIGINT", real(3.0), "0000000000000000003"},
      {"BIGINT", real(3.5), "!"},
      {"BIGINT", real(1e19), "!"},
      {"BIGINT", text(" 42 "), "0000000000000000042"},
      {"BIGINT", text("42x"), "!"},
      {"MEDIUMINT", integer(2147483647), "2147483647"},
      {"MEDIUMINT", integer(2147483648LL), "!"},
      {"SMALLINT", integer(-32768), "-32768"},
      {"SMALLINT", integer(99999), "!"},
      {"DOUBLE", real(0.1), "030.1"},
      {"DOUBLE", real(1e20), "051e+20"},
      {"DOUBLE", real(-0.0), "02-0"},
      {"DOUBLE", real(5e-324), "065e-324"},
      {"DOUBLE", real(std::numeric_limits<double>::infinity()), "03inf"},
      {"DOUBLE", integer(9007199254740993LL), "169007199254740993"},
      {"DOUBLE", text("12.50"), "0412.5"},
      {"DOUBLE", text("twelve"), "!"},
      {"DATE", text("1999-12-31"), "19991231"},
      {"DATE", text("2024-02-29 00:00:00"), "20240229"},
      {"DATE", text("2024-02-29 10:00:00"), "!"},
      {"DATE", text("2023-02-29"), "!"},
      {"DATE", text("not a date"), "!"},
      {"DATE", integer(20240101), "!"},
      {"TIME", text("23:59:59"), "235959"},
      {"TIME", text("07:30"), "073000"},
      {"TIME", text("08:09:10.5"), "!"},
      {"TIME", text("1999-12-31 08:09:10"), "!"},
      {"TIME", text("25:00:00"), "!"},
      {"TIMESTAMP", text("1999-12-31 23:59:59.6"), "19991231235959600000000"},
      {"TIMESTAMP", text("2024-01-02T03:04:05.123456789000Z"), "20240102030405123456789"},
      {"TIMESTAMP", text("2024-01-02T03:04:05.1234567891Z"), "!"},
      {"TIMESTAMP(3)", text("2024-01-02 03:04:05.123"), "20240102030405123000000"},
      {"TIMESTAMP(3)", text("2024-01-02 03:04:05.1234"), "!"},
      {"TIMESTAMP", text("2024-01-02"), "20240102000000000000000"},
      {"TIMESTAMP", text("2024-01-02 03:04:05+02:00"), "!"},
      {"INTEGER", null(), "N"},
      {"CHAR(4)", null(), "N"},
  };
  for (auto& c : cases) EXPECT_EQ(wire(shape(c.declared), c.cell), c.expected) << c.declared << " " << c.expected;
}

TEST(RowWireForms, ARefusalNamesValueColumnAndType) {
  std::string buffer(100, '\0');
  hs::RowWriter out(buffer.data(), buffer.size());
  std::string problem;
  hs::ColumnShape s = shape("SMALLINT");
  s.name = "qty";
  ASSERT_EQ(hs::encode_cell(out, s, integer(99999), problem), hs::Encoded::Bad);
  EXPECT_EQ(problem, "Value 99999 of column qty does not fit its type SMALLINT: out of range");
  s = shape("VARCHAR(6)");
  s.name = "city";
  std::string long_text;
  for (int i = 0; i < 30; ++i) long_text += "\xD0\x96";  // 60 bytes of Cyrillic
  long_text += std::string(1000, 'x');
  ASSERT_EQ(hs::encode_cell(out, s, text(long_text), problem), hs::Encoded::Bad);
  // The value is shown cut at a character boundary.
  EXPECT_EQ(problem.substr(0, 51), "Value '" + std::string(long_text, 0, 40) + "...'");
  EXPECT_NE(problem.find("of column city does not fit its type VARCHAR(24)"), std::string::npos) << problem;
}

TEST(RowWireForms, NothingIsWrittenPastTheArea) {
  EXPECT_EQ(wire(shape("VARCHAR(10)"), text("hello"), 7), "<no room>");
  EXPECT_EQ(wire(shape("CHAR(5)"), text("ab"), 4), "<no room>");
  EXPECT_EQ(wire(shape("INTEGER"), integer(-1), 19), "<no room>");
  EXPECT_EQ(wire(shape("INTEGER"), null(), 0), "<no room>");
}

// Values read from SQLite go the direct way when their storage class is the
// column's usual one; the bytes (and refusals, and the want of room) must be
// those of the general encoders for every value, in every room.
TEST(RowWireForms, DirectWaysWriteWhatTheGeneralEncodersWrite) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const std::vector<std::string> values = {
      "NULL", "0", "-1", "7", "99999999", "100000000", "2147483647", "2147483648", "-2147483648", "-2147483649",
      "32767", "-32769", "9223372036854775807", "-9223372036854775808", "944157247", "0.0", "-0.0", "0.1", "-0.1",
      "12.5", "47346.95", "167.60709647198445", "1e300", "-1e-300", "5e-324", "2.2250738585072014e-308",
      "4.9406564584124654e-320", "123456789012345.6", "1e15", "0.30000000000000004", "9e999", "-9e999", "3.0", "''",
      "'a'", "'hello'", "'2024-02-29'", "'2023-02-29'", "'1999-12-31'", "'0000-01-01'", "'9999-12-31'",
      "'2024-13-01'", "'2024-00-10'", "'2024-01-32'", "'2024-1-011'", "'2024/01/01'", "'20240101  '",
      "' 2024-01-01'", "'2024-01-01 00:00:00'", "'2O24-01-01'", "'2024-01-0:'", "'12.50'", "' 42 '", "'true'",
      "x'01AB'", "x''", "'" + std::string(999, 'x') + "'", "'" + std::string(1000, 'y') + "'",
      "'" + std::string(44, 'z') + "'", "'" + std::string(45, 'w') + "'"};
  // The values from the one at first on, then those before it.
  auto select = [&](size_t first) {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < values.size(); ++i) sql += (i ? ", " : "") + values[(first + i) % values.size()];
    return sql;
  };
  const std::string sql = select(0);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  hs::WireTypes long_values{true, 100000};
  std::vector<hs::ColumnShape> shapes;
  for (const char* declared : {"BIGINT", "INTEGER", "MEDIUMINT", "SMALLINT", "DOUBLE", "DATE", "VARCHAR(10)",
                               "VARCHAR(44)", "CHAR(1)", "LONGVARCHAR", "TEXT", "BLOB", "NUMERIC(7,2)", "TIME", "BIT"}) {
    shapes.push_back(shape(declared));
    hs::ColumnShape wide = shape(declared);
    hs::apply_wire_types(wide, long_values);
    shapes.push_back(wide);
  }
  auto run = [](auto encode, size_t room) {
    std::string buffer(room + 8, '#');
    hs::RowWriter out(buffer.data(), room);
    std::string problem;
    hs::Encoded result = encode(out, problem);
    std::string tail = buffer.substr(room);
    if (result == hs::Encoded::Ok) return buffer.substr(0, out.size()) + "|" + tail;
    return std::string(result == hs::Encoded::Bad ? "! " + problem : "<no room>") + "|" + tail;
  };
  int direct = 0;
  for (const auto& s : shapes) {
    hs::DirectWay way = hs::direct_way(s);
    if (way.path != hs::ValuePath::General) ++direct;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      sqlite3_value* value = sqlite3_column_value(stmt, c);
      for (size_t room : {size_t{1100}, size_t{0}, size_t{3}, size_t{8}, size_t{19}, size_t{20}, size_t{25}, size_t{47}}) {
        std::string general = run(
            [&](hs::RowWriter& out, std::string& problem) {
              hs::CellView cell = hs::sqlite_cell(value);
              if (!s.long_forms) return hs::encode_cell(out, s, cell, problem);
              bool went_apart = false;
              return hs::encode_long_value(out, s, cell, false, went_apart);
            },
            room);
        std::string direct_way = run(
            [&](hs::RowWriter& out, std::string& problem) { return hs::encode_value(out, s, way, value, problem); },
            room);
        ASSERT_EQ(direct_way, general) << hs::type_name(s.type) << (s.long_forms ? " (long forms)" : "")
                                       << " column " << c << " room " << room;
      }
    }
  }
  EXPECT_GE(direct, 10);  // the direct ways were taken at all

  // Whole rows: with room for the most the direct ways write, values go
  // unchecked until one leaves them; the bytes, refusals and wants of room
  // are still those of the general encoders, value after value.  Rows of
  // one shape and rows of mixed shapes, beginning at every few values, in
  // rooms around that most.
  const size_t columns = values.size();
  std::vector<std::vector<hs::ColumnShape>> rows;
  for (const auto& s : shapes) rows.emplace_back(columns, s);
  for (size_t offset = 0; offset < shapes.size(); offset += 3) {
    std::vector<hs::ColumnShape> mixed;
    for (size_t c = 0; c < columns; ++c) mixed.push_back(shapes[(c + offset) % shapes.size()]);
    rows.push_back(std::move(mixed));
  }
  for (size_t first = 0; first < values.size(); first += 4) {
    sqlite3_stmt* rotated = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, select(first).c_str(), -1, &rotated, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(rotated), SQLITE_ROW);
    for (const auto& row : rows) {
      std::vector<hs::DirectWay> ways;
      for (const auto& s : row) ways.push_back(hs::direct_way(s));
      for (size_t count : {columns, size_t{1}, size_t{4}}) {
        const size_t most = hs::direct_row_most(ways.data(), count);
        for (size_t room : {most, most + 1, most - (most > 0), most / 2, size_t{100000}}) {
          std::string general = run(
              [&](hs::RowWriter& out, std::string& problem) {
                for (size_t c = 0; c < count; ++c) {
                  hs::CellView cell = hs::sqlite_cell(sqlite3_column_value(rotated, static_cast<int>(c)));
                  bool went_apart = false;
                  hs::Encoded result = row[c].long_forms
                                           ? hs::encode_long_value(out, row[c], cell, false, went_apart)
                                           : hs::encode_cell(out, row[c], cell, problem);
                  if (result != hs::Encoded::Ok) return result;
                }
                return hs::Encoded::Ok;
              },
              room);
          std::string direct_way = run(
              [&](hs::RowWriter& out, std::string& problem) {
                return hs::encode_values(out, row.data(), ways.data(), count, most, rotated, problem);
              },
              room);
          ASSERT_EQ(direct_way, general) << hs::type_name(row[0].type) << " row from value " << first << " of "
                                         << count << ", room " << room;
        }
      }
    }
    sqlite3_finalize(rotated);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

// ---- parameter entries ----

TEST(ParamEntries, EveryTypeAndMalformedEntries) {
  std::string data = std::string("0001") + "04" + "0010" + "00" + "0" + "-0000000007" +  // INTEGER
                     "0002" + "-07" + "0001" + "00" + "0" + "1" +                       // BIT
                     "0003" + "12" + "0255" + "00" + "0" + "003abc" +                   // VARCHAR
                     "0004" + "02" + "0007" + "02" + "0" + "04125." +                   // NUMERIC
                     "0005" + "08" + "0015" + "00" + "0" + "041.e5" +                   // DOUBLE
                     "0006" + "09" + "0010" + "00" + "0" + "19991231" +                 // DATE
                     "0007" + "10" + "0008" + "00" + "0" + "235959" +                   // TIME
                     "0008" + "11" + "0029" + "09" + "0" + "19991231235959000500000" +  // TIMESTAMP
                     "0009" + "03" + "0010" + "00" + "1" +                              // NULL of any type
                     "0010" + "05" + "0005" + "00" + "0" + "-00042" + "SELECT";        // SMALLINT, then the text
  std::vector<hs::ParamEntry> entries;
  size_t used = 0;
  std::string problem;
  ASSERT_TRUE(hs::parse_param_entries(data, 10, entries, used, problem)) << problem;
  EXPECT_EQ(data.substr(used), "SELECT");
  ASSERT_EQ(entries.size(), 10u);
  EXPECT_EQ(entries[0].value, "-0000000007");
  EXPECT_EQ(entries[1].sql_type, -7);
  EXPECT_EQ(entries[2].value, "abc");
  EXPECT_EQ(entries[3].scale, 2u);
  EXPECT_TRUE(entries[8].null);
  EXPECT_EQ(entries[9].value, "-00042");

  // Bound into SQLite they read back as SQLite would store them.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT quote(?1),quote(?2),quote(?3),quote(?4),quote(?5),quote(?6),quote(?7),"
                                   "quote(?8),quote(?9),quote(?10)",
                               -1, &stmt, nullptr),
            SQLITE_OK);
  ASSERT_TRUE(hs::bind_params(stmt, entries, problem)) << problem;
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  std::vector<std::string> got;
  for (int i = 0; i < 10; ++i) got.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)));
  EXPECT_EQ(got, (std::vector<std::string>{"-7", "1", "'abc'", "1.25", "100000.0", "'1999-12-31'", "'23:59:59'",
                                           "'1999-12-31 23:59:59.0005'", "NULL", "-42"}));
  // A marker without a value is refused; extra entries are ignored.
  sqlite3_finalize(stmt);
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT ?1, ?12", -1, &stmt, nullptr), SQLITE_OK);
  EXPECT_FALSE(hs::bind_params(stmt, entries, problem));
  EXPECT_NE(problem.find("12"), std::string::npos);
  sqlite3_finalize(stmt);

  // Numbers are read exactly: 64-bit integers stay integers, doubles keep
  // every digit; dates that do not exist are refused.
  struct Exact {
    std::string entry;
    const char* quoted;  // "!" when refused
  } exact[] = {
      {std::string("0001") + "02" + "0019" + "00" + "0" + "199223372036854775807", "9223372036854775807"},
      {std::string("0001") + "02" + "0019" + "00" + "0" + "20-9223372036854775808", "-9223372036854775808"},
      {std::string("0001") + "02" + "0010" + "02" + "0" + "0512345", "123.45"},
      {std::string("0001") + "08" + "0015" + "00" + "0" + "190.30000000000000004", "0.30000000000000004"},
      {std::string("0001") + "08" + "0015" + "00" + "0" + "05-0.25", "-0.25"},
      {std::string("0001") + "02" + "0010" + "00" + "0" + "03abc", "!"},
      {std::string("0001") + "09" + "0010" + "00" + "0" + "20230229", "!"},
      {std::string("0001") + "10" + "0008" + "00" + "0" + "240000", "!"},
      {std::string("0001") + "11" + "0029" + "09" + "0" + "20240229235959999999999", "'2024-02-29 23:59:59.999999999'"},
  };
  for (auto& e : exact) {
    entries.clear();
    ASSERT_TRUE(hs::parse_param_entries(e.entry, 1, entries, used, problem)) << e.entry << ": " << problem;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT CASE typeof(?1) WHEN 'real' THEN printf('%!.17g', ?1) ELSE quote(?1) END",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    if (std::string(e.quoted) == "!") {
      EXPECT_FALSE(hs::bind_params(stmt, entries, problem)) << e.entry;
    } else {
      ASSERT_TRUE(hs::bind_params(stmt, entries, problem)) << problem;
      ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
      std::string got = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      if (got.find('.') != std::string::npos && got[0] != '\'') got = quarl::double_text(std::stod(got));
      EXPECT_EQ(got, e.quoted) << e.entry;
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);

  struct Bad {
    const char* what;
    std::string data;
  } bad[] = {
      {"cut header", "000104001"},
      {"letters", "000A04001000"},
      {"value runs past the end", std::string("0001") + "12" + "0010" + "00" + "0" + "010abc"},
      {"type without a wire form", std::string("0001") + "03" + "0010" + "00" + "0" + "5"},
      {"parameter number 0", std::string("0000") + "04" + "0010" + "00" + "1"},
      {"null flag 2", std::string("0001") + "04" + "0010" + "00" + "2"},
  };
  for (auto& b : bad) {
    entries.clear();
    EXPECT_FALSE(hs::parse_param_entries(b.data, 1, entries, used, problem)) << b.what;
  }
}

}  // namespace
