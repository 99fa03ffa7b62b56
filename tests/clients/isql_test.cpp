// isql as users run it, through unixODBC against a demo Host Server: the
// table list and a table's columns (catalog functions), a query, an update.
#include <gtest/gtest.h>

#include <string>

#include "common/scramble.h"
#include "tests/support/test_env.h"

namespace {

class Isql : public ::testing::Test {
 protected:
  void SetUp() override {
    config.add_dsn("QuarlDemo", {{"Provider", "TCP/IP"},
                                 {"Connection", server.address()},
                                 {"UID", "DEMO"},
                                 {"PWD", quarl::scramble("DEMO")}});
  }
  // Runs isql in batch mode on the given lines.
  testsupport::CommandResult isql(const std::string& input) {
    return testsupport::run_command("isql -b -v QuarlDemo", input);
  }

  testsupport::OdbcConfig config;
  testsupport::TempDir data;
  testsupport::HostServer server{{"--demo", "--database", (data / "demo.sqlite").string()}};
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(Isql, HelpListsTheTables) {
  auto r = isql("help\n");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* table : {"departments", "employees", "projects", "assignments", "employee_overview"})
    EXPECT_TRUE(has(r.output, table)) << table << "\n" << r.output;
  EXPECT_TRUE(has(r.output, "VIEW")) << r.output;
  EXPECT_FALSE(has(r.output, "[ISQL]ERROR")) << r.output;
}

TEST_F(Isql, HelpTableListsItsColumns) {
  auto r = isql("help departments\n");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* column : {"dept_id", "dept_code", "name", "budget", "active", "founded"})
    EXPECT_TRUE(has(r.output, column)) << column << "\n" << r.output;
  for (const char* type : {"SMALLINT", "CHAR", "VARCHAR", "NUMERIC", "BIT", "DATE"})
    EXPECT_TRUE(has(r.output, type)) << type << "\n" << r.output;
  EXPECT_FALSE(has(r.output, "[ISQL]ERROR")) << r.output;
}

TEST_F(Isql, SelectAndUpdate) {
  auto select = isql("select dept_code, name, budget from departments where dept_id = 20\n");
  ASSERT_EQ(select.status, 0) << select.output;
  EXPECT_TRUE(has(select.output, "ENGR")) << select.output;
  EXPECT_TRUE(has(select.output, "Engineering")) << select.output;
  EXPECT_FALSE(has(select.output, "[ISQL]ERROR")) << select.output;

  auto update = isql("update departments set name = 'Engines' where dept_id = 20\n"
                     "select name from departments where dept_id = 20\n");
  ASSERT_EQ(update.status, 0) << update.output;
  EXPECT_TRUE(has(update.output, "SQLRowCount returns 1")) << update.output;
  EXPECT_TRUE(has(update.output, "Engines")) << update.output;
  EXPECT_FALSE(has(update.output, "[ISQL]ERROR")) << update.output;
}

TEST_F(Isql, ErrorsOfTheHostReachTheUser) {
  auto r = isql("select x from nowhere\n");
  EXPECT_TRUE(has(r.output, "[ISQL]ERROR")) << r.output;
  EXPECT_TRUE(has(r.output, "nowhere")) << r.output;
}

}  // namespace

namespace {

// isql and iusql (unixODBC's wide client) on the Unicode driver.  Both are
// ODBC 2 applications: the driver answers them with ODBC 2's SQLSTATEs and
// catalog names.  iusql widens its input byte by byte and narrows what it
// shows the same way (Latin-1), so text outside Latin-1 is shown only by
// isql.
class IsqlUnicode : public ::testing::Test {
 protected:
  void SetUp() override {
    config.add_dsn("QuarlWide", {{"Driver", "Quarl Unicode"},
                                 {"Provider", "TCP/IP"},
                                 {"Connection", server.address()},
                                 {"UID", "DEMO"},
                                 {"PWD", quarl::scramble("DEMO")}});
  }
  testsupport::CommandResult run(const char* client, const std::string& input) {
    return testsupport::run_command(std::string(client) + " -b -v QuarlWide", input);
  }

  testsupport::OdbcConfig config;
  testsupport::TempDir data;
  testsupport::HostServer server{{"--demo", "--database", (data / "demo.sqlite").string()}};
};

TEST_F(IsqlUnicode, TextReachesBothClientsExactly) {
  auto narrow = run("isql", "create table notes (k integer, s varchar(20))\n"
                            "insert into notes values (1, 'Zoë 東京 😀')\n"
                            "select s from notes\n");
  ASSERT_EQ(narrow.status, 0) << narrow.output;
  EXPECT_TRUE(has(narrow.output, "Zoë 東京 😀")) << narrow.output;
  // The driver hands iusql UTF-16, which iusql shows a unit's low byte a
  // character: 'ë' (U+00EB) as the byte EB, not the two bytes of its UTF-8.
  auto wide = run("iusql", "select length(s), substr(s, 1, 3) from notes\n");
  ASSERT_EQ(wide.status, 0) << wide.output;
  EXPECT_FALSE(has(wide.output, "[ISQL]ERROR")) << wide.output;
  EXPECT_TRUE(has(wide.output, "| 8 ")) << wide.output;
  EXPECT_TRUE(has(wide.output, "| Zo\xeb ")) << wide.output;
}

TEST_F(IsqlUnicode, CatalogAndErrors) {
  for (const char* client : {"isql", "iusql"}) {
    auto help = run(client, "help departments\n");
    ASSERT_EQ(help.status, 0) << client << help.output;
    for (const char* column : {"dept_id", "dept_code", "budget", "founded"})
      EXPECT_TRUE(has(help.output, column)) << client << " " << column << "\n" << help.output;
    auto failed = run(client, "select x from nowhere\n");
    EXPECT_TRUE(has(failed.output, "[ISQL]ERROR")) << client << failed.output;
    EXPECT_TRUE(has(failed.output, "nowhere")) << client << failed.output;
  }
}

}  // namespace
