// The Unicode driver end to end: a C client of ODBC 3 through the unixODBC
// driver manager, libquarlw.so and a real quarl-hostserver.  The wide entry
// points and the units of their lengths, what follows the ODBC version the
// application asks for, and parameter arrays.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "common/utf.h"
#include "tests/support/test_env.h"

namespace {

std::u16string u(const char* utf8) {
  std::u16string out(quarl::utf16_units_of(utf8, std::strlen(utf8)), u'\0');
  quarl::utf8_to_utf16(utf8, std::strlen(utf8), out.data(), out.size());
  return out;
}
SQLWCHAR* w(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }
std::string narrow(const SQLWCHAR* s, size_t units) {
  std::string out;
  quarl::utf16_to_utf8_replacing(s, units, out);
  return out;
}

class UnicodeEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    config.add_dsn("QuarlWide", {{"Driver", "Quarl Unicode"},
                                 {"Provider", "TCP/IP"},
                                 {"Connection", server.address()},
                                 {"UID", "DEMO"},
                                 {"PWD", quarl::scramble("DEMO")}});
  }
  void TearDown() override {
    if (hdbc) {
      SQLDisconnect(hdbc);
      SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
    }
    if (henv) SQLFreeHandle(SQL_HANDLE_ENV, henv);
  }

  // Connects as an application of the given ODBC version.
  void connect(SQLINTEGER version = SQL_OV_ODBC3) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv)));
    SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(version)), 0);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, henv, &hdbc)));
    std::u16string in = u("DSN=QuarlWide");
    SQLWCHAR out[300];
    SQLSMALLINT out_length = 0;
    SQLRETURN rc = SQLDriverConnectW(hdbc, nullptr, w(in), SQL_NTS, out, 300, &out_length, SQL_DRIVER_NOPROMPT);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diag(SQL_HANDLE_DBC, hdbc);
    // The output connection string's length counts characters.
    EXPECT_EQ(static_cast<size_t>(out_length), quarl::utf16_length(out));
    EXPECT_EQ(narrow(out, static_cast<size_t>(out_length)).rfind("DSN=QuarlWide;", 0), 0u);
  }
  SQLHSTMT statement() {
    SQLHSTMT s = SQL_NULL_HSTMT;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &s))) << diag(SQL_HANDLE_DBC, hdbc);
    return s;
  }
  // The first diagnostic as "STATE text", through the wide form.
  std::string diag(SQLSMALLINT type, SQLHANDLE handle) {
    SQLWCHAR state[6] = {}, text[600] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, 1, state, &native, text, 600, &length))) return "none";
    return narrow(state, 5) + " " + narrow(text, static_cast<size_t>(length));
  }
  void exec(SQLHSTMT s, const char* sql) {
    std::u16string text = u(sql);
    SQLRETURN rc = SQLExecDirectW(s, w(text), SQL_NTS);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << sql << ": " << diag(SQL_HANDLE_STMT, s);
  }
  std::string state_of(SQLHSTMT s) { return diag(SQL_HANDLE_STMT, s).substr(0, 5); }

  testsupport::OdbcConfig config;
  testsupport::TempDir data;
  testsupport::HostServer server{{"--demo", "--database", (data / "demo.sqlite").string()}};
  SQLHENV henv = SQL_NULL_HENV;
  SQLHDBC hdbc = SQL_NULL_HDBC;
};

