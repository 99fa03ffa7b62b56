// The ODBC convenience calls through unixODBC with a private configuration,
// against two real drivers: the SQLite ODBC driver on a SQLite file, and
// Quarl over quarl-hostserver on a SQLite file.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "tests/rpc/rpc_library.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;
using rpctest::rtrim;

enum class Backend { Sqlite, Quarl };
void PrintTo(Backend b, std::ostream* os) { *os << (b == Backend::Sqlite ? "SQLite" : "Quarl"); }

constexpr const char* kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

class OdbcCalls : public ::testing::TestWithParam<Backend> {
 protected:
  // One configuration for the whole suite: the driver manager remembers the
  // configuration folders of the first connection in a process.
  static void SetUpTestSuite() {
    shared_config = new testsupport::OdbcConfig;
    shared_config->add_driver("SQLite3", {{"Driver", kSqliteDriver}});
  }
  static void TearDownTestSuite() {
    delete shared_config;
    shared_config = nullptr;
  }

  void SetUp() override {
    database = (dir / "items.db").string();
    auto made = testsupport::run_command(
        "sqlite3 '" + database +
        "' \"create table items(id integer, name varchar(5), code varchar(3), note text);"
        " insert into items values (1, 'ab', 'xyz', null), (2, 'abcde', 'q', 'long'), (3, null, 'c', 'n');\"");
    ASSERT_EQ(made.status, 0) << made.output;
    // Each test adds its own data source.
    static int sources = 0;
    dsn = "DB" + std::to_string(++sources);
    if (GetParam() == Backend::Sqlite) {
      config.add_dsn(dsn, {{"Driver", "SQLite3"}, {"Database", database}});
    } else {
      server = std::make_unique<testsupport::HostServer>(std::vector<std::string>{"--database", database});
      config.add_dsn(dsn, {{"Provider", "TCP/IP"}, {"Connection", server->address()}, {"UID", "DEMO"},
                           {"PWD", quarl::scramble("DEMO")}});
    }
  }
  void TearDown() override {
    lib.call("ODBCDisconnect", "", 1);
    lib.call("ODBCSetOptions", "FIXED TAB", 10);
    lib.call("EnableSpecialCh", "", 1);
    lib.call("SetSpecialChar", "TAB,@", 6);
  }

  // A call that must succeed: its buffer less trailing blanks.
  std::string ok(const char* name, const std::string& text, int length = 200) {
    std::string out = lib.call(name, text, length);
    EXPECT_NE(out.substr(0, 5), "*****") << name << " " << text << ": " << lib.error();
    return rtrim(out);
  }
  // A call that must fail: its message.
  std::string fails(const char* name, const std::string& text, int length = 200) {
    EXPECT_EQ(lib.call(name, text, length), padded("*****", size_t(length))) << name << " " << text;
    return lib.error();
  }
  void connect() { ok("ODBCConnect", dsn); }

  static inline testsupport::OdbcConfig* shared_config = nullptr;
  testsupport::TempDir dir;
  testsupport::OdbcConfig& config = *shared_config;
  std::unique_ptr<testsupport::HostServer> server;
  std::string database, dsn;
  rpctest::RpcLibrary lib;
};

TEST_P(OdbcCalls, ConnectingByNameOrConnectionStringAndTheNotConnectedFailures) {
  for (const char* op : {"ODBCDisconnect", "ODBCExecute", "ODBCFetch", "ODBCTables", "ODBCColumns",
                         "ODBCColAttributes"})
    EXPECT_EQ(fails(op, "select 1"), "You are not connected to an ODBC Datasource") << op;
  EXPECT_EQ(ok("ODBCSetOptions", "tab"), "tab");  // needs no connection

  EXPECT_EQ(lib.call("ODBCConnect", dsn, 60), padded(dsn, 60));  // the buffer is kept
  EXPECT_EQ(fails("ODBCConnect", dsn), "You are already connected to an ODBC Datasource");
  ok("ODBCDisconnect", "");
  ok("ODBCConnect", "dsN=" + dsn + (GetParam() == Backend::Quarl ? ";UID=demo;PWD=demo" : ""));
  EXPECT_EQ(ok("ODBCExecute", "select count(*) from items"), "count(*)@");
  ok("ODBCDisconnect", "");

  std::string message = fails("ODBCConnect", "NO_SUCH_SOURCE");
  EXPECT_NE(message.find("not found"), std::string::npos) << message;
  EXPECT_EQ(fails("ODBCExecute", "select 1"), "You are not connected to an ODBC Datasource");
}

