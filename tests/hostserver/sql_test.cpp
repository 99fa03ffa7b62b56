// SQL on SQLite through the protocol: describe and fetch replies, blocks,
// parameters, transactions, cancel and error items.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/hostserver/raw_client.h"
#include "tests/support/test_env.h"

using rawclient::Column;
using rawclient::Msg;
using rawclient::RawClient;
using rawclient::Row;

namespace {

std::string fixed(unsigned width, unsigned long long value) {
  std::string s = std::to_string(value);
  return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

// A parameter entry: number, type, precision, scale, null flag, value.
std::string entry(unsigned number, const std::string& type, const std::string& value, unsigned scale = 0,
                  bool null = false) {
  return fixed(4, number) + type + "0010" + fixed(2, scale) + (null ? "1" : "0") + value;
}

class SqlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rawclient::use_own_build(); }
  void SetUp() override {
    server = std::make_unique<testsupport::HostServer>(
        std::vector<std::string>{"--database", (dir / "host.sqlite").string()});
  }
  std::unique_ptr<RawClient> client(unsigned size = 8192) {
    auto c = std::make_unique<RawClient>(server->port());
    EXPECT_EQ(c->login("DEMO/DEMO.CFG.", size).status(), '0');
    return c;
  }
  // Runs statements that must succeed.
  void run(RawClient& c, const std::string& id, std::initializer_list<const char*> sql) {
    for (const char* s : sql) ASSERT_EQ(c.exec(id, s).status, '0') << s << ": " << c.exec(id, s).first.error_text();
  }
  testsupport::TempDir dir;
  std::unique_ptr<testsupport::HostServer> server;
};

constexpr const char* kAllTypes =
    "CREATE TABLE all_types (b BIT, c CHAR(5), v VARCHAR(20), l LONGVARCHAR, n NUMERIC(7,2) NOT NULL DEFAULT 0, "
    "i INTEGER, s SMALLINT, d DOUBLE, dt DATE, t TIME, ts TIMESTAMP)";

TEST_F(SqlTest, DescribeAndFetchEveryType) {
  auto c = client();
  std::string id = c->alloc();
  run(*c, id,
      {kAllTypes,
       "INSERT INTO all_types VALUES (1, 'abc', 'hello', 'long text', 123.45, -7, 300, 0.5, '1999-12-31', "
       "'23:59:58', '2024-01-02 03:04:05.25')",
       "INSERT INTO all_types (n) VALUES (-0.07)"});
  auto d = c->exec(id, "SELECT * FROM all_types");
  ASSERT_EQ(d.status, '0');
  EXPECT_EQ(d.row_count, -1);
  // Character lengths in UTF-8 bytes (four a character); INTEGER is
  // SQLite's 64-bit integer, NUMERIC(19,0) on the wire.
  std::vector<Column> expected{{"b", -7, 1, 0, 1},       {"c", 12, 20, 0, 1},    {"v", 12, 80, 0, 1},
                               {"l", -1, 999, 0, 1},     {"n", 2, 7, 2, 0},      {"i", 2, 19, 0, 1},
                               {"s", 5, 5, 0, 1},        {"d", 8, 15, 0, 1},     {"dt", 9, 10, 0, 1},
                               {"t", 10, 8, 0, 1},       {"ts", 11, 29, 9, 1}};
  EXPECT_EQ(d.columns, expected);

  // The fetch reply, byte for byte: status, last-block flag, then the rows
  // and the end marker.
  c->send(1, 4, id);
  auto m = c->receive();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->type, 1u);
  EXPECT_EQ(m->code, 4u);
  EXPECT_EQ(m->data, std::string("01") +
                         "0" "1" "003abc" "005hello" "009long text" "0012345" "-0000000000000000007" "00300" "030.5"
                         "19991231" "235958" "20240102030405250000000" +
                         "0" "N" "N" "N" "N" "-0000007" "N" "N" "N" "N" "N" "N" +
                         "1");
  EXPECT_EQ(c->request(1, 4, id).data, "5");  // after the end: no more rows
  EXPECT_EQ(c->request(1, 4, id).data, "5");
}

