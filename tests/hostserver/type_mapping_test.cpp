// The host's type mapping: declared types, result columns described before
// anything is stepped (expressions from the statement's program), the
// rowid alias rule shared by query descriptions and the catalog.
#include "hostserver/type_mapping.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace hs = hostserver;
using hs::HostType;

namespace {

TEST(DeclaredTypes, MapOntoTheHostsTypes) {
  struct Case {
    const char* declared;
    HostType type;
    unsigned precision, scale;
    bool hex = false;
  } cases[] = {
      // Declared lengths count characters; the wire counts UTF-8 bytes.
      {"CHAR(6)", HostType::Varchar, 24, 0},
      {"character", HostType::Varchar, 4, 0},
      {"VARCHAR(40)", HostType::Varchar, 160, 0},
      {"varchar(300)", HostType::Varchar, 999, 0},
      {"NVARCHAR", HostType::Varchar, 999, 0},
      {"TEXT", HostType::LongVarchar, 999, 0},
      {"LONGVARCHAR", HostType::LongVarchar, 999, 0},
      {"NUMERIC(7,2)", HostType::Numeric, 7, 2},
      {"decimal(9)", HostType::Numeric, 9, 0},
      {"DECIMAL(18,4)", HostType::Numeric, 18, 4},
      {"NUMERIC(19)", HostType::BigInt, 19, 0},
      {"DECIMAL(19,2)", HostType::Double, 15, 0},
      {"NUMERIC", HostType::Double, 15, 0},
      // SQLite's integers have 64 bits.
      {"INTEGER", HostType::BigInt, 19, 0},
      {"int", HostType::BigInt, 19, 0},
      {"BIGINT", HostType::BigInt, 19, 0},
      {"UNSIGNED INTEGERISH", HostType::BigInt, 19, 0},
      {"MEDIUMINT", HostType::Integer, 10, 0},
      {"SMALLINT", HostType::SmallInt, 5, 0},
      {"TINYINT", HostType::SmallInt, 5, 0},
      {"DOUBLE PRECISION", HostType::Double, 15, 0},
      {"REAL", HostType::Double, 15, 0},
      {"FLOAT", HostType::Double, 15, 0},
      {"DATE", HostType::Date, 10, 0},
      {"TIME", HostType::Time, 8, 0},
      {"TIMESTAMP", HostType::Timestamp, 29, 9},
      {"DATETIME", HostType::Timestamp, 29, 9},
      {"TIMESTAMP(3)", HostType::Timestamp, 23, 3},
      {"timestamp(0)", HostType::Timestamp, 19, 0},
      {"BIT", HostType::Bit, 1, 0},
      {"BOOLEAN", HostType::Bit, 1, 0},
      {"BLOB", HostType::LongVarchar, 999, 0, true},
      {"", HostType::Varchar, 999, 0},
      {"MONEY", HostType::Varchar, 999, 0},
  };
  for (auto& c : cases) {
    hs::ColumnShape shape;
    hs::describe_declared(c.declared, shape);
    EXPECT_EQ(shape.type, c.type) << c.declared;
    EXPECT_EQ(shape.precision, c.precision) << c.declared;
    EXPECT_EQ(shape.scale, c.scale) << c.declared;
    EXPECT_EQ(shape.hex, c.hex) << c.declared;
  }
  // 64-bit integers travel as NUMERIC(19,0).
  EXPECT_EQ(hs::wire_code(HostType::BigInt), 2);
  EXPECT_EQ(hs::odbc_code(HostType::BigInt), -5);
}

class Described : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    const char* schema = R"sql(
      CREATE TABLE t (id INTEGER PRIMARY KEY, amount NUMERIC(10,2), name VARCHAR(20) NOT NULL, r REAL,
                      b BIGINT, s SMALLINT, d DATE, ts TIMESTAMP(3), flag BIT, raw BLOB, note TEXT, anything);
      CREATE TABLE pair (a INTEGER NOT NULL, b INTEGER, c INTEGER, PRIMARY KEY (b, c));
      CREATE TABLE wr (k INTEGER PRIMARY KEY, v TEXT) WITHOUT ROWID;
      CREATE INDEX t_name ON t(name, s);
      CREATE VIEW v AS SELECT id, amount * 2 AS doubled, upper(name) AS loud FROM t;
      INSERT INTO t (id, name) VALUES (1, 'x');
    )sql";
    ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  }
  void TearDown() override { sqlite3_close(db); }

  std::vector<hs::ColumnShape> describe(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db);
    std::vector<hs::ColumnShape> out = hs::describe_result(db, stmt);
    sqlite3_finalize(stmt);
    return out;
  }

  sqlite3* db = nullptr;
};

