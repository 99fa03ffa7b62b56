// SQLGetInfo: integers and texts written exactly to their width, the null
// buffer rules, truncation, refused types and the values taken from the
// connection and the settings.
#include <gtest/gtest.h>
#include <sqlext.h>

#include <cstring>
#include <variant>

#include "driver/core/info.h"
#include "tests/driver/driver_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

class InfoTest : public DriverTest {
 protected:
  // A connection of user "smith" to the stored data source "Sales".
  ConnBlock& smith() {
    config.add_dsn("Sales", {{"Provider", "Scripted"}, {"Connection", "HOST1"}});
    auto& conn = new_conn();
    EXPECT_EQ(sql_connect(conn, (SQLCHAR*)"Sales", SQL_NTS, (SQLCHAR*)"smith", SQL_NTS, (SQLCHAR*)"pw", SQL_NTS),
              SQL_SUCCESS);
    return conn;
  }

  // Calls get_info on a buffer of `size` bytes inside guard bytes.
  struct Answer {
    SQLRETURN rc;
    std::string bytes;  // the buffer's first `size` bytes
    SQLSMALLINT length;
    bool guards_intact;
    std::vector<std::string> diags;
  };
  Answer ask(ConnBlock& conn, unsigned type, SQLSMALLINT size, bool null_buffer = false) {
    constexpr int kGuard = 8;
    size_t room = size > 0 ? static_cast<size_t>(size) : 0;
    std::vector<char> buffer(room + 2 * kGuard, '\x5A');
    Answer a{};
    a.length = -77;
    a.rc = get_info(conn, static_cast<SQLUSMALLINT>(type), null_buffer ? nullptr : buffer.data() + kGuard, size,
                    &a.length);
    a.bytes.assign(buffer.data() + kGuard, room);
    a.guards_intact = true;
    for (int i = 0; i < kGuard; ++i)
      if (buffer[i] != '\x5A' || buffer[buffer.size() - 1 - i] != '\x5A') a.guards_intact = false;
    if (null_buffer && a.bytes != std::string(room, '\x5A')) a.guards_intact = false;
    a.diags = take_all(conn.errors);
    return a;
  }
};