TEST_F(SqlTest, ExpressionsAndValuesTheirTypeCannotHold) {
  auto c = client();
  std::string id = c->alloc();
  run(*c, id, {"CREATE TABLE t (k SMALLINT, v VARCHAR(3))", "INSERT INTO t VALUES (1, 'a'), (2, 'b'), (99999, 'c')",
               "INSERT INTO t VALUES (4, 'four'), (5, printf('%.1000c', 'x'))"});
  // Expressions are described from what SQLite can tell before a row is
  // read: the same with or without rows, with or without parameters.
  const char* sql = "SELECT count(*) AS n, 1.5 AS r, 'x' AS s, NULL AS z, 3000000000 AS big, sum(k) AS total FROM t";
  std::vector<Column> described{{"n", 2, 19, 0, 1},  {"r", 8, 15, 0, 1},   {"s", 12, 999, 0, 1},
                                {"z", 12, 999, 0, 1}, {"big", 2, 19, 0, 1}, {"total", 2, 19, 0, 1}};
  auto d = c->exec(id, sql);
  ASSERT_EQ(d.status, '0');
  EXPECT_EQ(d.columns, described);
  auto f = c->fetch_all(id, d.columns);
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0], (Row{"0000000000000000005", "1.5", "x", std::nullopt, "0000000003000000000",
                            "0000000000000100011"}));
  EXPECT_EQ(c->exec(id, std::string(sql) + " WHERE k < 0").columns, described);
  EXPECT_EQ(c->statement(10, id, std::string(sql) + " WHERE k = ?").columns, described);

  // A row whose value its column cannot hold is refused where it falls, with
  // the rows before it delivered; the next fetch goes on after it.
  d = c->exec(id, "SELECT k FROM t ORDER BY rowid");
  f = c->fetch_all(id, d.columns);
  ASSERT_EQ(f.rows.size(), 2u);
  EXPECT_EQ(f.failure.error_index(), 3u);
  EXPECT_EQ(f.failure.error_text(), "Value 99999 of column k does not fit its type SMALLINT: out of range");
  f = c->fetch_all(id, d.columns);
  EXPECT_EQ(f.rows, (std::vector<Row>{{"00004"}, {"00005"}}));
  EXPECT_TRUE(f.end_marker);
  EXPECT_EQ(c->request(1, 4, id).data, "5");
  // Longer than declared goes whole; longer than the wire carries is refused.
  d = c->exec(id, "SELECT v FROM t ORDER BY rowid");
  f = c->fetch_all(id, d.columns);
  EXPECT_EQ(f.rows.size(), 4u);
  EXPECT_EQ(*f.rows[3][0], "four");
  EXPECT_NE(f.failure.error_text().find("of column v does not fit its type VARCHAR(12)"), std::string::npos)
      << f.failure.error_text();
}

TEST_F(SqlTest, NullabilityFollowsATableMadeAgainWithAnotherKey) {
  // An INTEGER column that is the whole primary key is the rowid (never
  // NULL); in a key of two columns it may be NULL.  The host remembers a
  // table's key between queries: a table made again with another key, by
  // this client (also inside its transaction) or by another, must be seen.
  auto c = client();
  auto other = client();
  std::string id = c->alloc(), other_id = other->alloc();
  const char* query = "SELECT a FROM t";
  auto nullable = [&] { return c->exec(id, query).columns.at(0).nullable; };
  run(*c, id, {"CREATE TABLE t (a INTEGER PRIMARY KEY, b INTEGER)"});
  EXPECT_EQ(nullable(), 0);
  run(*other, other_id, {"DROP TABLE t", "CREATE TABLE t (a INTEGER, b INTEGER, PRIMARY KEY (a, b))"});
  EXPECT_EQ(nullable(), 1);
  run(*c, id, {"BEGIN", "DROP TABLE t", "CREATE TABLE t (a INTEGER PRIMARY KEY)"});
  EXPECT_EQ(nullable(), 0);
  run(*c, id, {"ROLLBACK"});
  EXPECT_EQ(nullable(), 1);
  // A prepared statement that changes the key, executed later.
  auto p = c->statement(10, id, "CREATE TABLE u (a INTEGER PRIMARY KEY)");
  ASSERT_EQ(p.status, '0');
  std::string id2 = c->alloc();
  ASSERT_EQ(c->exec(id2, "CREATE TABLE u (a INTEGER, b INTEGER, PRIMARY KEY (a, b))").status, '0');
  EXPECT_EQ(c->exec(id2, "SELECT a FROM u").columns.at(0).nullable, 1);
  run(*c, id2, {"DROP TABLE u"});
  ASSERT_EQ(c->statement(11, id, "").status, '0');
  EXPECT_EQ(c->exec(id2, "SELECT a FROM u").columns.at(0).nullable, 0);
}