struct Expected {
  HostType type;
  unsigned precision = 0, scale = 0;
};
constexpr Expected kBigInt{HostType::BigInt, 19}, kDouble{HostType::Double, 15}, kText{HostType::Varchar, 999},
    kHex{HostType::LongVarchar, 999};

TEST_F(Described, ExpressionsByWhatTheirValuesCanBe) {
  struct Case {
    const char* sql;
    Expected expected;
  } cases[] = {
      {"select count(*) from t", kBigInt},
      {"select count(name) from t where id = ?", kBigInt},
      {"select sum(b) from t where id = ?", kBigInt},
      {"select sum(amount) from t where id = ?", kDouble},
      {"select avg(b) from t", kDouble},
      {"select total(b) from t", kDouble},
      {"select id * 100000 from t", kBigInt},
      {"select id / 2 from t", kBigInt},
      {"select id + 0.5 from t", kDouble},
      {"select r * 2 from t", kDouble},
      {"select -b from t", kBigInt},
      {"select length(name) from t", kBigInt},
      {"select upper(name) from t", kText},
      {"select name || 'x' from t", kText},
      {"select substr(raw, 1, 2) from t", kHex},
      {"select randomblob(4)", kHex},
      {"select 1", kBigInt},
      {"select 1.5", kDouble},
      {"select 'a'", kText},
      {"select null", kText},
      {"select ?", kText},
      {"select cast(r as integer) from t", kBigInt},
      {"select cast(id as text) from t", kText},
      {"select case when id > 1 then 1 else 2 end from t", kBigInt},
      {"select case when id > 1 then 1 else 'a' end from t", kText},
      {"select coalesce(b, 0) from t", kBigInt},
      {"select abs(s) from t", kBigInt},
      {"select round(r, 2) from t", kDouble},
      {"select date('now')", kText},
      {"select (select max(id) from t)", {HostType::BigInt, 19}},
      {"select typeof(anything) from t", kText},
      {"select anything from t", kText},  // no declared type: anything
      {"select 1 union select 2", kBigInt},
      {"select 1 union all select 'x'", kText},
      {"select 1.5 union select b from t", kDouble},
      {"select x from (select b * 2 as x from t order by r)", kBigInt},
      {"select s, count(*) from t group by s order by 2", {HostType::SmallInt, 5}},
      {"select json_extract(note, '$.a') from t", kText},
      {"select row_number() over (order by id) from t", kBigInt},
      {"with recursive c(n) as (select 1 union all select n + 1 from c where n < 5) select n from c", kBigInt},
      {"select count(*) from t where id in (select b from t) and name like ?", kBigInt},
      {"select group_concat(name) from t join pair on pair.b = t.id", kText},
      {"select sum(r) over (partition by s) from t", kDouble},
      {"select max(b) - min(b) from t having count(*) > 1", kBigInt},
  };
  for (auto& c : cases) {
    auto columns = describe(c.sql);
    ASSERT_FALSE(columns.empty()) << c.sql;
    EXPECT_EQ(columns[0].type, c.expected.type) << c.sql;
    EXPECT_EQ(columns[0].precision, c.expected.precision) << c.sql;
    EXPECT_TRUE(columns[0].nullable) << c.sql;
  }
}

TEST_F(Described, AValueOfOneDeclaredColumnKeepsItsType) {
  struct Case {
    const char* sql;
    Expected expected;
  } cases[] = {
      {"select max(d) from t", {HostType::Date, 10}},
      {"select min(ts) from t", {HostType::Timestamp, 23, 3}},
      {"select max(amount) from t", {HostType::Numeric, 10, 2}},
      {"select coalesce(d, null) from t", {HostType::Date, 10}},
      {"select min(name) from t group by s", {HostType::Varchar, 80}},
      {"select case when id = 1 then d end from t", {HostType::Date, 10}},
      {"select loud, doubled from v", kText},
  };
  for (auto& c : cases) {
    auto columns = describe(c.sql);
    ASSERT_FALSE(columns.empty()) << c.sql;
    EXPECT_EQ(columns[0].type, c.expected.type) << c.sql;
    EXPECT_EQ(columns[0].precision, c.expected.precision) << c.sql;
    EXPECT_EQ(columns[0].scale, c.expected.scale) << c.sql;
  }
  auto view = describe("select doubled from v");
  EXPECT_EQ(view[0].type, HostType::Double);
}