TEST_P(OdbcCalls, RowCountsAndColumnNames) {
  connect();
  EXPECT_EQ(lib.call("ODBCExecute", "update items set code = 'x' where id >= 2", 50), padded("2", 50));
  EXPECT_EQ(ok("ODBCExecute", "delete from items where id = 99"), "0");
  EXPECT_EQ(lib.call("ODBCExecute", "   SELECT id, name AS label, code FROM items", 50),
            padded("id@label@code@", 50));
  EXPECT_EQ(fails("ODBCExecute", "     "), "Empty SQL string");
  EXPECT_FALSE(fails("ODBCExecute", "select nothing from nowhere").empty());
  // Every name with its separator must fit: 36 bytes here.
  EXPECT_EQ(fails("ODBCExecute", "select *, * from items", 35), "Not enough room for all column names in buffer");
  EXPECT_EQ(ok("ODBCExecute", "select *, * from items", 36).size(), 36u);
}

TEST_P(OdbcCalls, FixedAndVariableLayoutsWithAndWithoutSeparator) {
  connect();
  ASSERT_EQ(ok("ODBCExecute", "select name, code from items order by id"), "name@code@");
  // The fixed layout follows the display sizes (5 and 3 with SQLite).
  size_t name_width = std::stoul(ok("ODBCColAttributes", "1, SQL_COLUMN_DISPLAY_SIZE"));
  size_t code_width = std::stoul(ok("ODBCColAttributes", "2 SQL_COLUMN_DISPLAY_SIZE"));
  if (GetParam() == Backend::Sqlite) {
    EXPECT_EQ(name_width, 5u);
    EXPECT_EQ(code_width, 3u);
  }
  auto fixed = [&](const std::string& a, const std::string& b) {
    return padded(a, name_width) + "@" + padded(b, code_width) + "@";
  };
  size_t row_length = name_width + code_width + 2;
  EXPECT_EQ(lib.call("ODBCFetch", "", int(row_length) + 3), padded(fixed("ab", "xyz"), row_length + 3));
  EXPECT_EQ(lib.call("ODBCFetch", "", int(row_length)), fixed("abcde", "q"));  // an exact fit
  ok("ODBCExecute", "select name, code from items order by id");
  EXPECT_EQ(fails("ODBCFetch", "", int(row_length) - 1), "Not enough room for all column data in buffer");
  ok("ODBCFetch", "");
  EXPECT_EQ(ok("ODBCFetch", ""), rtrim(fixed("", "c")));  // NULL is blank
  EXPECT_EQ(fails("ODBCFetch", ""), "EOF");

  const struct {
    const char* options;
    bool special;
    std::vector<std::string> rows;
  } cases[] = {
      {"variable", true, {"ab@xyz@", "abcde@q@", " @c@"}},
      {"VARIABLE, notab", true, {"abxyz", "abcdeq", " c"}},
      {" Variable TAB ", false, {"ab\txyz\t", "abcde\tq\t", " \tc\t"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    ok("ODBCSetOptions", c.options);
    lib.call(c.special ? "EnableSpecialCh" : "DisableSpecialCh", "", 1);
    ok("ODBCExecute", "select name, code from items order by id");
    for (const auto& row : c.rows) EXPECT_EQ(ok("ODBCFetch", ""), row);
    EXPECT_EQ(fails("ODBCFetch", ""), "EOF");
  }
  // The separator follows the "TAB" special character, names included.
  lib.call("EnableSpecialCh", "", 1);
  lib.call("SetSpecialChar", "tab,|", 6);
  EXPECT_EQ(ok("ODBCExecute", "select name, code from items where id = 1"), "name|code|");
  EXPECT_EQ(ok("ODBCFetch", ""), "ab|xyz|");
}

TEST_P(OdbcCalls, TimestampsAndWideIntegersFitTheirDisplaySizes) {
  // The fixed layout binds each column as wide as its display size: the
  // text of a TIMESTAMP (all its fraction digits) and of a 64-bit integer
  // must fit it.
  auto made = testsupport::run_command("sqlite3 '" + database +
                                       "' \"create table stamps(ts timestamp, big bigint);"
                                       " insert into stamps values ('2024-01-05 10:20:30.123456', 9007199254740993);\"");
  ASSERT_EQ(made.status, 0) << made.output;
  connect();
  ok("ODBCExecute", "select ts, big from stamps");
  std::string row = ok("ODBCFetch", "");
  if (GetParam() == Backend::Quarl) {
    EXPECT_EQ(std::stoul(ok("ODBCColAttributes", "1 SQL_COLUMN_DISPLAY_SIZE")), 29u);
    EXPECT_EQ(row, "2024-01-05 10:20:30.123456000@" + padded("9007199254740993", 20) + "@");
  }
  EXPECT_EQ(fails("ODBCFetch", ""), "EOF");
}

TEST_P(OdbcCalls, OptionWords) {
  EXPECT_EQ(ok("ODBCSetOptions", "   "), "");
  EXPECT_EQ(fails("ODBCSetOptions", "VARIABLE notab bogus fixed"), "Unknown option bogus");
  EXPECT_EQ(fails("ODBCSetOptions", "tabs"), "Unknown option tabs");
  connect();  // the words before the unknown one took effect
  ok("ODBCExecute", "select name, code from items where id = 2");
  EXPECT_EQ(ok("ODBCFetch", ""), "abcdeq");
}

TEST_P(OdbcCalls, ColumnAttributes) {
  connect();
  ok("ODBCExecute", "select id, name from items");
  std::string all = ok("ODBCColAttributes", " 2 ALL");
  if (GetParam() == Backend::Sqlite) {
    EXPECT_EQ(all, "name@5@5@0@5@12@varchar@items@");
  }
  // ALL gives the eight single attributes in its order, each with a separator.
  std::string joined;
  for (const char* keyword : {"SQL_COLUMN_NAME", "sql_column_length", "SQL_COLUMN_PRECISION", "SQL_COLUMN_SCALE",
                              "SQL_COLUMN_DISPLAY_SIZE", "SQL_COLUMN_TYPE", "SQL_COLUMN_TYPE_NAME",
                              "SQL_COLUMN_TABLE_NAME"}) {
    std::string value = ok("ODBCColAttributes", std::string("2,") + keyword, 40);
    joined += (value.empty() ? " " : value) + "@";  // an empty value is one blank
  }
  EXPECT_EQ(ok("ODBCColAttributes", "2,*"), all);
  EXPECT_EQ(joined, all);
  EXPECT_EQ(ok("ODBCColAttributes", "2, SQL_COLUMN_TYPE"), "12");  // SQL_VARCHAR

  EXPECT_EQ(fails("ODBCColAttributes", "name ALL"), "Column number expected");
  EXPECT_EQ(fails("ODBCColAttributes", "2, SQL_COLUMN_TYPES"),
            "Unknown option in ODBCColAttributes = SQL_COLUMN_TYPES");
  EXPECT_EQ(fails("ODBCColAttributes", "2 ALL", 10), "No room in buffer for attribute");
  EXPECT_EQ(fails("ODBCColAttributes", "70000 ALL"), "Column number out of range: 70000");
  EXPECT_FALSE(fails("ODBCColAttributes", "9 SQL_COLUMN_NAME").empty());  // the driver's message
}

TEST_P(OdbcCalls, CatalogListingsAndAnOpenCursor) {
  connect();
  std::string names = ok("ODBCTables", "items", 400);
  EXPECT_NE(names.find("TABLE_NAME@"), std::string::npos) << names;
  ok("ODBCSetOptions", "variable notab");
  std::string row = ok("ODBCFetch", "", 400);
  EXPECT_NE(row.find("items"), std::string::npos) << row;
  EXPECT_EQ(fails("ODBCFetch", "", 400), "EOF");

  // Rows of a column listing until "EOF"; the number seen.
  auto rows_until_eof = [&](std::string& all) {
    int rows = 0;
    for (std::string row; (row = lib.call("ODBCFetch", "", 2000)).substr(0, 5) != "*****"; ++rows) all += row;
    EXPECT_EQ(lib.error(), "EOF");
    return rows;
  };
  ok("ODBCSetOptions", "tab");
  names = ok("ODBCColumns", "  items, na%", 400);
  EXPECT_NE(names.find("COLUMN_NAME@"), std::string::npos) << names;
  std::string all;
  // Quarl does not send the column name pattern: its host lists every column.
  EXPECT_EQ(rows_until_eof(all), GetParam() == Backend::Sqlite ? 1 : 4);
  EXPECT_NE(all.find("@items@name@"), std::string::npos) << all;
  ok("ODBCColumns", "items", 400);  // without a pattern: all four columns
  EXPECT_EQ(rows_until_eof(all), 4);
  EXPECT_EQ(fails("ODBCColumns", "   "), "Table name expected in ODBCColumns");

  ok("ODBCColumns", "items ,na%", 400);  // ended by a blank: no pattern
  EXPECT_EQ(rows_until_eof(all), 4);

  // A catalog call does not close the result set of a select first.
  ok("ODBCExecute", "select id from items");
  ok("ODBCFetch", "");
  EXPECT_EQ(fails("ODBCTables", ""), "[unixODBC][Driver Manager]Invalid cursor state");
}

TEST_P(OdbcCalls, WideColumnsAreCapped) {
  connect();
  ok("ODBCExecute", "insert into items values (4, 'w', 'w', replace(hex(zeroblob(20000)), '0', 'z'))");
  ok("ODBCExecute", "select note from items order by id");
  // The SQLite driver's TEXT; Quarl's long text, up to the host's value limit.
  EXPECT_EQ(ok("ODBCColAttributes", "1 SQL_COLUMN_DISPLAY_SIZE"),
            GetParam() == Backend::Sqlite ? "65536" : std::to_string(16 << 20));
  // Bound 32767 wide: the fixed layout needs 32768 bytes with the separator.
  EXPECT_EQ(fails("ODBCFetch", "", 32767), "Not enough room for all column data in buffer");
  ok("ODBCSetOptions", "variable");
  EXPECT_EQ(ok("ODBCFetch", "", 32767), "long@");
  EXPECT_EQ(ok("ODBCFetch", "", 32767), "n@");
  // Longer than the cap: the fetch fails, naming the column; the next goes on.
  EXPECT_EQ(fails("ODBCFetch", "", 32767), "Column 1 holds 40000 bytes, more than the 32767 a column takes");
  EXPECT_EQ(fails("ODBCFetch", "", 32767), "EOF");

  // A blob is its hexadecimal digits (the SQLite driver's X'..' form aside).
  ok("ODBCExecute", "select x'00ff10' from items where id = 1");
  ok("ODBCSetOptions", "variable notab");
  EXPECT_EQ(ok("ODBCFetch", "", 32767), GetParam() == Backend::Quarl ? "00FF10" : "X'00FF10'");
  ok("ODBCExecute", "select zeroblob(20000) from items where id = 1");
  EXPECT_EQ(fails("ODBCFetch", "", 32767).substr(0, 18), "Column 1 holds 400");  // 40000 digits; the peer: 40003
}

INSTANTIATE_TEST_SUITE_P(Drivers, OdbcCalls, ::testing::Values(Backend::Sqlite, Backend::Quarl),
                         [](const auto& info) { return info.param == Backend::Sqlite ? "SQLite" : "Quarl"; });

}  // namespace
