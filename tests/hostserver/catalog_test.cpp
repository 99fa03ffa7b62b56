// Catalog and type information requests against a small schema.
#include <gtest/gtest.h>

#include "tests/hostserver/raw_client.h"
#include "tests/support/test_env.h"

using rawclient::Column;
using rawclient::RawClient;
using rawclient::Row;

namespace {

std::string name(const std::string& n) {
  std::string len = std::to_string(n.size());
  return std::string(3 - len.size(), '0') + len + n;
}

std::vector<std::string> names_of(const std::vector<Column>& columns) {
  std::vector<std::string> out;
  for (auto& c : columns) out.push_back(c.name);
  return out;
}

// One column of every row (nullopt stays "NULL").
std::vector<std::string> column(const std::vector<Row>& rows, size_t i) {
  std::vector<std::string> out;
  for (auto& r : rows) out.push_back(r.at(i).value_or("NULL"));
  return out;
}

class CatalogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rawclient::use_own_build();
    dir = new testsupport::TempDir;
    server = new testsupport::HostServer({"--database", (*dir / "catalog.sqlite").string()});
    RawClient c(server->port());
    c.login();
    std::string id = c.alloc();
    for (const char* sql : {
             "CREATE TABLE dept (id SMALLINT PRIMARY KEY, name VARCHAR(20) NOT NULL)",
             "CREATE TABLE emp (emp_id INTEGER PRIMARY KEY, dept_id SMALLINT REFERENCES dept(id) ON DELETE CASCADE, "
             "last_name VARCHAR(30) NOT NULL, salary NUMERIC(8,2))",
             "CREATE UNIQUE INDEX emp_name ON emp(last_name)",
             "CREATE INDEX emp_dept ON emp(dept_id)",
             "CREATE TABLE emp_x (k INTEGER)",
             "CREATE TABLE empXx (k INTEGER)",
             "CREATE VIEW emp_view AS SELECT emp_id FROM emp",
             "CREATE TABLE pair (a INTEGER, b VARCHAR(3), PRIMARY KEY (a, b))",
             "CREATE TABLE loose (v DOUBLE, t TIMESTAMP)",
         })
      if (c.exec(id, sql).status != '0') throw std::runtime_error(sql);
  }
  static void TearDownTestSuite() {
    delete server;
    delete dir;
  }
  void SetUp() override {
    c = std::make_unique<RawClient>(server->port());
    c->login();
    id = c->alloc();
  }
  struct Result {
    rawclient::Described described;
    std::vector<Row> rows;
  };
  // A catalog request: the three names, then the fields of the function.
  Result catalog(unsigned code, const std::string& table, const std::string& extra = "",
                 const std::string& qualifier = "", const std::string& owner = "") {
    c->send(1, code, id + name(qualifier) + name(owner) + name(table) + extra);
    Result r{c->describe(code, *c->receive()), {}};
    EXPECT_EQ(r.described.status, '0') << r.described.first.error_text();
    auto f = c->fetch_all(id, r.described.columns);
    EXPECT_TRUE(f.end_marker);
    r.rows = f.rows;
    return r;
  }

  static testsupport::TempDir* dir;
  static testsupport::HostServer* server;
  std::unique_ptr<RawClient> c;
  std::string id;
};
testsupport::TempDir* CatalogTest::dir = nullptr;
testsupport::HostServer* CatalogTest::server = nullptr;