TEST_F(SqlTest, ARefusedRowOpeningABlockSendsNoRowData) {
  // The bad value in the first row of the first block, and in the first row
  // of a later block (read ahead or not): the reply is the error item alone.
  auto c = client(256);
  std::string id = c->alloc();
  run(*c, id, {"CREATE TABLE one (c CHAR(6), d DATE)", "INSERT INTO one VALUES (printf('%.1000c', 'x'), 'not a date')",
               "CREATE TABLE many (k INTEGER, d DATE)",
               "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n WHERE x < 40) "
               "INSERT INTO many SELECT x, '2024-01-01' FROM n"});
  for (const char* sql : {"SELECT c FROM one", "SELECT d FROM one"}) {
    auto d = c->exec(id, sql);
    c->send(1, 4, id);
    auto m = c->receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->status(), '9') << sql << ": " << m->data;
    EXPECT_EQ(m->error_index(), 3u);
    EXPECT_NE(m->error_text().find("of column"), std::string::npos);
    EXPECT_EQ(c->fetch_all(id, d.columns).rows.size(), 0u);
  }
  // A row is 30 bytes here and a block 480: row 17 opens the second block.
  run(*c, id, {"UPDATE many SET d = 'not a date' WHERE k = 17"});
  auto d = c->exec(id, "SELECT k, d FROM many ORDER BY k");
  auto f = c->fetch_all(id, d.columns);
  ASSERT_EQ(f.rows.size(), 16u);
  EXPECT_EQ(f.fetches, 2);
  EXPECT_NE(f.failure.error_text().find("'not a date' of column d"), std::string::npos);
  f = c->fetch_all(id, d.columns);
  ASSERT_EQ(f.rows.size(), 23u);
  EXPECT_EQ(*f.rows[0][0], fixed(19, 18));
  EXPECT_TRUE(f.end_marker);
}

TEST_F(SqlTest, BlocksFitTheClientsRowAreaAndNeverSplitARowAcrossFetches) {
  for (unsigned size : {256u, 8192u}) {
    auto c = client(size);
    std::string id = c->alloc();
    if (size == 256)
      run(*c, id, {"CREATE TABLE r (k INTEGER, name VARCHAR(40))",
                   "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n WHERE x < 3000) "
                   "INSERT INTO r SELECT x, 'row number ' || x FROM n"});
    auto d = c->exec(id, "SELECT k, name FROM r ORDER BY k");
    auto f = c->fetch_all(id, d.columns);
    ASSERT_EQ(f.rows.size(), 3000u) << size;
    for (size_t i = 0; i < f.rows.size(); ++i) ASSERT_EQ(*f.rows[i][0], fixed(19, i + 1));
    EXPECT_TRUE(f.end_marker);
    EXPECT_LE(f.largest_message, size - 14) << size;
    EXPECT_LE(f.messages, 2 * f.fetches) << size;
    // Each fetch brings a block of two messages' data (rows of about 40
    // bytes here), not one row.
    size_t per_fetch = 2 * (size - 14 - 2);
    EXPECT_LE(f.fetches, static_cast<int>(3000 * 40 / per_fetch + 10)) << size;
    EXPECT_GT(f.messages, f.fetches) << size;
  }
}

TEST_F(SqlTest, ColumnItemsThatDoNotFitGoInContinuationMessages) {
  auto c = client(256);
  std::string id = c->alloc();
  std::string sql = "SELECT 'v0' AS a_rather_long_column_name_number_00";
  for (int i = 1; i < 40; ++i) sql += ", 'v" + std::to_string(i) + "' AS a_rather_long_column_name_number_" + fixed(2, i);
  auto d = c->exec(id, sql);
  ASSERT_EQ(d.status, '0');
  ASSERT_EQ(d.columns.size(), 40u);
  EXPECT_GE(d.messages, 8);  // 46-byte items, five to a message
  EXPECT_EQ(d.columns[39].name, "a_rather_long_column_name_number_39");
  auto f = c->fetch_all(id, d.columns);
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(*f.rows[0][39], "v39");
  // The same through prepare, and through the catalog.
  d = c->statement(10, id, sql);
  EXPECT_EQ(d.columns.size(), 40u);
}