TEST_F(Described, DeclaredColumnsByTypeAndNullability) {
  auto t = describe("select id, amount, name, r, b, s, d, ts, flag, raw, note from t");
  ASSERT_EQ(t.size(), 11u);
  HostType types[] = {HostType::BigInt, HostType::Numeric, HostType::Varchar,   HostType::Double,
                      HostType::BigInt, HostType::SmallInt, HostType::Date,     HostType::Timestamp,
                      HostType::Bit,    HostType::LongVarchar, HostType::LongVarchar};
  for (size_t i = 0; i < t.size(); ++i) EXPECT_EQ(t[i].type, types[i]) << t[i].name;
  EXPECT_FALSE(t[0].nullable);  // the rowid
  EXPECT_FALSE(t[2].nullable);  // NOT NULL
  EXPECT_TRUE(t[1].nullable);
  // Part of a composite key: a rowid table's key columns may hold NULL.
  auto pair = describe("select a, b, c from pair");
  EXPECT_FALSE(pair[0].nullable);
  EXPECT_TRUE(pair[1].nullable);
  EXPECT_TRUE(pair[2].nullable);
  auto wr = describe("select k, v from wr");
  EXPECT_FALSE(wr[0].nullable);
  EXPECT_TRUE(wr[1].nullable);
}

TEST_F(Described, OuterJoinsAndUnionsMayGiveNullWhereTheTableForbidsIt) {
  struct Case {
    const char* sql;
    bool name_nullable;
  } cases[] = {
      {"select t.name from t", false},
      {"select t.name from t join pair on pair.a = t.id", false},
      {"select t.name from pair left join t on pair.a = t.id", true},
      {"SELECT T.NAME FROM PAIR LEFT OUTER JOIN T ON PAIR.A = T.ID", true},
      {"select t.name from pair natural full join t", true},
      {"select t.name from pair right join t on 0", true},
      {"select name from t union all select null", true},
      {"select name from t Union select 'x'", true},
      // The words in literals, quoted names and comments are no joins.
      {"select name from t where name <> 'left join' and \"union\" is null", false},
      {"select name /* union */ from t -- left join\n where 1", false},
      {"select name from t where name <> 'it''s a union'", false},
  };
  ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE t ADD COLUMN \"union\" INTEGER", nullptr, nullptr, nullptr), SQLITE_OK);
  for (auto& c : cases) {
    auto columns = describe(c.sql);
    ASSERT_FALSE(columns.empty()) << c.sql;
    EXPECT_EQ(columns[0].nullable, c.name_nullable) << c.sql;
  }
}

TEST_F(Described, TheCatalogAgreesWithQueries) {
  for (const char* table : {"t", "pair", "wr", "v"}) {
    std::vector<hs::TableColumn> listed;
    std::string error;
    ASSERT_TRUE(hs::describe_table(db, table, listed, error)) << error;
    auto queried = describe(std::string("select * from ") + table);
    ASSERT_EQ(listed.size(), queried.size()) << table;
    for (size_t i = 0; i < listed.size(); ++i) {
      EXPECT_EQ(listed[i].shape.type, queried[i].type) << table << "." << queried[i].name;
      EXPECT_EQ(listed[i].shape.precision, queried[i].precision) << table << "." << queried[i].name;
      EXPECT_EQ(listed[i].shape.nullable, queried[i].nullable) << table << "." << queried[i].name;
    }
  }
  std::vector<hs::TableColumn> pair;
  std::string error;
  ASSERT_TRUE(hs::describe_table(db, "pair", pair, error));
  EXPECT_EQ(pair[1].pk, 1);
  EXPECT_EQ(pair[2].pk, 2);
}

}  // namespace