TEST_F(CatalogTest, TablesWithPatterns) {
  auto all = catalog(3, "");
  EXPECT_EQ(names_of(all.described.columns),
            (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE", "REMARKS"}));
  EXPECT_EQ(all.described.columns[2], (Column{"TABLE_NAME", 12, 128, 0, 0}));
  EXPECT_EQ(all.described.row_count, 0);  // not sent for catalog requests
  EXPECT_EQ(column(all.rows, 2),
            (std::vector<std::string>{"dept", "emp", "emp_x", "empXx", "loose", "pair", "emp_view"}));
  EXPECT_EQ(column(all.rows, 3), (std::vector<std::string>{"TABLE", "TABLE", "TABLE", "TABLE", "TABLE", "TABLE", "VIEW"}));
  EXPECT_EQ(column(all.rows, 0), std::vector<std::string>(7, "NULL"));
  struct Case {
    const char* pattern;
    std::vector<std::string> tables;
  } cases[] = {
      {"EMP%", {"emp", "emp_x", "empXx", "emp_view"}},
      {"emp_x", {"emp_x", "empXx"}},
      {"emp\\_x", {"emp_x"}},
      {"%a%", {"pair"}},
      {"%E%t", {"dept"}},
      {"SYS%", {}},
  };
  for (auto& t : cases) EXPECT_EQ(column(catalog(3, t.pattern).rows, 2), t.tables) << t.pattern;
}

TEST_F(CatalogTest, ColumnsInTheHostsTypes) {
  auto r = catalog(6, "emp");
  EXPECT_EQ(names_of(r.described.columns),
            (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "COLUMN_NAME", "DATA_TYPE",
                                      "TYPE_NAME", "PRECISION", "LENGTH", "SCALE", "RADIX", "NULLABLE", "REMARKS"}));
  ASSERT_EQ(r.rows.size(), 4u);
  auto row = [](std::initializer_list<const char*> v) {
    std::vector<std::string> out(v.begin(), v.end());
    return out;
  };
  auto tail = [&](size_t i) {
    std::vector<std::string> out;
    for (size_t k = 3; k < 11; ++k) out.push_back(r.rows[i][k].value_or("NULL"));
    return out;
  };
  EXPECT_EQ(tail(0), row({"emp_id", "-00005", "BIGINT", "0000000019", "0000000008", "00000", "00010", "00000"}));
  EXPECT_EQ(tail(1), row({"dept_id", "00005", "SMALLINT", "0000000005", "0000000002", "00000", "00010", "00001"}));
  EXPECT_EQ(tail(2), row({"last_name", "00012", "VARCHAR", "0000000120", "0000000120", "NULL", "NULL", "00000"}));
  EXPECT_EQ(tail(3), row({"salary", "00002", "NUMERIC", "0000000008", "0000000010", "00002", "00010", "00001"}));
  // The table name is a pattern here.
  EXPECT_EQ(column(catalog(6, "emp\\_%").rows, 2), (std::vector<std::string>{"emp_view", "emp_x"}));
  auto loose = catalog(6, "loose");
  EXPECT_EQ(column(loose.rows, 4), (std::vector<std::string>{"00008", "00011"}));
}

TEST_F(CatalogTest, StatisticsSpecialColumnsAndKeys) {
  auto unique = catalog(7, "emp", "0");
  EXPECT_EQ(names_of(unique.described.columns),
            (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "NON_UNIQUE", "INDEX_QUALIFIER",
                                      "INDEX_NAME", "TYPE", "SEQ_IN_INDEX", "COLUMN_NAME", "COLLATION",
                                      "CARDINALITY", "PAGES", "FILTER_CONDITION"}));
  EXPECT_EQ(column(unique.rows, 5), (std::vector<std::string>{"NULL", "emp_name"}));
  EXPECT_EQ(column(unique.rows, 6), (std::vector<std::string>{"00000", "00003"}));  // table statistics first
  auto all = catalog(7, "emp", "1");
  EXPECT_EQ(column(all.rows, 5), (std::vector<std::string>{"NULL", "emp_name", "emp_dept"}));
  EXPECT_EQ(column(all.rows, 3), (std::vector<std::string>{"NULL", "00000", "00001"}));
  EXPECT_EQ(column(all.rows, 8), (std::vector<std::string>{"NULL", "last_name", "dept_id"}));
  EXPECT_TRUE(catalog(7, "emp_").rows.empty());  // a plain name here, not a pattern

  // SQLSpecialColumns: fColType and fScope follow the names.
  auto best = catalog(5, "pair", "00001" "00000");
  EXPECT_EQ(names_of(best.described.columns),
            (std::vector<std::string>{"SCOPE", "COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "PRECISION", "LENGTH", "SCALE",
                                      "PSEUDO_COLUMN"}));
  EXPECT_EQ(column(best.rows, 1), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(column(catalog(5, "emp", "0000100000").rows, 1), (std::vector<std::string>{"emp_id"}));
  auto rowid = catalog(5, "loose", "0000100000");
  EXPECT_EQ(column(rowid.rows, 1), (std::vector<std::string>{"rowid"}));
  EXPECT_EQ(column(rowid.rows, 7), (std::vector<std::string>{"00002"}));  // SQL_PC_PSEUDO
  EXPECT_TRUE(catalog(5, "emp", "0000200000").rows.empty());               // SQL_ROWVER

  auto keys = catalog(12, "pair");
  EXPECT_EQ(names_of(keys.described.columns),
            (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "COLUMN_NAME", "KEY_SEQ",
                                      "PK_NAME"}));
  EXPECT_EQ(column(keys.rows, 3), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(column(keys.rows, 4), (std::vector<std::string>{"00001", "00002"}));

  // SQLForeignKeys arrives with three empty names: every foreign key.
  auto foreign = catalog(13, "");
  EXPECT_EQ(foreign.described.columns.size(), 13u);
  EXPECT_EQ(foreign.described.columns[3].name, "PKCOLUMN_NAME");
  EXPECT_EQ(foreign.described.columns[7].name, "FKCOLUMN_NAME");
  ASSERT_EQ(foreign.rows.size(), 1u);
  EXPECT_EQ(foreign.rows[0], (Row{std::nullopt, std::nullopt, "dept", "id", std::nullopt, std::nullopt, "emp",
                                  "dept_id", "00001", "00001", "00000", std::nullopt, std::nullopt}));
}

TEST_F(CatalogTest, PrivilegesGoToTheUserWhoLoggedIn) {
  auto tables = catalog(15, "dep%");
  EXPECT_EQ(names_of(tables.described.columns),
            (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "GRANTOR", "GRANTEE",
                                      "PRIVILEGE", "IS_GRANTABLE"}));
  EXPECT_EQ(column(tables.rows, 5), (std::vector<std::string>{"DELETE", "INSERT", "REFERENCES", "SELECT", "UPDATE"}));
  EXPECT_EQ(column(tables.rows, 4), std::vector<std::string>(5, "DEMO"));
  auto columns = catalog(16, "emp", name("%name"));
  EXPECT_EQ(columns.described.columns.size(), 8u);
  EXPECT_EQ(column(columns.rows, 3), std::vector<std::string>(4, "last_name"));
  EXPECT_EQ(column(columns.rows, 6), (std::vector<std::string>{"INSERT", "REFERENCES", "SELECT", "UPDATE"}));
}