TEST_F(SqlTest, ParametersOfEveryTypeArriveAsTheirValues) {
  auto c = client();
  std::string id = c->alloc();
  run(*c, id, {kAllTypes});
  std::string params = entry(1, "-07", "1") + entry(2, "01", "003abc") + entry(3, "12", "005hello") +
                       entry(4, "-01", "004long") + entry(5, "02", "04125.", 1) + entry(6, "04", "-0000000007") +
                       entry(7, "05", "00300") + entry(8, "08", "030.5") + entry(9, "09", "19991231") +
                       entry(10, "10", "235958") + entry(11, "11", "20240102030405250000000");
  auto d = c->statement(9, id, "INSERT INTO all_types VALUES (?,?,?,?,?,?,?,?,?,?,?)", params, 11);
  ASSERT_EQ(d.status, '0') << d.first.error_text();
  EXPECT_EQ(d.row_count, 1);
  d = c->exec(id, "SELECT quote(b), quote(c), quote(v), quote(l), quote(n), quote(i), quote(s), quote(d), "
                  "quote(dt), quote(t), quote(ts) FROM all_types");
  auto f = c->fetch_all(id, d.columns);
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0], (Row{"1", "'abc'", "'hello'", "'long'", "12.5", "-7", "300", "0.5", "'1999-12-31'",
                            "'23:59:58'", "'2024-01-02 03:04:05.25'"}));

  // Prepare once, execute with new values each time; NULLs of any type.
  d = c->statement(10, id, "INSERT INTO all_types (i, v) VALUES (?, ?)");
  ASSERT_EQ(d.status, '0');
  EXPECT_EQ(d.markers, 2u);
  EXPECT_TRUE(d.columns.empty());
  for (int k = 1; k <= 3; ++k) {
    d = c->statement(11, id, "", entry(1, "04", fixed(10, k)) + entry(2, "12", "", 0, true), 2);
    ASSERT_EQ(d.status, '0') << d.first.error_text();
    EXPECT_EQ(d.row_count, 1);
  }
  d = c->statement(10, id, "SELECT count(*) FROM all_types WHERE i > ? AND v IS NULL");
  EXPECT_EQ(d.markers, 1u);
  ASSERT_EQ(d.columns.size(), 1u);
  EXPECT_EQ(d.columns[0].type, 2);
  auto columns = d.columns;
  d = c->statement(11, id, "", entry(1, "04", fixed(10, 1)), 1);
  EXPECT_EQ(d.row_count, -1);
  f = c->fetch_all(id, columns);
  EXPECT_EQ(f.rows, (std::vector<Row>{{"0000000000000000002"}}));

  // Parameters first, the text in a later message (as a long request goes).
  EXPECT_EQ(c->request(1, 9, id + "100001" + entry(1, "04", fixed(10, 42))).data, "000000000000000");
  c->send(1, 9, id + "010000" + "UPDATE all_types SET s = ? WHERE i = 1");
  d = c->describe(9, *c->receive());
  ASSERT_EQ(d.status, '0') << d.first.error_text();
  EXPECT_EQ(d.row_count, 1);

  struct Bad {
    const char* what;
    std::string data;
    unsigned index;
  } bad[] = {
      {"continuation without a start", id + "010000SELECT 1", 7},
      {"a marker without a value", id + "110000SELECT ?", 6},
      {"malformed entry", id + "110001" + "0001xx", 6},
      {"execute without prepare", "", 7},
  };
  std::string other = c->alloc();
  // One request in collection per client: starting another ends the first.
  EXPECT_EQ(c->request(1, 9, id + "100000SELECT ").status(), '0');
  EXPECT_EQ(c->request(1, 9, other + "100000SELECT ").status(), '0');
  EXPECT_EQ(c->request(1, 9, id + "010000 1").error_index(), 7u);
  for (auto& b : bad) {
    Msg m = b.data.empty() ? c->request(1, 11, other + "110000") : c->request(1, 9, b.data);
    EXPECT_EQ(m.status(), '9') << b.what;
    EXPECT_EQ(m.error_index(), b.index) << b.what << ": " << m.error_text();
  }
}