TEST_F(UnicodeEndToEnd, WideEntryPointsCountInTheirUnits) {
  connect();
  SQLHSTMT s = statement();
  exec(s, "create table notes (prénom varchar(30), n integer)");
  exec(s, "insert into notes values ('Zoë 東京 😀', 1)");
  exec(s, "select prénom, n from notes");

  // Names: characters, cut at a character, 01004.
  SQLWCHAR name[4];
  SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  EXPECT_EQ(SQLDescribeColW(s, 1, name, 4, &name_length, &type, &size, &digits, &nullable), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(name_length, 6);
  EXPECT_EQ(narrow(name, 3), "pré");
  EXPECT_EQ(name[3], 0);
  EXPECT_EQ(state_of(s), "01004");
  // Column attributes: bytes.
  SQLWCHAR label[4];
  SQLSMALLINT label_length = 0;
  EXPECT_EQ(SQLColAttributeW(s, 1, SQL_DESC_NAME, label, sizeof label, &label_length, nullptr), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(label_length, 12);
  EXPECT_EQ(narrow(label, 3), "pré");

  // Values: UTF-16 in pieces that fill the buffer, lengths in bytes.
  ASSERT_EQ(SQLFetch(s), SQL_SUCCESS);
  std::u16string got;
  std::vector<SQLLEN> lengths;
  for (;;) {
    SQLWCHAR piece[3];  // two units and the terminator
    SQLLEN length = 0;
    SQLRETURN rc = SQLGetData(s, 1, SQL_C_WCHAR, piece, sizeof piece, &length);
    if (rc == SQL_NO_DATA) break;
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diag(SQL_HANDLE_STMT, s);
    lengths.push_back(length);
    got += reinterpret_cast<const char16_t*>(piece);
  }
  EXPECT_EQ(got, u("Zoë 東京 😀"));
  // 9 units, two a piece: the surrogate pair is split between the last two.
  EXPECT_EQ(lengths, (std::vector<SQLLEN>{18, 14, 10, 6, 2}));
  SQLFreeHandle(SQL_HANDLE_STMT, s);

  // Information: bytes; a cut value says how long it is.
  SQLWCHAR version[3];
  SQLSMALLINT version_length = 0;
  EXPECT_EQ(SQLGetInfoW(hdbc, SQL_DRIVER_ODBC_VER, version, sizeof version, &version_length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(version_length, 10);
  EXPECT_EQ(narrow(version, 2), "03");
  SQLWCHAR whole[16];
  EXPECT_EQ(SQLGetInfoW(hdbc, SQL_DRIVER_ODBC_VER, whole, sizeof whole, &version_length), SQL_SUCCESS);
  EXPECT_EQ(narrow(whole, 5), "03.51");
}

TEST_F(UnicodeEndToEnd, WhatTheApplicationsOdbcVersionDecides) {
  struct Case {
    SQLINTEGER version;
    const char* missing_table;
    SQLSMALLINT date_type;
    const char* first_catalog_column;
    SQLSMALLINT catalog_columns;
  } cases[] = {
      {SQL_OV_ODBC3, "42S02", SQL_TYPE_DATE, "TABLE_CAT", 18},
      {SQL_OV_ODBC2, "S0002", SQL_DATE, "TABLE_QUALIFIER", 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    TearDown();
    henv = SQL_NULL_HENV;
    hdbc = SQL_NULL_HDBC;
    connect(c.version);
    SQLHSTMT s = statement();
    std::u16string missing = u("select * from nowhere");
    EXPECT_EQ(SQLExecDirectW(s, w(missing), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(state_of(s), c.missing_table);

    exec(s, "select founded from departments");
    SQLSMALLINT type = 0;
    EXPECT_EQ(SQLDescribeColW(s, 1, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr), SQL_SUCCESS);
    EXPECT_EQ(type, c.date_type);
    SQLCloseCursor(s);

    std::u16string table = u("departments");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLColumnsW(s, nullptr, 0, nullptr, 0, w(table), SQL_NTS, nullptr, 0)))
        << diag(SQL_HANDLE_STMT, s);
    SQLSMALLINT columns = 0;
    SQLNumResultCols(s, &columns);
    EXPECT_EQ(columns, c.catalog_columns);
    SQLWCHAR name[40];
    SQLSMALLINT length = 0;
    SQLDescribeColW(s, 1, name, 40, &length, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(narrow(name, static_cast<size_t>(length)), c.first_catalog_column);
    SQLFreeHandle(SQL_HANDLE_STMT, s);
  }
}

TEST_F(UnicodeEndToEnd, ParameterArraysColumnWiseAndRowWise) {
  connect();
  SQLHSTMT s = statement();
  exec(s, "create table points (k integer primary key, label varchar(10))");
  std::u16string insert = u("insert into points values (?, ?)");
  ASSERT_EQ(SQLPrepareW(s, w(insert), SQL_NTS), SQL_SUCCESS) << diag(SQL_HANDLE_STMT, s);

  // Column-wise: four sets, the third ignored.
  SQLINTEGER keys[4] = {1, 2, 3, 4};
  char labels[4][10] = {"one", "two", "three", "four"};
  SQLLEN label_lengths[4] = {SQL_NTS, SQL_NTS, SQL_NTS, SQL_NULL_DATA};
  SQLUSMALLINT operations[4] = {SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_IGNORE, SQL_PARAM_PROCEED};
  SQLUSMALLINT status[4] = {};
  SQLULEN processed = 0;
  SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(4), 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAM_OPERATION_PTR, operations, 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAM_STATUS_PTR, status, 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
  SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, keys, 0, nullptr);
  SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, labels, 10, label_lengths);
  ASSERT_EQ(SQLExecute(s), SQL_SUCCESS) << diag(SQL_HANDLE_STMT, s);
  EXPECT_EQ(processed, 3u);
  EXPECT_EQ(std::vector<SQLUSMALLINT>(status, status + 4),
            (std::vector<SQLUSMALLINT>{SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_UNUSED, SQL_PARAM_SUCCESS}));
  SQLLEN rows = 0;
  SQLRowCount(s, &rows);
  EXPECT_EQ(rows, 3);

  // Row-wise, through a bind offset: the second set fails, the third is not run.
  struct Row {
    SQLINTEGER key;
    SQLLEN key_length;
    SQLWCHAR label[10];
    SQLLEN label_length;
  } set[3] = {{10, 0, {u'x', 0}, SQL_NTS}, {1, 0, {u'y', 0}, SQL_NTS}, {11, 0, {u'z', 0}, SQL_NTS}};
  // Bound as pyodbc binds: the pointers count from a base of 16 (a null
  // pointer would leave a parameter unbound), the offset moves them.
  constexpr uintptr_t kBase = 16;
  SQLULEN offset = reinterpret_cast<SQLULEN>(&set[0]) - kBase;
  SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(3), 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAM_OPERATION_PTR, nullptr, 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAM_BIND_OFFSET_PTR, &offset, 0);
  SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0,
                   reinterpret_cast<SQLPOINTER>(kBase + offsetof(Row, key)), 0,
                   reinterpret_cast<SQLLEN*>(kBase + offsetof(Row, key_length)));
  SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 10, 0,
                   reinterpret_cast<SQLPOINTER>(kBase + offsetof(Row, label)), sizeof set[0].label,
                   reinterpret_cast<SQLLEN*>(kBase + offsetof(Row, label_length)));
  EXPECT_EQ(SQLExecute(s), SQL_ERROR);
  EXPECT_EQ(state_of(s), "23000") << diag(SQL_HANDLE_STMT, s);
  EXPECT_EQ(processed, 2u);
  EXPECT_EQ(std::vector<SQLUSMALLINT>(status, status + 3),
            (std::vector<SQLUSMALLINT>{SQL_PARAM_SUCCESS, SQL_PARAM_ERROR, SQL_PARAM_UNUSED}));
  SQLFreeHandle(SQL_HANDLE_STMT, s);

  SQLHSTMT q = statement();
  exec(q, "select k, coalesce(label, '-') from points order by k");
  std::string seen;
  SQLINTEGER k = 0;
  char label[16];
  SQLBindCol(q, 1, SQL_C_LONG, &k, 0, nullptr);
  SQLBindCol(q, 2, SQL_C_CHAR, label, sizeof label, nullptr);
  while (SQLFetch(q) == SQL_SUCCESS) seen += std::to_string(k) + "=" + label + " ";
  EXPECT_EQ(seen, "1=one 2=two 4=- 10=x ");
  SQLFreeHandle(SQL_HANDLE_STMT, q);
}

}  // namespace