TEST_F(CatalogTest, TypeInformationPerRequestedType) {
  auto types = [&](const std::string& wanted) {
    c->send(1, 8, id + wanted);
    auto d = c->describe(8, *c->receive());
    EXPECT_EQ(d.status, '0') << wanted;
    return std::make_pair(d, c->fetch_all(id, d.columns).rows);
  };
  auto [all, rows] = types("00");
  EXPECT_EQ(names_of(all.columns),
            (std::vector<std::string>{"TYPE_NAME", "DATA_TYPE", "PRECISION", "LITERAL_PREFIX", "LITERAL_SUFFIX",
                                      "CREATE_PARAMS", "NULLABLE", "CASE_SENSITIVE", "SEARCHABLE",
                                      "UNSIGNED_ATTRIBUTE", "MONEY", "AUTO_INCREMENT", "LOCAL_TYPE_NAME",
                                      "MINIMUM_SCALE", "MAXIMUM_SCALE"}));
  EXPECT_EQ(column(rows, 1), (std::vector<std::string>{"-00007", "-00005", "-00001", "00001", "00002", "00004",
                                                       "00005", "00008", "00009", "00010", "00011", "00012"}));
  struct Case {
    const char* wanted;
    std::vector<std::string> names;
  } cases[] = {
      {"04", {"INTEGER"}}, {"-07", {"BIT"}},      {"-01", {"LONGVARCHAR"}}, {"93", {"TIMESTAMP"}},
      {"-05", {"BIGINT"}},
      {"91", {"DATE"}},    {"92", {"TIME"}},      {"-09", {}},              {"-03", {}},
      {"03", {}},
  };
  for (auto& t : cases) EXPECT_EQ(column(types(t.wanted).second, 0), t.names) << t.wanted;
  EXPECT_EQ(*types("93").second.at(0).at(2), "0000000029");
  EXPECT_EQ(c->request(1, 8, id + "4").error_index(), 6u);
}