TEST_F(SqlTest, TransactionsStayWithTheirConnectionUntilTheyEnd) {
  auto a = client();
  auto b = client();
  std::string ia = a->alloc(), ib = b->alloc();
  run(*a, ia, {"CREATE TABLE acct (k INTEGER PRIMARY KEY, v INTEGER)"});
  auto count = [&](RawClient& c, const std::string& id) {
    auto d = c.exec(id, "SELECT count(*) FROM acct");
    return *c.fetch_all(id, d.columns).rows.at(0).at(0);
  };
  EXPECT_EQ(a->request(1, 17, ia + "0").data, "0");  // autocommit off
  run(*a, ia, {"INSERT INTO acct VALUES (1, 10)"});
  EXPECT_EQ(count(*b, ib), fixed(19, 0));
  EXPECT_EQ(count(*a, ia), fixed(19, 1));
  EXPECT_EQ(a->request(1, 18, "00ab0").data, "0");  // commit
  EXPECT_EQ(count(*b, ib), fixed(19, 1));
  run(*a, ia, {"INSERT INTO acct VALUES (2, 20)"});
  EXPECT_EQ(a->request(1, 18, "00ab1").data, "0");  // rollback
  EXPECT_EQ(count(*a, ia), fixed(19, 1));
  EXPECT_EQ(count(*b, ib), fixed(19, 1));
  // A statement allocated with autocommit off starts one too; switching
  // autocommit on commits it.
  std::string ic = b->alloc('0');
  run(*b, ic, {"UPDATE acct SET v = 11"});
  auto d = a->exec(ia, "SELECT v FROM acct");
  EXPECT_EQ(*a->fetch_all(ia, d.columns).rows.at(0).at(0), fixed(19, 10));
  EXPECT_EQ(a->request(1, 18, "00ab0").data, "0");  // ends a's read transaction
  EXPECT_EQ(b->request(1, 17, ib + "1" + ic + "1").data, "0");
  d = a->exec(ia, "SELECT v FROM acct");
  EXPECT_EQ(*a->fetch_all(ia, d.columns).rows.at(0).at(0), fixed(19, 11));
  EXPECT_EQ(a->request(1, 17, "").error_index(), 6u);
}

TEST_F(SqlTest, CancelStopsTheOutstandingFetchAndLeavesTheStatementUsable) {
  auto c = client();
  std::string id = c->alloc();
  // One row at once, then a search that never ends.
  auto d = c->exec(id, "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n) "
                       "SELECT x FROM n WHERE x = 1 OR x < 0");
  ASSERT_EQ(d.status, '0');
  c->send(1, 4, id);
  c->send(0, 5, id);
  std::vector<Msg> before;
  for (;;) {
    auto m = c->receive();
    ASSERT_TRUE(m);
    if (m->type == 1 && m->code == 19) {
      EXPECT_EQ(m->data, "0" + id);
      break;
    }
    before.push_back(*m);
  }
  EXPECT_LE(before.size(), 2u);  // at most the fetch's reply came first
  EXPECT_EQ(c->request(1, 4, id).data, "5");
  d = c->exec(id, "SELECT 2");
  ASSERT_EQ(d.status, '0');
  EXPECT_EQ(c->fetch_all(id, d.columns).rows, (std::vector<Row>{{fixed(19, 2)}}));
  // Closing, or running something new on, a statement whose rows are still
  // being read ahead stops that reading; the request does not wait for it.
  const char* endless =
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n) SELECT x FROM n WHERE x = 1 OR x < 0";
  ASSERT_EQ(c->exec(id, endless).status, '0');
  EXPECT_EQ(c->request(1, 2, id + "0").data, "0");
  ASSERT_EQ(c->exec(id, endless).status, '0');
  d = c->exec(id, "SELECT 3");
  EXPECT_EQ(c->fetch_all(id, d.columns).rows, (std::vector<Row>{{fixed(19, 3)}}));
  // A cancel with nothing running is acknowledged all the same.
  c->send(0, 5, id);
  auto ack = c->receive();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->code, 19u);
}

