// Statements end to end: an ODBC 2 C client through the unixODBC driver
// manager, the driver and a real quarl-hostserver on the demo database;
// isql; and the same queries through the SQLite ODBC driver on the same file,
// which must give the same values.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "common/scramble.h"
#include "tests/support/test_env.h"

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class StatementsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // Asynchronous fetches are honoured (read when the driver is loaded).
    testsupport::write_file(config.profile_dir() / "quarl.ini", "[odbc]\nallowasync=1\n");
    // A connection name, as unixODBC may keep an earlier odbc.ini in its cache.
    config.add_tcp_connection("DEMOHOST", server.address());
    config.add_dsn("QuarlDemo", {{"Provider", "TCP/IP"},
                                 {"Connection", "DEMOHOST"},
                                 {"UID", "DEMO"},
                                 {"PWD", quarl::scramble("DEMO")}});
    if (const char* trace = std::getenv("QUARL_TEST_ODBC_TRACE"))
      config.add_driver("ODBC", {{"Trace", "Yes"}, {"TraceFile", trace}});
    ASSERT_EQ(SQLAllocEnv(&henv), SQL_SUCCESS);
    SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0);
  }
  void TearDown() override {
    for (SQLHDBC h : connections) {
      SQLDisconnect(h);
      SQLFreeConnect(h);
    }
    SQLFreeEnv(henv);
  }

  SQLHDBC connect(const char* dsn = "QuarlDemo") {
    SQLHDBC h = SQL_NULL_HDBC;
    EXPECT_EQ(SQLAllocConnect(henv, &h), SQL_SUCCESS);
    SQLRETURN rc = SQLConnect(h, (SQLCHAR*)dsn, SQL_NTS, nullptr, 0, nullptr, 0);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << error(SQL_NULL_HSTMT, h);
    connections.push_back(h);
    return h;
  }
  SQLHSTMT statement(SQLHDBC h) {
    SQLHSTMT s = SQL_NULL_HSTMT;
    EXPECT_EQ(SQLAllocStmt(h, &s), SQL_SUCCESS) << error(SQL_NULL_HSTMT, h);
    return s;
  }
  std::string error(SQLHSTMT s, SQLHDBC h = SQL_NULL_HDBC) {
    SQLCHAR state[6] = {}, text[600] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (SQLError(henv, h, s, state, &native, text, sizeof text, &length) != SQL_SUCCESS) return "none";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }
  void exec(SQLHSTMT s, const std::string& sql) {
    SQLRETURN rc = SQLExecDirect(s, (SQLCHAR*)sql.c_str(), SQL_NTS);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << sql << ": " << error(s);
  }

  testsupport::OdbcConfig config;
  testsupport::TempDir data;
  testsupport::HostServer server{{"--demo", "--database", (data / "demo.sqlite").string()}};
  SQLHENV henv = SQL_NULL_HENV;
  std::vector<SQLHDBC> connections;
};