// SQLGetData keeps its choice of conversion per column and C type: another
// C type on the same column, a text buffer too short for the quick way, a
// number that does not fit, and a new result whose column has another type
// under the same C type each give what the other way gives.
TEST_F(UnicodeEndToEnd, GetDataChoosesAgainWhenTheCallOrTheResultChanges) {
  connect();
  SQLHSTMT s = statement();
  exec(s, "create table kinds (n bigint, t varchar(10))");
  exec(s, "insert into kinds values (7, 'seven'), (5000000000, 'five'), (8, 'eight'), (9, 'x')");
  exec(s, "select n, t from kinds order by t");  // eight, five, seven
  struct Read {
    SQLSMALLINT c_type;
    SQLLEN size;
    SQLRETURN rc;
    const char* state;
    std::string text;  // SQL_C_CHAR: the text; SQL_C_SLONG: the number
  };
  // Each read after the first of a column and C type goes the quick way.
  const std::vector<std::vector<Read>> rows = {
      {{SQL_C_CHAR, 32, SQL_SUCCESS, "none", "8"}, {SQL_C_SLONG, 0, SQL_SUCCESS, "none", "8"}},
      {{SQL_C_SLONG, 0, SQL_ERROR, "22003", ""}, {SQL_C_CHAR, 32, SQL_SUCCESS, "none", "5000000000"},
       {SQL_C_CHAR, 4, SQL_ERROR, "22003", ""}},
      {{SQL_C_CHAR, 4, SQL_SUCCESS, "none", "7"}, {SQL_C_CHAR, 32, SQL_SUCCESS, "none", "7"},
       {SQL_C_SLONG, 0, SQL_SUCCESS, "none", "7"}},
  };
  for (size_t r = 0; r < rows.size(); ++r) {
    ASSERT_EQ(SQLFetch(s), SQL_SUCCESS);
    for (const Read& read : rows[r]) {
      char text[32] = "";
      SQLINTEGER number = 0;
      SQLLEN length = 0;
      bool as_text = read.c_type == SQL_C_CHAR;
      SQLRETURN rc = SQLGetData(s, 1, read.c_type, as_text ? static_cast<SQLPOINTER>(text) : &number, read.size,
                                &length);
      EXPECT_EQ(rc, read.rc) << "row " << r << " " << diag(SQL_HANDLE_STMT, s);
      EXPECT_EQ(state_of(s), read.state) << "row " << r;
      if (rc == SQL_SUCCESS) {
        EXPECT_EQ(as_text ? std::string(text) : std::to_string(number), read.text) << "row " << r;
      }
    }
  }
  ASSERT_EQ(SQLFreeStmt(s, SQL_CLOSE), SQL_SUCCESS);
  // The same column number and C type, now a character column.
  exec(s, "select t, n from kinds order by t");
  for (const char* want : {"eight", "five", "seven", "x"}) {
    ASSERT_EQ(SQLFetch(s), SQL_SUCCESS);
    char text[32] = "";
    SQLLEN length = 0;
    ASSERT_EQ(SQLGetData(s, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_EQ(std::string(text), want);
    EXPECT_EQ(length, static_cast<SQLLEN>(std::strlen(want)));
    EXPECT_EQ(SQLGetData(s, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_NO_DATA) << want;  // handed out
  }
  SQLFreeHandle(SQL_HANDLE_STMT, s);
}

// SQLGetData's quick way (the statement the thread used last, a value that
// goes straight into its C type) and the way of everything else give the
// same: two statements read in turn, bound columns read again, columns out
// of order and twice, NULLs with and without an indicator, a cut text.
TEST_F(UnicodeEndToEnd, GetDataTheQuickWayAndTheOtherWayAgree) {
  connect();
  SQLHSTMT s = statement();
  exec(s, "create table mixed (k integer, d double, t varchar(10), day date)");
  exec(s, "insert into mixed values (1, 2.5, 'one', '2024-02-29'), (2, null, null, null), "
          "(3, -0.125, 'three', '1999-12-31')");
  SQLHSTMT a = statement(), b = statement();
  exec(a, "select k, d, t, day from mixed order by k");
  exec(b, "select k, d, t, day from mixed order by k desc");
  SQLINTEGER bound_k = 0;
  SQLLEN bound_k_length = 0;
  ASSERT_EQ(SQLBindCol(a, 1, SQL_C_SLONG, &bound_k, 0, &bound_k_length), SQL_SUCCESS);

  auto integer = [&](SQLHSTMT st, SQLUSMALLINT column) {
    SQLINTEGER v = -1;
    SQLLEN length = 0;
    EXPECT_EQ(SQLGetData(st, column, SQL_C_SLONG, &v, 0, &length), SQL_SUCCESS) << diag(SQL_HANDLE_STMT, st);
    return length == SQL_NULL_DATA ? -1000 : v;
  };
  auto text = [&](SQLHSTMT st, SQLUSMALLINT column) -> std::string {
    char v[16] = "untouched";
    SQLLEN length = 0;
    SQLRETURN rc = SQLGetData(st, column, SQL_C_CHAR, v, sizeof v, &length);
    if (rc == SQL_NO_DATA) return "no data";
    EXPECT_EQ(rc, SQL_SUCCESS) << diag(SQL_HANDLE_STMT, st);
    return length == SQL_NULL_DATA ? std::string("null:") + v : v;
  };
  auto real = [&](SQLHSTMT st, SQLUSMALLINT column) {
    double v = -1;
    SQLLEN length = 0;
    EXPECT_EQ(SQLGetData(st, column, SQL_C_DOUBLE, &v, 0, &length), SQL_SUCCESS);
    return length == SQL_NULL_DATA ? -1000.0 : v;
  };

  // Row 1 of a (bound k) and row 3 of b, read in turn.
  ASSERT_EQ(SQLFetch(a), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(b), SQL_SUCCESS);
  EXPECT_EQ(bound_k, 1);
  EXPECT_EQ(text(a, 4), "2024-02-29");  // out of order
  EXPECT_EQ(integer(b, 1), 3);
  EXPECT_EQ(integer(a, 1), 1);  // the bound column again
  EXPECT_EQ(real(b, 2), -0.125);
  EXPECT_EQ(real(a, 2), 2.5);
  EXPECT_EQ(real(a, 2), 2.5);  // the same column twice
  EXPECT_EQ(text(b, 3), "three");
  EXPECT_EQ(text(b, 3), "no data");  // a text is handed out once
  EXPECT_EQ(text(a, 3), "one");
  SQL_DATE_STRUCT day{};
  EXPECT_EQ(SQLGetData(b, 4, SQL_C_TYPE_DATE, &day, sizeof day, nullptr), SQL_SUCCESS);
  EXPECT_EQ(day.year * 10000 + day.month * 100 + day.day, 19991231);

  // Row 2 on both: NULLs.
  ASSERT_EQ(SQLFetch(a), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(b), SQL_SUCCESS);
  EXPECT_EQ(bound_k, 2);
  EXPECT_EQ(real(a, 2), -1000.0);
  EXPECT_EQ(text(b, 3), "null:");
  EXPECT_EQ(integer(b, 1), 2);
  double unread = 7;
  EXPECT_EQ(SQLGetData(a, 2, SQL_C_DOUBLE, &unread, 0, nullptr), SQL_ERROR);  // NULL without an indicator
  EXPECT_EQ(state_of(a), "22002");
  EXPECT_EQ(unread, 7);

  // Row 3 of a: a text cut into pieces, then the whole number again.
  ASSERT_EQ(SQLFetch(a), SQL_SUCCESS);
  char piece[3];
  SQLLEN length = 0;
  EXPECT_EQ(SQLGetData(a, 3, SQL_C_CHAR, piece, sizeof piece, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(std::string(piece), "th");
  EXPECT_EQ(length, 5);
  EXPECT_EQ(state_of(a), "01004");
  EXPECT_EQ(text(a, 3), "ree");
  EXPECT_EQ(integer(a, 1), 3);
  EXPECT_EQ(state_of(a), "none");  // each call reports its own
  EXPECT_EQ(SQLFetch(a), SQL_NO_DATA);
  SQLFreeHandle(SQL_HANDLE_STMT, a);
  SQLFreeHandle(SQL_HANDLE_STMT, b);
  SQLFreeHandle(SQL_HANDLE_STMT, s);
}