TEST_F(SqlTest, ParameterSetsRunThePreparedStatementOncePerSet) {
  auto c = client();
  std::string id = c->alloc();
  run(*c, id, {"CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(5))"});
  auto sets = [&](const std::string& sets_and_entries) { return c->request(1, 20, id + sets_and_entries); };
  // Not prepared yet.
  EXPECT_EQ(sets("00010001" + entry(1, "04", "0000000001")).error_index(), 7u);
  ASSERT_EQ(c->statement(10, id, "INSERT INTO t VALUES (?, ?)").status, '0');
  auto ok = sets("00030002" + entry(1, "04", "0000000001") + entry(2, "12", "001a") +
                 entry(1, "04", "0000000002") + entry(2, "12", "002bb") + entry(1, "04", "0000000003") +
                 entry(2, "12", "", 0, true));
  // Status, three sets run, three rows, the last set's status.
  EXPECT_EQ(ok.data, "0" "0003" "0000000003" "0");
  // The second set fails: the first keeps its row, the third does not run.
  auto failed = sets("00030002" + entry(1, "04", "0000000004") + entry(2, "12", "001d") +
                     entry(1, "04", "0000000001") + entry(2, "12", "001x") + entry(1, "04", "0000000005") +
                     entry(2, "12", "001e"));
  ASSERT_GE(failed.data.size(), 16u);
  EXPECT_EQ(failed.data.substr(0, 16), "0" "0002" "0000000001" "9");
  EXPECT_EQ(failed.data.substr(16, 4), "0025");  // 23000
  auto count = c->exec(id, "SELECT count(*), sum(k) FROM t");
  ASSERT_EQ(count.status, '0');
  EXPECT_EQ(c->fetch_all(id, count.columns).rows.at(0), (Row{"0000000000000000004", "0000000000000000010"}));
  // A statement with a result takes one set at a time.
  ASSERT_EQ(c->statement(10, id, "SELECT v FROM t WHERE k = ?").status, '0');
  EXPECT_EQ(sets("00010001" + entry(1, "04", "0000000001")).error_index(), 11u);
  EXPECT_EQ(c->request(1, 20, id + "0x").error_index(), 6u);
}

TEST_F(SqlTest, SqliteFailuresBecomeErrorItemsOfTheTable) {
  auto c = client();
  std::string id = c->alloc();
  run(*c, id, {"CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(5) NOT NULL CHECK (v <> 'x'))",
               "INSERT INTO t VALUES (1, 'a')"});
  struct Case {
    const char* sql;
    unsigned index;
  } cases[] = {
      {"SELEC 1", 15},
      {"SELECT * FROM t WHERE", 15},
      {"SELECT 1; SELECT 2", 15},
      {"   ", 15},
      {"SELECT * FROM nosuch", 1},
      {"SELECT nosuch FROM t", 2},
      // Constraints: 23000.
      {"INSERT INTO t VALUES (1, 'b')", 25},
      {"INSERT INTO t VALUES (2, NULL)", 25},
      {"INSERT INTO t VALUES (3, 'x')", 25},
  };
  for (auto& t : cases) {
    auto d = c->exec(id, t.sql);
    EXPECT_EQ(d.status, '9') << t.sql;
    EXPECT_EQ(d.first.error_index(), t.index) << t.sql << ": " << d.first.error_text();
  }
  // Changes are counted; statements without a result have no rows to fetch.
  EXPECT_EQ(c->exec(id, "INSERT INTO t VALUES (2, 'b'), (3, 'c')").row_count, 2);
  EXPECT_EQ(c->exec(id, "UPDATE t SET v = 'z' WHERE k > 1").row_count, 2);
  EXPECT_EQ(c->exec(id, "CREATE INDEX t_v ON t(v)").row_count, 0);
  EXPECT_EQ(c->request(1, 4, id).error_index(), 7u);
  EXPECT_EQ(c->request(1, 4, "9999").error_index(), 3u);
  EXPECT_EQ(c->exec(id, "SELECT v FROM t WHERE k = 3").row_count, -1);
  EXPECT_EQ(c->request(1, 2, id + "0").data, "0");  // SQL_CLOSE
  EXPECT_EQ(c->request(1, 4, id).error_index(), 7u);
}

}  // namespace