TEST_F(StatementsEndToEnd, PreparedStatementsWithParameters) {
  SQLHDBC h = connect();
  SQLHSTMT s = statement(h);
  exec(s, "create table readings (id integer primary key, label varchar(20), amount numeric(9,2), "
          "ratio double, taken date, seen timestamp, ok bit)");

  ASSERT_EQ(SQLPrepare(s, (SQLCHAR*)"insert into readings values (?, ?, ?, ?, ?, ?, ?)", SQL_NTS), SQL_SUCCESS)
      << error(s);
  SQLSMALLINT markers = 0;
  EXPECT_EQ(SQLNumParams(s, &markers), SQL_SUCCESS);
  EXPECT_EQ(markers, 7);
  SQLINTEGER id = 0;
  char label[21] = {};
  double amount = 0, ratio = 0;
  DATE_STRUCT taken{};
  TIMESTAMP_STRUCT seen{};
  unsigned char ok = 0;
  SQLLEN label_length = SQL_NTS, ok_length = 0;
  SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
  SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, label, sizeof label, &label_length);
  SQLBindParameter(s, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_NUMERIC, 9, 2, &amount, 0, nullptr);
  SQLBindParameter(s, 4, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &ratio, 0, nullptr);
  SQLBindParameter(s, 5, SQL_PARAM_INPUT, SQL_C_DATE, SQL_DATE, 10, 0, &taken, 0, nullptr);
  SQLBindParameter(s, 6, SQL_PARAM_INPUT, SQL_C_TIMESTAMP, SQL_TIMESTAMP, 23, 3, &seen, 0, nullptr);
  SQLBindParameter(s, 7, SQL_PARAM_INPUT, SQL_C_BIT, SQL_BIT, 1, 0, &ok, 0, &ok_length);
  for (int i = 1; i <= 3; ++i) {
    id = i;
    std::snprintf(label, sizeof label, "reading %d", i);
    amount = 1000.25 * i;
    ratio = 0.5 / i;
    taken = DATE_STRUCT{static_cast<SQLSMALLINT>(2020 + i), 2, 28};
    seen = TIMESTAMP_STRUCT{2024, 12, 31, 23, 59, 58, 125000000u * static_cast<SQLUINTEGER>(i)};
    ok = i % 2;
    ok_length = i == 3 ? SQL_NULL_DATA : 1;
    ASSERT_EQ(SQLExecute(s), SQL_SUCCESS) << error(s);
    SQLLEN rows = 0;
    EXPECT_EQ(SQLRowCount(s, &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, 1);
  }

  SQLHSTMT q = statement(h);
  ASSERT_EQ(SQLPrepare(q, (SQLCHAR*)"select id, label, amount, ratio, taken, seen, ok from readings "
                                    "where id >= ? order by id",
                       SQL_NTS),
            SQL_SUCCESS)
      << error(q);
  SQLINTEGER from = 2;
  SQLBindParameter(q, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &from, 0, nullptr);
  SQLSMALLINT columns = 0;
  EXPECT_EQ(SQLNumResultCols(q, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 7);
  char name[32];
  SQLSMALLINT name_length = 0, type = 0, scale = 0, nullable = 0;
  SQLULEN precision = 0;
  ASSERT_EQ(SQLDescribeCol(q, 3, (SQLCHAR*)name, sizeof name, &name_length, &type, &precision, &scale, &nullable),
            SQL_SUCCESS);
  EXPECT_STREQ(name, "amount");
  EXPECT_EQ(type, SQL_NUMERIC);
  EXPECT_EQ(precision, 9u);
  EXPECT_EQ(scale, 2);

  SQLINTEGER got_id = 0;
  char got_label[21], got_amount[16];
  double got_ratio = 0;
  DATE_STRUCT got_taken{};
  TIMESTAMP_STRUCT got_seen{};
  unsigned char got_ok = 9;
  SQLLEN lengths[7] = {};
  SQLBindCol(q, 1, SQL_C_LONG, &got_id, 0, &lengths[0]);
  SQLBindCol(q, 2, SQL_C_CHAR, got_label, sizeof got_label, &lengths[1]);
  SQLBindCol(q, 3, SQL_C_CHAR, got_amount, sizeof got_amount, &lengths[2]);
  SQLBindCol(q, 4, SQL_C_DOUBLE, &got_ratio, 0, &lengths[3]);
  SQLBindCol(q, 5, SQL_C_DATE, &got_taken, 0, &lengths[4]);
  SQLBindCol(q, 6, SQL_C_TIMESTAMP, &got_seen, 0, &lengths[5]);
  SQLBindCol(q, 7, SQL_C_BIT, &got_ok, 0, &lengths[6]);
  ASSERT_EQ(SQLExecute(q), SQL_SUCCESS) << error(q);
  ASSERT_EQ(SQLFetch(q), SQL_SUCCESS) << error(q);
  EXPECT_EQ(got_id, 2);
  EXPECT_STREQ(got_label, "reading 2");
  EXPECT_STREQ(got_amount, "2000.50");
  EXPECT_DOUBLE_EQ(got_ratio, 0.25);
  EXPECT_EQ(got_taken.year, 2022);
  EXPECT_EQ(got_taken.month, 2);
  EXPECT_EQ(got_taken.day, 28);
  EXPECT_EQ(got_seen.second, 58);
  EXPECT_EQ(got_seen.fraction, 250000000u);
  EXPECT_EQ(got_ok, 0);
  ASSERT_EQ(SQLFetch(q), SQL_SUCCESS) << error(q);
  EXPECT_EQ(got_id, 3);
  EXPECT_EQ(lengths[6], SQL_NULL_DATA);
  EXPECT_EQ(SQLFetch(q), SQL_NO_DATA_FOUND);

  // The prepared query again with another value.
  from = 1;
  ASSERT_EQ(SQLFreeStmt(q, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(q), SQL_SUCCESS) << error(q);
  int fetched = 0;
  while (SQLFetch(q) == SQL_SUCCESS) ++fetched;
  EXPECT_EQ(fetched, 3);

  // An update with a parameter reports its row count.
  SQLHSTMT u = statement(h);
  SQLINTEGER below = 3;
  SQLBindParameter(u, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &below, 0, nullptr);
  exec(u, "update readings set ratio = ratio * 2 where id < ?");
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(u, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 2);
}

TEST_F(StatementsEndToEnd, DataAtExecutionThroughTheDriverManager) {
  SQLHDBC h = connect();
  SQLHSTMT s = statement(h);
  std::string text(900, 'q');
  SQLLEN indicator = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(text.size()));
  int token = 0;
  SQLINTEGER id = 5;
  SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, text.size(), 0, &token, 0, &indicator);
  SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
  ASSERT_EQ(SQLExecDirect(s, (SQLCHAR*)"update employees set notes = ? where emp_id = ?", SQL_NTS), SQL_NEED_DATA)
      << error(s);
  SQLPOINTER which = nullptr;
  ASSERT_EQ(SQLParamData(s, &which), SQL_NEED_DATA) << error(s);
  EXPECT_EQ(which, &token);
  for (size_t at = 0; at < text.size(); at += 400)
    ASSERT_EQ(SQLPutData(s, text.data() + at, static_cast<SQLLEN>(std::min<size_t>(400, text.size() - at))),
              SQL_SUCCESS)
        << error(s);
  ASSERT_EQ(SQLParamData(s, &which), SQL_SUCCESS) << error(s);
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(s, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);

  SQLHSTMT q = statement(h);
  exec(q, "select length(notes), notes from employees where emp_id = 5");
  ASSERT_EQ(SQLFetch(q), SQL_SUCCESS) << error(q);
  SQLINTEGER length = 0;
  EXPECT_EQ(SQLGetData(q, 1, SQL_C_LONG, &length, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(length, 900);
  // The long value in pieces.
  std::string back;
  char piece[256];
  SQLLEN piece_length = 0;
  SQLRETURN rc;
  while ((rc = SQLGetData(q, 2, SQL_C_CHAR, piece, sizeof piece, &piece_length)) != SQL_NO_DATA_FOUND) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << error(q);
    back += piece;
  }
  EXPECT_EQ(back, text);
}

// The first row comes at once, the second only after a long count: a fetch
// of this query stays outstanding.
constexpr const char* kSlowQuery =
    "with recursive c(x) as (select 1 union all select x + 1 from c where x < 1000000000) "
    "select x from c where x = 1 or x = 1000000000";

TEST_F(StatementsEndToEnd, CancelOfAnAsynchronousFetchThroughTheDriverManager) {
  SQLHDBC h = connect();
  SQLHSTMT s = statement(h);
  ASSERT_EQ(SQLSetStmtOption(s, SQL_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON), SQL_SUCCESS) << error(s);
  exec(s, kSlowQuery);
  ASSERT_EQ(SQLFetch(s), SQL_STILL_EXECUTING) << error(s);
  EXPECT_EQ(SQLFetch(s), SQL_STILL_EXECUTING);
  ASSERT_EQ(SQLCancel(s), SQL_SUCCESS) << error(s);
  EXPECT_EQ(SQLFetch(s), SQL_ERROR);
  EXPECT_TRUE(has(error(s), "S1008")) << error(s);
  // unixODBC 2.3.11 keeps an ODBC 2 driver's statement in its asynchronous
  // state until the interrupted function succeeds; the statement's next query
  // is shown with the driver alone below.  Other statements go on.
  SQLHSTMT other = statement(h);
  exec(other, "select count(*) from departments");
  SQLRETURN rc;
  do {
    rc = SQLFetch(other);
  } while (rc == SQL_STILL_EXECUTING);
  EXPECT_EQ(rc, SQL_SUCCESS) << error(other);
}

// The driver loaded by name, as a driver manager does, for what unixODBC
// does not let through.
struct DirectDriver {
  void* lib = nullptr;
  SQLRETURN (*AllocEnv)(SQLHENV*);
  SQLRETURN (*AllocConnect)(SQLHENV, SQLHDBC*);
  SQLRETURN (*DriverConnect)(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*,
                             SQLUSMALLINT);
  SQLRETURN (*AllocStmt)(SQLHDBC, SQLHSTMT*);
  SQLRETURN (*SetStmtOption)(SQLHSTMT, SQLUSMALLINT, SQLULEN);
  SQLRETURN (*ExecDirect)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
  SQLRETURN (*Fetch)(SQLHSTMT);
  SQLRETURN (*Cancel)(SQLHSTMT);
  SQLRETURN (*GetData)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*);
  SQLRETURN (*Error)(SQLHENV, SQLHDBC, SQLHSTMT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);
  SQLRETURN (*Disconnect)(SQLHDBC);
  SQLRETURN (*FreeConnect)(SQLHDBC);
  SQLRETURN (*FreeEnv)(SQLHENV);

  DirectDriver() {
    lib = ::dlopen(testsupport::lib_path("libquarl.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    auto find = [&](auto& fn, const char* name) { fn = reinterpret_cast<std::decay_t<decltype(fn)>>(::dlsym(lib, name)); };
    find(AllocEnv, "SQLAllocEnv");
    find(AllocConnect, "SQLAllocConnect");
    find(DriverConnect, "SQLDriverConnect");
    find(AllocStmt, "SQLAllocStmt");
    find(SetStmtOption, "SQLSetStmtOption");
    find(ExecDirect, "SQLExecDirect");
    find(Fetch, "SQLFetch");
    find(Cancel, "SQLCancel");
    find(GetData, "SQLGetData");
    find(Error, "SQLError");
    find(Disconnect, "SQLDisconnect");
    find(FreeConnect, "SQLFreeConnect");
    find(FreeEnv, "SQLFreeEnv");
  }
  ~DirectDriver() {
    if (lib) ::dlclose(lib);
  }
  std::string error(SQLHSTMT s) {
    SQLCHAR state[6] = {}, text[600] = {};
    if (Error(nullptr, nullptr, s, state, nullptr, text, sizeof text, nullptr) != SQL_SUCCESS) return "none";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }
};

TEST_F(StatementsEndToEnd, CancelOfAnAsynchronousFetchThenAFreshQueryOnTheSameStatement) {
  DirectDriver d;
  ASSERT_NE(d.lib, nullptr) << ::dlerror();
  SQLHENV e = nullptr;
  SQLHDBC h = nullptr;
  SQLHSTMT s = nullptr;
  ASSERT_EQ(d.AllocEnv(&e), SQL_SUCCESS);
  ASSERT_EQ(d.AllocConnect(e, &h), SQL_SUCCESS);
  std::string in = "UID=DEMO;PWD=DEMO;Provider=TCP/IP;Connection=DEMOHOST";
  ASSERT_EQ(d.DriverConnect(h, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS);
  ASSERT_EQ(d.AllocStmt(h, &s), SQL_SUCCESS);
  ASSERT_EQ(d.SetStmtOption(s, SQL_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON), SQL_SUCCESS);
  ASSERT_EQ(d.ExecDirect(s, (SQLCHAR*)kSlowQuery, SQL_NTS), SQL_SUCCESS) << d.error(s);
  ASSERT_EQ(d.Fetch(s), SQL_STILL_EXECUTING) << d.error(s);
  ASSERT_EQ(d.Cancel(s), SQL_SUCCESS) << d.error(s);
  EXPECT_EQ(d.Fetch(s), SQL_ERROR);
  EXPECT_EQ(d.error(s), "S1008 [Velmor Software][Quarl ODBC Driver]Operation canceled");

  ASSERT_EQ(d.ExecDirect(s, (SQLCHAR*)"select count(*) from departments", SQL_NTS), SQL_SUCCESS) << d.error(s);
  SQLRETURN rc;
  do {
    rc = d.Fetch(s);
  } while (rc == SQL_STILL_EXECUTING);
  ASSERT_EQ(rc, SQL_SUCCESS) << d.error(s);
  SQLINTEGER count = 0;
  EXPECT_EQ(d.GetData(s, 1, SQL_C_LONG, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 8);
  EXPECT_EQ(d.Disconnect(h), SQL_SUCCESS);
  d.FreeConnect(h);
  d.FreeEnv(e);
}

TEST_F(StatementsEndToEnd, IsqlRunsASelectAndAnUpdate) {
  auto r = testsupport::run_command("isql -b -v QuarlDemo",
                                    "select dept_code, name, budget from departments where dept_id = 20\n"
                                    "update departments set name = 'Engineers' where dept_id = 20\n"
                                    "select name from departments where dept_id = 20\n");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(has(r.output, "ENGR")) << r.output;
  EXPECT_TRUE(has(r.output, "262500.50")) << r.output;
  EXPECT_TRUE(has(r.output, "SQLRowCount returns 1")) << r.output;
  EXPECT_TRUE(has(r.output, "Engineers")) << r.output;
}

// ---- the same values as the SQLite ODBC driver ----

using Value = std::variant<std::monostate, long long, double, std::string>;

// Every row of a query; each value read in the C type that its column's SQL
// type calls for (the types of the first side are used for the second, so
// that both read alike).
std::vector<std::vector<Value>> read_all(SQLHSTMT s, const std::string& sql, std::vector<SQLSMALLINT>& types) {
  std::vector<std::vector<Value>> rows;
  if (!SQL_SUCCEEDED(SQLExecDirect(s, (SQLCHAR*)sql.c_str(), SQL_NTS))) {
    ADD_FAILURE() << "cannot run " << sql;
    return rows;
  }
  SQLSMALLINT columns = 0;
  SQLNumResultCols(s, &columns);
  if (types.empty()) {
    types.resize(static_cast<size_t>(columns));
    for (SQLUSMALLINT c = 1; c <= columns; ++c)
      SQLDescribeCol(s, c, nullptr, 0, nullptr, &types[c - 1u], nullptr, nullptr, nullptr);
  }
  if (types.size() != static_cast<size_t>(columns)) {
    ADD_FAILURE() << "column counts differ for " << sql;
    return rows;
  }
  while (SQLFetch(s) == SQL_SUCCESS) {
    std::vector<Value> row;
    for (SQLUSMALLINT c = 1; c <= columns; ++c) {
      SQLLEN length = 0;
      switch (types[c - 1u]) {
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_BIT:
        case SQL_BIGINT:
        case SQL_TINYINT: {
          SQLBIGINT v = 0;
          SQLGetData(s, c, SQL_C_SBIGINT, &v, 0, &length);
          if (length == SQL_NULL_DATA) row.emplace_back();
          else row.emplace_back(static_cast<long long>(v));
          break;
        }
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_DOUBLE:
        case SQL_FLOAT:
        case SQL_REAL: {
          double v = 0;
          SQLGetData(s, c, SQL_C_DOUBLE, &v, 0, &length);
          if (length == SQL_NULL_DATA) row.emplace_back();
          else row.emplace_back(v);
          break;
        }
        case SQL_DATE:
        case SQL_TYPE_DATE:
        case SQL_TIME:
        case SQL_TYPE_TIME:
        case SQL_TIMESTAMP:
        case SQL_TYPE_TIMESTAMP: {
          // Through the timestamp structure, printed the same way for both.
          TIMESTAMP_STRUCT t{};
          SQLSMALLINT c_type = types[c - 1u] == SQL_DATE || types[c - 1u] == SQL_TYPE_DATE ? SQL_C_DATE
                               : types[c - 1u] == SQL_TIME || types[c - 1u] == SQL_TYPE_TIME ? SQL_C_TIME
                                                                                              : SQL_C_TIMESTAMP;
          SQLGetData(s, c, c_type, &t, sizeof t, &length);
          char text[64];
          if (c_type == SQL_C_TIME) {
            auto* tm = reinterpret_cast<TIME_STRUCT*>(&t);
            std::snprintf(text, sizeof text, "%02u:%02u:%02u", tm->hour, tm->minute, tm->second);
          } else {
            std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u.%u", t.year, t.month, t.day,
                          c_type == SQL_C_DATE ? 0 : t.hour, c_type == SQL_C_DATE ? 0 : t.minute,
                          c_type == SQL_C_DATE ? 0 : t.second, c_type == SQL_C_DATE ? 0 : t.fraction / 1000);
          }
          if (length == SQL_NULL_DATA) row.emplace_back();
          else row.emplace_back(std::string(text));
          break;
        }
        default: {
          std::string text;
          char piece[128];
          SQLRETURN rc;
          while ((rc = SQLGetData(s, c, SQL_C_CHAR, piece, sizeof piece, &length)) != SQL_NO_DATA_FOUND &&
                 SQL_SUCCEEDED(rc) && length != SQL_NULL_DATA)
            text += piece;
          if (length == SQL_NULL_DATA) row.emplace_back();
          else row.emplace_back(std::string(text));
        }
      }
    }
    rows.push_back(std::move(row));
  }
  SQLFreeStmt(s, SQL_CLOSE);
  return rows;
}

std::string show(const Value& v) {
  if (std::holds_alternative<std::monostate>(v)) return "NULL";
  if (auto* i = std::get_if<long long>(&v)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&v)) return std::to_string(*d);
  return "'" + std::get<std::string>(v) + "'";
}

TEST_F(StatementsEndToEnd, SameValuesAsTheSqliteOdbcDriver) {
  SQLHSTMT quarl = statement(connect("QuarlDemo"));
  // The SQLite driver by its file and the database by a connection string:
  // unixODBC may hold an earlier odbc.ini in its cache.
  SQLHDBC sqlite_connection = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocConnect(henv, &sqlite_connection), SQL_SUCCESS);
  connections.push_back(sqlite_connection);
  std::string in = "DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=" + (data / "demo.sqlite").string();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(sqlite_connection, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, nullptr, 0,
                                             nullptr, SQL_DRIVER_NOPROMPT)))
      << error(SQL_NULL_HSTMT, sqlite_connection);
  SQLHSTMT sqlite = statement(sqlite_connection);
  const char* queries[] = {
      "select * from departments order by dept_id",
      "select emp_id, dept_id, badge, last_name, first_name, salary, rating, hired, shift_start, last_login, "
      "is_manager, notes from employees order by emp_id",
      "select * from projects order by project_id",
      "select * from assignments order by emp_id, project_id",
      "select dept_id, count(*), sum(salary), min(hired), max(last_name) from employees "
      "group by dept_id order by dept_id",
      "select * from employee_overview where emp_id between 100 and 140 order by emp_id",
  };
  for (const char* sql : queries) {
    SCOPED_TRACE(sql);
    std::vector<SQLSMALLINT> types;
    auto got = read_all(quarl, sql, types);
    auto expected = read_all(sqlite, sql, types);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(got.size(), expected.size());
    for (size_t r = 0; r < got.size(); ++r) {
      ASSERT_EQ(got[r].size(), expected[r].size());
      for (size_t c = 0; c < got[r].size(); ++c) {
        const Value &a = got[r][c], &b = expected[r][c];
        bool same = a == b;
        // Numbers may come as integer or real from the two sides.
        auto number = [](const Value& v, double& out) {
          if (auto* i = std::get_if<long long>(&v)) return out = static_cast<double>(*i), true;
          if (auto* d = std::get_if<double>(&v)) return out = *d, true;
          return false;
        };
        double x = 0, y = 0;
        if (!same && number(a, x) && number(b, y)) same = std::fabs(x - y) <= 1e-9 * std::max(1.0, std::fabs(y));
        ASSERT_TRUE(same) << "row " << r << " column " << c + 1 << ": " << show(a) << " != " << show(b);
      }
    }
  }
}

}  // namespace