template <typename T>
std::string bytes_of(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

TEST_F(InfoTest, ValuesAreWrittenToTheirExactWidth) {
  auto& conn = smith();
  struct Case {
    unsigned type;
    std::variant<uint16_t, uint32_t, std::string> value;
  } cases[] = {
      {SQL_ACTIVE_STATEMENTS, uint16_t{0}},
      {SQL_MAX_COLUMN_NAME_LEN, uint16_t{29}},
      {SQL_MAX_COLUMNS_IN_TABLE, uint16_t{8192}},
      {SQL_QUOTED_IDENTIFIER_CASE, uint16_t{SQL_IC_UPPER}},
      {SQL_TXN_CAPABLE, uint16_t{SQL_TC_DML}},
      {SQL_FETCH_DIRECTION, uint32_t{SQL_FD_FETCH_NEXT}},
      {SQL_NUMERIC_FUNCTIONS, uint32_t{0x00D31321}},
      {SQL_STRING_FUNCTIONS, uint32_t{0x00041EDD}},
      {SQL_TIMEDATE_FUNCTIONS, uint32_t{0x00019FFF}},
      {SQL_CONVERT_BIGINT, uint32_t{0xFFFFFFFF}},
      {SQL_CONVERT_LONGVARBINARY, uint32_t{0xFFFFFFFF}},
      {SQL_GETDATA_EXTENSIONS, uint32_t{11}},
      {SQL_MAX_STATEMENT_LEN, uint32_t{9216}},
      {115, uint32_t{31}},
      {65003, uint32_t{31}},
      {SQL_DRIVER_NAME, std::string("QUARL.DLL")},
      {SQL_DRIVER_ODBC_VER, std::string("02.00")},
      {SQL_DBMS_VER, std::string("01.00.0000 DMSII")},
      {SQL_SEARCH_PATTERN_ESCAPE, std::string("\\")},
      {SQL_IDENTIFIER_QUOTE_CHAR, std::string("\"")},
      {SQL_DATABASE_NAME, std::string()},
      {SQL_DATA_SOURCE_NAME, std::string("Sales")},
      {SQL_SERVER_NAME, std::string("Quarl Host Server")},  // the version reply's text, at most 17
      {SQL_USER_NAME, std::string("SMITH")},                  // upper-cased
      {SQL_OUTER_JOINS, std::string("F")},                    // "full outer joins" defaults to 1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Answer a = ask(conn, c.type, 32);
    EXPECT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_TRUE(a.guards_intact);
    EXPECT_TRUE(a.diags.empty()) << testing::PrintToString(a.diags);
    if (auto* v16 = std::get_if<uint16_t>(&c.value)) {
      EXPECT_EQ(a.length, 2);
      EXPECT_EQ(a.bytes.substr(0, 2), bytes_of(*v16));
      EXPECT_EQ(a.bytes.substr(2), std::string(30, '\x5A'));  // nothing past the value
    } else if (auto* v32 = std::get_if<uint32_t>(&c.value)) {
      EXPECT_EQ(a.length, 4);
      EXPECT_EQ(a.bytes.substr(0, 4), bytes_of(*v32));
      EXPECT_EQ(a.bytes.substr(4), std::string(28, '\x5A'));
    } else {
      const std::string& text = std::get<std::string>(c.value);
      EXPECT_EQ(a.length, static_cast<SQLSMALLINT>(text.size()));
      EXPECT_EQ(a.bytes.substr(0, text.size() + 1), text + '\0');
    }
  }
}

TEST_F(InfoTest, TextsAreCutToTheBufferWithAWarning) {
  auto& conn = smith();
  Answer cut = ask(conn, SQL_DRIVER_NAME, 5);
  EXPECT_EQ(cut.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(cut.bytes, std::string("QUAR\0", 5));
  EXPECT_EQ(cut.length, 9);
  EXPECT_TRUE(cut.guards_intact);
  EXPECT_EQ(cut.diags, std::vector<std::string>{"01004 " + prefixed("String data, right truncated = 6")});

  // A text exactly as long as the buffer loses its last character.
  Answer exact = ask(conn, SQL_DBMS_NAME, 5);
  EXPECT_EQ(exact.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(exact.bytes, std::string("DMSI\0", 5));
  EXPECT_EQ(exact.diags, std::vector<std::string>{"01004 " + prefixed("String data, right truncated = 17")});

  // No room at all: nothing written, the full length still told.
  Answer none = ask(conn, SQL_USER_NAME, 0);
  EXPECT_EQ(none.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(none.length, 5);
  EXPECT_TRUE(none.guards_intact);
  Answer negative = ask(conn, SQL_USER_NAME, -4);
  EXPECT_EQ(negative.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_TRUE(negative.guards_intact);
}

TEST_F(InfoTest, NullBuffers) {
  auto& conn = smith();
  // A text tells its length and nothing is cut.
  Answer text = ask(conn, SQL_DBMS_NAME, 0, true);
  EXPECT_EQ(text.rc, SQL_SUCCESS);
  EXPECT_EQ(text.length, 5);
  EXPECT_TRUE(text.diags.empty());
  // An integer writes nothing, not even its length.
  Answer number = ask(conn, SQL_MAX_COLUMN_NAME_LEN, 8, true);
  EXPECT_EQ(number.rc, SQL_SUCCESS);
  EXPECT_EQ(number.length, -77);
  EXPECT_TRUE(number.guards_intact);
  // Without a length pointer the value is still written.
  SQLUSMALLINT value = 0;
  EXPECT_EQ(get_info(conn, SQL_MAX_TABLE_NAME_LEN, &value, sizeof value, nullptr), SQL_SUCCESS);
  EXPECT_EQ(value, 29);
}

TEST_F(InfoTest, TypesOutsideTheTableAreRefused) {
  auto& conn = smith();
  for (unsigned type : {3u, 4u, 5u, 10u, 76u, 116u, 10000u, 65002u, 65004u, 65535u}) {
    SCOPED_TRACE(type);
    Answer a = ask(conn, type, 16);
    EXPECT_EQ(a.rc, SQL_ERROR);
    EXPECT_EQ(a.length, -77);
    EXPECT_EQ(a.bytes, std::string(16, '\x5A'));
    EXPECT_EQ(a.diags, std::vector<std::string>{"S1096 " + prefixed("******** Unsupported fInfoType in SQLGetInfo=" +
                                                                     std::to_string(type))});
  }
}

TEST_F(InfoTest, OuterJoinsFollowTheSetting) {
  auto& conn = smith();
  testsupport::write_file(config.profile_dir() / "quarl.ini", "[odbc]\nfull outer joins=0\n");
  load_settings();
  EXPECT_EQ(ask(conn, SQL_OUTER_JOINS, 4).bytes.substr(0, 2), std::string("Y\0", 2));
  testsupport::write_file(config.profile_dir() / "quarl.ini", "[odbc]\nfull outer joins=2\n");
  load_settings();
  EXPECT_EQ(ask(conn, SQL_OUTER_JOINS, 4).bytes.substr(0, 2), std::string("F\0", 2));
}

TEST_F(InfoTest, ConnectionValuesBeforeConnectingAreEmpty) {
  auto& conn = new_conn();
  for (unsigned type : {SQL_DATA_SOURCE_NAME, SQL_SERVER_NAME, SQL_USER_NAME}) {
    Answer a = ask(conn, type, 8);
    EXPECT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_EQ(a.length, 0);
    EXPECT_EQ(a.bytes[0], '\0');
  }
}

}  // namespace
}  // namespace drivertest