TEST_F(CatalogTest, TheResultColumnsOfOdbc3WhenTheRequestAsks) {
  // Columns: renamed, date and time codes of ODBC 3, six added columns.
  auto cols = catalog(6, "loose", "3");
  EXPECT_EQ(names_of(cols.described.columns),
            (std::vector<std::string>{"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME", "DATA_TYPE",
                                      "TYPE_NAME", "COLUMN_SIZE", "BUFFER_LENGTH", "DECIMAL_DIGITS",
                                      "NUM_PREC_RADIX", "NULLABLE", "REMARKS", "COLUMN_DEF", "SQL_DATA_TYPE",
                                      "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH", "ORDINAL_POSITION", "IS_NULLABLE"}));
  EXPECT_EQ(column(cols.rows, 4), (std::vector<std::string>{"00008", "00093"}));  // DOUBLE, SQL_TYPE_TIMESTAMP
  EXPECT_EQ(column(cols.rows, 13), (std::vector<std::string>{"00008", "00009"}));  // SQL_DATETIME
  EXPECT_EQ(column(cols.rows, 14), (std::vector<std::string>{"NULL", "00003"}));   // SQL_CODE_TIMESTAMP
  EXPECT_EQ(column(cols.rows, 16), (std::vector<std::string>{"0000000001", "0000000002"}));
  auto emp = catalog(6, "emp", "3");
  EXPECT_EQ(column(emp.rows, 15), (std::vector<std::string>{"NULL", "NULL", "0000000120", "NULL"}));
  EXPECT_EQ(column(emp.rows, 17), (std::vector<std::string>{"NO", "YES", "NO", "YES"}));
  // Other functions: renamed columns, and the fields of the function before the digit.
  auto stats = catalog(7, "emp", "13");
  EXPECT_EQ(names_of(stats.described.columns)[7], "ORDINAL_POSITION");
  EXPECT_EQ(names_of(stats.described.columns)[9], "ASC_OR_DESC");
  EXPECT_EQ(column(stats.rows, 5), (std::vector<std::string>{"NULL", "emp_name", "emp_dept"}));  // every index
  auto keys = catalog(13, "", "3");
  EXPECT_EQ(names_of(keys.described.columns).front(), "PKTABLE_CAT");
  EXPECT_EQ(names_of(keys.described.columns).back(), "DEFERRABILITY");
  c->send(1, 8, id + "933");
  auto types = c->describe(8, *c->receive());
  ASSERT_EQ(types.status, '0');
  auto rows = c->fetch_all(id, types.columns).rows;
  EXPECT_EQ(types.columns.size(), 19u);
  EXPECT_EQ(types.columns[2].name, "COLUMN_SIZE");
  EXPECT_EQ(column(rows, 1), (std::vector<std::string>{"00093"}));
  // Without the digit: the ODBC 2 columns, as ever.
  EXPECT_EQ(catalog(6, "loose").described.columns.size(), 12u);
}

TEST(CatalogOctetLength, BinaryColumnsHaveOneToo) {
  // ODBC 3's CHAR_OCTET_LENGTH gives the most bytes of a character or a
  // binary column (binary types reach clients that asked for long values).
  rawclient::use_own_build();
  testsupport::TempDir dir;
  testsupport::HostServer server({"--database", (dir / "octets.sqlite").string()});
  RawClient c(server.port());
  c.login_with_long_values();
  ASSERT_TRUE(c.long_values);
  std::string id = c.alloc();
  ASSERT_EQ(c.exec(id, "CREATE TABLE octets (b VARBINARY(16), t VARCHAR(10), n INTEGER)").status, '0');
  c.send(1, 6, id + name("") + name("") + name("octets") + "3");
  auto described = c.describe(6, *c.receive());
  ASSERT_EQ(described.status, '0') << described.first.error_text();
  auto rows = c.fetch_all(id, described.columns).rows;
  EXPECT_EQ(column(rows, 3), (std::vector<std::string>{"b", "t", "n"}));
  EXPECT_EQ(column(rows, 15), (std::vector<std::string>{column(rows, 7)[0], column(rows, 7)[1], "NULL"}));
  EXPECT_NE(column(rows, 15)[0], "NULL");
}

TEST_F(CatalogTest, ACatalogRequestReplacesWhatWasPrepared) {
  ASSERT_EQ(c->statement(10, id, "SELECT * FROM emp").status, '0');
  catalog(3, "");
  EXPECT_EQ(c->request(1, 11, id + "110000").error_index(), 7u);
  EXPECT_EQ(c->request(1, 3, id + "00").error_index(), 6u);  // names cut short
}

}  // namespace
