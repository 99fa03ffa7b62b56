// The Unicode driver's face on the core, against the scripted host: the one
// text writer in its three units, the SQLSTATE table's two columns, the
// information table, wide arguments, parameter arrays on the wire (exact
// messages, statuses, what ends them), descriptors, attributes that the
// driver cannot honour, and diagnostics by record.
#include <gtest/gtest.h>

#include <cstring>

#include "common/sqlstate.h"
#include "driver/core/info.h"
#include "driver/core/output.h"
#include "driver/odbc3/api.h"
#include "driver/odbc3/face.h"
#include "driver/odbc3/wide.h"
#include "tests/driver/stmt_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

TEST(TextWriter, WritesEachUnitAndNeverOverruns) {
  constexpr char kText[] = "Zoë😀";  // 4 characters, 5 UTF-16 units, 8 UTF-8 bytes
  struct Case {
    TextUnit unit;
    SQLLEN capacity;
    SQLLEN length;       // in the unit
    bool cut;
    std::u16string wide;  // what a wide buffer holds
    std::string bytes;    // what a narrow one holds
  } cases[] = {
      {TextUnit::Byte, 100, 8, false, u"", "Zoë😀"},
      {TextUnit::Byte, 8, 8, true, u"", "Zoë\xF0\x9F\x98"},
      {TextUnit::Byte, 1, 8, true, u"", ""},
      {TextUnit::WideChar, 6, 5, false, u"Zoë😀", ""},
      {TextUnit::WideChar, 5, 5, true, u"Zoë", ""},  // the pair does not fit: left out whole
      {TextUnit::WideChar, 1, 5, true, u"", ""},
      {TextUnit::WideByte, 12, 10, false, u"Zoë😀", ""},
      {TextUnit::WideByte, 11, 10, true, u"Zoë", ""},  // an odd byte counts for nothing
      {TextUnit::WideByte, 6, 10, true, u"Zo", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.unit) << " capacity " << c.capacity);
    unsigned char buffer[64];
    std::memset(buffer, 0xAB, sizeof buffer);
    TextWritten written = write_text(kText, TextBuffer{buffer, c.capacity, c.unit});
    EXPECT_EQ(written.length, c.length);
    EXPECT_EQ(written.cut, c.cut);
    size_t capacity_bytes = c.unit == TextUnit::WideChar ? 2 * static_cast<size_t>(c.capacity) : c.capacity;
    for (size_t i = capacity_bytes; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0xAB) << "overrun at " << i;
    if (c.unit == TextUnit::Byte) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), c.bytes);
    } else {
      EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(buffer)), c.wide);
    }
  }
  // Without a buffer only the length.
  EXPECT_EQ(write_text(kText, TextBuffer::wide_bytes(nullptr, 0)).length, 10);
}

TEST(SqlStateTable, EveryRowHasBothVersionsAndTheHostRowsComeFirst) {
  for (int i = 0; i < quarl::kSqlStateCount; ++i) {
    EXPECT_EQ(std::strlen(quarl::kSqlStates[i].odbc2), 5u) << i;
    EXPECT_EQ(std::strlen(quarl::kSqlStates[i].odbc3), 5u) << i;
  }
  struct Case {
    unsigned index;
    const char* odbc2;
    const char* odbc3;
  } cases[] = {
      {quarl::kErrBaseTableNotFound, "S0002", "42S02"}, {quarl::kErrGeneral, "S1000", "HY000"},
      {quarl::kErrSyntax, "37000", "42000"},            {quarl::kErrColumnNumber, "S1002", "07009"},
      {quarl::kErrSerialization, "40001", "40001"},     {quarl::kErrConstraint, "23000", "23000"},
      {quarl::kErrTimeout, "S1T00", "HYT00"},           {quarl::kErrInvalidCharacter, "22005", "22018"},
      {999, "S1000", "HY000"},  // beyond the table: the general failure
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(quarl::sqlstate_of(c.index, quarl::SqlStateVersion::Odbc2), c.odbc2) << c.index;
    EXPECT_STREQ(quarl::sqlstate_of(c.index, quarl::SqlStateVersion::Odbc3), c.odbc3) << c.index;
  }
  // The host may name the serialization failure and the constraint; no row
  // only the drivers raise.
  EXPECT_EQ(quarl::kHostErrorIndexCount, quarl::kErrConstraint + 1u);
}

TEST(InfoTables, TheUnicodeFaceAddsOdbc3TypesAndOverridesTheVersion) {
  const InfoEntry* odbc2 = find_info(kOdbc2Face, SQL_DRIVER_ODBC_VER);
  const InfoEntry* odbc3 = find_info(odbc3::kUnicodeFace, SQL_DRIVER_ODBC_VER);
  ASSERT_TRUE(odbc2 && odbc3);
  EXPECT_STREQ(odbc2->text, "02.00");
  EXPECT_STREQ(odbc3->text, "03.51");
  for (unsigned type : {SQL_DESCRIBE_PARAMETER, SQL_PARAM_ARRAY_ROW_COUNTS, SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1}) {
    EXPECT_EQ(find_info(kOdbc2Face, type), nullptr) << type;  // the ODBC 2 driver refuses them (S1096)
    EXPECT_NE(find_info(odbc3::kUnicodeFace, type), nullptr) << type;
  }
  // Types both answer come from the one shared table.
  EXPECT_EQ(find_info(kOdbc2Face, SQL_DBMS_NAME), find_info(odbc3::kUnicodeFace, SQL_DBMS_NAME));
}

TEST(WideArguments, BecomeUtf8OrAreRefused) {
  ErrorList errors;
  char16_t text[] = u"名前 😀";
  odbc3::WideArg ok(reinterpret_cast<SQLWCHAR*>(text), SQL_NTS, errors, "a name");
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.utf8(), "名前 😀");
  EXPECT_EQ(ok.length(), 11);
  odbc3::WideArg part(reinterpret_cast<SQLWCHAR*>(text), 2, errors, "a name");
  EXPECT_EQ(part.utf8(), "名前");
  odbc3::WideArg null(nullptr, SQL_NTS, errors, "a name");
  EXPECT_EQ(null.text(), nullptr);
  EXPECT_EQ(null.length(), SQL_NTS);
  EXPECT_TRUE(errors.empty());

  char16_t broken[] = {u'a', 0xD83D, u'b', 0};  // a high surrogate alone
  odbc3::WideArg refused(reinterpret_cast<SQLWCHAR*>(broken), SQL_NTS, errors, "the SQL text");
  EXPECT_FALSE(refused.ok());
  odbc3::WideArg negative(reinterpret_cast<SQLWCHAR*>(text), -5, errors, "the SQL text");
  EXPECT_FALSE(negative.ok());
  ASSERT_EQ(errors.records.size(), 2u);
  EXPECT_EQ(record_state(errors.records[0], OdbcVersion::V3), std::string("22018"));
  EXPECT_NE(errors.records[0].text.find("unpaired surrogate at character 2"), std::string::npos);
  EXPECT_EQ(record_state(errors.records[1], OdbcVersion::V3), std::string("HY090"));
}

// A statement of the Unicode driver on the scripted host.
class UnicodeStmtTest : public StmtTest {
 protected:
  void SetUp() override {
    StmtTest::SetUp();
    env->face = &odbc3::kUnicodeFace;
    env->version = OdbcVersion::V3;
  }
  // The SQLSTATE and text of each of the statement's records, kept.
  std::vector<std::string> records() {
    std::vector<std::string> out;
    for (SQLSMALLINT i = 1;; ++i) {
      SQLCHAR state[6];
      SQLCHAR text[600];
      SQLSMALLINT length = 0;
      if (odbc3::get_diag_rec(SQL_HANDLE_STMT, stmt, i, TextBuffer::narrow(state, 6), nullptr,
                              TextBuffer::narrow(text, sizeof text), &length) != SQL_SUCCESS)
        break;
      out.push_back(std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text));
    }
    return out;
  }
};

TEST_F(UnicodeStmtTest, ParameterArraysGoInWholeSetsAndTheFirstFailureEndsThem) {
  // 5 sets of two parameters, column-wise; the fourth is ignored.
  int32_t keys[5] = {1, 2, 3, 4, 5};
  char names[5][4] = {"a", "bb", "ccc", "d", "e"};
  SQLLEN name_lengths[5] = {SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS, SQL_NULL_DATA};
  SQLUSMALLINT operation[5] = {SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_IGNORE,
                               SQL_PARAM_PROCEED};
  SQLUSMALLINT status[5] = {};
  SQLULEN processed = 0;
  ASSERT_EQ(odbc3::set_stmt_attr(*stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(5)), SQL_SUCCESS);
  odbc3::set_stmt_attr(*stmt, SQL_ATTR_PARAM_OPERATION_PTR, operation);
  odbc3::set_stmt_attr(*stmt, SQL_ATTR_PARAM_STATUS_PTR, status);
  odbc3::set_stmt_attr(*stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed);
  ASSERT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_LONG, SQL_INTEGER, 0, 0, keys, nullptr), SQL_SUCCESS);
  ASSERT_EQ(sql_bind_parameter(*stmt, 2, SQL_C_CHAR, SQL_VARCHAR, 3, 0, names, name_lengths, 4), SQL_SUCCESS);
  // The prepare describes no result; the host runs each message's sets.
  answer(10, "0" "0000" "0002");
  std::vector<std::string> messages;
  answers[{1, 20}] = [&](const Request& r) {
    messages.push_back(r.data);
    // Four sets ran, the last of them failed on a constraint.
    return message(1, 20, "0" "0004" "0000000003" "9" + error_items({{25, "UNIQUE constraint failed"}}));
  };
  EXPECT_EQ(exec_direct("insert into t values (?, ?)"), SQL_ERROR);
  ASSERT_EQ(messages.size(), 1u);
  auto entry = [](int n, const std::string& rest) { return "000" + std::to_string(n) + rest; };
  EXPECT_EQ(messages[0], "0007" "0004" "0002" +
                             entry(1, "04000000" "0" "0000000001") + entry(2, "12000300" "0" "001a") +
                             entry(1, "04000000" "0" "0000000002") + entry(2, "12000300" "0" "002bb") +
                             entry(1, "04000000" "0" "0000000003") + entry(2, "12000300" "0" "003ccc") +
                             entry(1, "04000000" "0" "0000000005") + entry(2, "12000300" "1"));
  EXPECT_EQ(std::vector<SQLUSMALLINT>(status, status + 5),
            (std::vector<SQLUSMALLINT>{SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_UNUSED,
                                       SQL_PARAM_ERROR}));
  EXPECT_EQ(processed, 4u);
  EXPECT_EQ(stmt->result.row_count, 3);
  EXPECT_EQ(records(), (std::vector<std::string>{"23000 Parameter set 5: UNIQUE constraint failed"}));
  // Diagnostics by record stay until the next call.
  EXPECT_EQ(records().size(), 1u);
}

TEST_F(UnicodeStmtTest, SetsThatDoNotFitOneMessageGoInSeveral) {
  // 900-byte values: four sets a message (a set is 916 bytes, the message
  // holds 4082 data bytes).
  std::vector<char> column(10 * 901, 'v');
  for (size_t i = 0; i < 10; ++i) column[i * 901 + 900] = '\0';
  odbc3::set_stmt_attr(*stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(10));
  ASSERT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_CHAR, SQL_VARCHAR, 900, 0, column.data(), nullptr, 901), SQL_SUCCESS);
  answer(10, "0" "0000" "0001");
  std::vector<unsigned> sets_per_message;
  answers[{1, 20}] = [&](const Request& r) {
    unsigned sets = static_cast<unsigned>(std::stoi(r.data.substr(4, 4)));
    sets_per_message.push_back(sets);
    EXPECT_LE(r.data.size(), conn->channel.max_data_length());
    return message(1, 20, "0" + std::string(4 - std::to_string(sets).size(), '0') + std::to_string(sets) +
                              "0000000001" "0");
  };
  ASSERT_EQ(exec_direct("insert into t values (?)"), SQL_SUCCESS) << testing::PrintToString(records());
  EXPECT_EQ(sets_per_message, (std::vector<unsigned>{4, 4, 2}));
  EXPECT_EQ(stmt->result.row_count, 3);
}

TEST_F(UnicodeStmtTest, DescriptorsAreViewsOfTheStatementsRecords) {
  // SQL_C_NUMERIC as pyodbc binds it: through the application's descriptor.
  SQL_NUMERIC_STRUCT number{};
  number.precision = 10;
  number.scale = 4;
  number.sign = 0;  // negative
  uint32_t magnitude = 123456789;
  std::memcpy(number.val, &magnitude, sizeof magnitude);
  ASSERT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_NUMERIC, SQL_NUMERIC, 10, 4, &number, nullptr), SQL_SUCCESS);
  DescBlock& apd = stmt->app_param_desc;
  ASSERT_EQ(odbc3::set_desc_field(apd, 1, SQL_DESC_TYPE, reinterpret_cast<SQLPOINTER>(SQL_C_NUMERIC), 0), SQL_SUCCESS);
  ASSERT_EQ(odbc3::set_desc_field(apd, 1, SQL_DESC_SCALE, reinterpret_cast<SQLPOINTER>(4), 0), SQL_SUCCESS);
  ASSERT_EQ(odbc3::set_desc_field(apd, 1, SQL_DESC_DATA_PTR, &number, 0), SQL_SUCCESS);
  SQLHDESC handle = nullptr;
  ASSERT_EQ(odbc3::get_stmt_attr(*stmt, SQL_ATTR_APP_PARAM_DESC, &handle, nullptr), SQL_SUCCESS);
  EXPECT_EQ(find_desc(handle), &apd);
  answer(9, "000000000010000");
  ASSERT_EQ(exec_direct("insert into t values (?)"), SQL_SUCCESS) << testing::PrintToString(records());
  auto r = sent(1, 9);
  ASSERT_EQ(r.size(), 1u);
  // NUMERIC, scale 4: -12345.6789 times 10^4, exactly.
  EXPECT_NE(r[0].data.find("0001" "02" "0010" "04" "0"), std::string::npos) << r[0].data;
  EXPECT_NE(r[0].data.find("-123456789"), std::string::npos) << r[0].data;

  // The implementation row descriptor is the result's columns, read-only.
  answer(9, "0-0000000001" "0001" + column_item("AMOUNT", SQL_TIMESTAMP, 23, 3));
  answer(4, "5");  // the fetch that goes with a query's execution
  ASSERT_EQ(exec_direct("select amount from t"), SQL_SUCCESS);
  SQLSMALLINT count = 0, type = 0;
  EXPECT_EQ(odbc3::get_desc_field(stmt->imp_row_desc, 0, SQL_DESC_COUNT, &count, 0, nullptr, false), SQL_SUCCESS);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(odbc3::get_desc_field(stmt->imp_row_desc, 1, SQL_DESC_CONCISE_TYPE, &type, 0, nullptr, false), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_TYPE_TIMESTAMP);
  EXPECT_EQ(odbc3::get_desc_field(stmt->imp_row_desc, 1, SQL_DESC_TYPE, &type, 0, nullptr, false), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_DATETIME);
  EXPECT_EQ(odbc3::set_desc_field(stmt->imp_row_desc, 1, SQL_DESC_TYPE, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(record_state(stmt->imp_row_desc.errors.records.back(), OdbcVersion::V3), std::string("HY016"));
}

TEST_F(UnicodeStmtTest, AttributesTheDriverCannotHonourAreRefusedOrKeptWithAWarning) {
  struct Case {
    SQLINTEGER attribute;
    uintptr_t value;
    SQLRETURN rc;
    const char* state;
  } cases[] = {
      {SQL_ATTR_ROW_ARRAY_SIZE, 10, SQL_SUCCESS_WITH_INFO, "01S02"},
      {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC, SQL_SUCCESS_WITH_INFO, "01S02"},
      {SQL_ATTR_MAX_ROWS, 5, SQL_SUCCESS_WITH_INFO, "01S02"},
      {SQL_ATTR_CURSOR_SCROLLABLE, SQL_SCROLLABLE, SQL_ERROR, "HYC00"},
      {SQL_ATTR_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON, SQL_ERROR, "HYC00"},
      {SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE, SQL_ERROR, "HYC00"},
      {SQL_ATTR_PARAMSET_SIZE, 0, SQL_ERROR, "HY024"},
      {SQL_ATTR_IMP_ROW_DESC, 0, SQL_ERROR, "HY092"},
      {4711, 0, SQL_ERROR, "HY092"},
      {SQL_ATTR_QUERY_TIMEOUT, 30, SQL_SUCCESS, nullptr},
      {SQL_ATTR_ROW_ARRAY_SIZE, 1, SQL_SUCCESS, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attribute);
    stmt->errors.clear();
    EXPECT_EQ(odbc3::set_stmt_attr(*stmt, c.attribute, reinterpret_cast<SQLPOINTER>(c.value)), c.rc);
    if (c.state) {
      ASSERT_FALSE(stmt->errors.empty());
      EXPECT_EQ(record_state(stmt->errors.records.back(), OdbcVersion::V3), std::string(c.state));
    }
  }
  // What is in force reads back.
  SQLULEN value = 99;
  odbc3::get_stmt_attr(*stmt, SQL_ATTR_ROW_ARRAY_SIZE, &value, nullptr);
  EXPECT_EQ(value, 1u);
  odbc3::get_stmt_attr(*stmt, SQL_ATTR_QUERY_TIMEOUT, &value, nullptr);
  EXPECT_EQ(value, 30u);
}

// The Unicode driver sends a query's first fetch request with its execution
// and reads its rows before the execution returns; a result read to its end
// is closed without waiting.  The ODBC 2 driver sends each request when its
// call comes.
TEST_F(StmtTest, AQuerysFirstRowsComeWithItsExecutionInTheUnicodeDriver) {
  const std::string one_column = "0-0000000001" "0001" + column_item("N", SQL_INTEGER, 10);
  for (bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "Unicode" : "ODBC 2");
    env->face = unicode ? &odbc3::kUnicodeFace : &kOdbc2Face;
    SQLINTEGER n = 0;
    SQLLEN length = 0;
    ASSERT_EQ(sql_bind_col(*stmt, 1, SQL_C_SLONG, &n, 4, &length), SQL_SUCCESS);
    answer(9, one_column);
    answer(4, "01" "0" "0000000042" "1");  // one row and the end
    scripted::clear_log();
    ASSERT_EQ(exec_direct("  (SELECT n from t)"), SQL_SUCCESS);
    EXPECT_EQ(sent(1, 4).size(), unicode ? 1u : 0u);
    // pyodbc resets the parameters before it fetches: the rows stay.
    EXPECT_EQ(free_statement(*conn, *stmt, SQL_RESET_PARAMS), SQL_SUCCESS);
    ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
    EXPECT_EQ(n, 42);
    // The row's end marker came with it: the close does not wait.
    EXPECT_TRUE(stmt->host_result_ended);
    EXPECT_EQ(sql_fetch(*stmt), SQL_NO_DATA_FOUND);
    EXPECT_EQ(sent(1, 4).size(), 1u);
    EXPECT_EQ(free_statement(*conn, *stmt, SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(sent(1, 2).size(), unicode ? 1u : 2u);
    EXPECT_EQ(conn->channel.unawaited_replies(), unicode ? 1u : 0u);

    // What the fetch gave is the first SQLFetch's, its diagnostics too.
    answer(4, "2" + error_items({{15, "disk I/O error"}}));
    ASSERT_EQ(exec_direct("select n from t"), SQL_SUCCESS);
    EXPECT_TRUE(diags().empty());
    EXPECT_EQ(sql_fetch(*stmt), SQL_ERROR);
    std::vector<std::string> d = diags();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_NE(d[0].find("disk I/O error"), std::string::npos);
    EXPECT_EQ(free_statement(*conn, *stmt, SQL_CLOSE), SQL_SUCCESS);

    // An execution that fails: the fetch's reply is dropped as it comes,
    // and the next request meets its own reply.
    answer(9, "2" + error_items({{15, "no such table: u"}}));
    answer(4, "2" + error_items({{15, "no result"}}));
    scripted::clear_log();
    EXPECT_EQ(exec_direct("select n from u"), SQL_ERROR);
    EXPECT_EQ(sent(1, 4).size(), unicode ? 1u : 0u);
    diags();
    answer(9, "000000000030000");
    EXPECT_EQ(exec_direct("update t set n = 1"), SQL_SUCCESS);
    EXPECT_EQ(stmt->result.row_count, 3);
    EXPECT_EQ(sent(1, 4).size(), unicode ? 1u : 0u);
    EXPECT_EQ(conn->channel.unawaited_replies(), 0u);
    EXPECT_EQ(free_statement(*conn, *stmt, SQL_UNBIND), SQL_SUCCESS);
  }
}

// SQLFreeStmt: the Unicode driver sends only what changes something on the
// host (clients like pyodbc free twice around every execution); the ODBC 2
// driver sends every one.
TEST_F(StmtTest, FreeingSendsTheHostOnlyWhatItHoldsWhereTheFaceSaysSo) {
  struct Step {
    const char* what;
    SQLUSMALLINT option;  // freed after `run`
    bool unicode_sends;
    bool odbc2_sends;
  };
  // Each step runs its statement (or nothing) first.
  const std::vector<std::pair<std::string, Step>> steps = {
      {"", {"nothing run, close", SQL_CLOSE, false, true}},
      {"", {"unbind", SQL_UNBIND, false, true}},
      {"", {"reset parameters", SQL_RESET_PARAMS, false, true}},
      {"select", {"close after a result", SQL_CLOSE, true, true}},
      {"", {"close again", SQL_CLOSE, false, true}},
      {"select", {"reset parameters keeps the result", SQL_RESET_PARAMS, false, true}},
      {"", {"so close still sends", SQL_CLOSE, true, true}},
      {"insert", {"close after a statement without a result", SQL_CLOSE, false, true}},
      {"fails", {"close after a failure", SQL_CLOSE, true, true}},
      {"prepare", {"close after a prepare", SQL_CLOSE, false, true}},
  };
  answer(10, "0" "0001" "0000" + column_item("N", SQL_INTEGER, 10));
  answer(4, "5");  // the fetch that goes with a query's execution (Unicode)
  for (bool unicode : {false, true}) {
    env->face = unicode ? &odbc3::kUnicodeFace : &kOdbc2Face;
    for (const auto& [run, step] : steps) {
      SCOPED_TRACE(std::string(unicode ? "Unicode: " : "ODBC 2: ") + step.what);
      if (run == "select") {
        answer(9, "0-0000000001" "0001" + column_item("N", SQL_INTEGER, 10));
        ASSERT_EQ(exec_direct("select n from t"), SQL_SUCCESS);
      } else if (run == "insert") {
        answer(9, "000000000010000");
        ASSERT_EQ(exec_direct("insert into t values (1)"), SQL_SUCCESS);
      } else if (run == "fails") {
        answer(9, "2" + error_items({{15, "near \"selec\": syntax error"}}));
        ASSERT_EQ(exec_direct("selec 1"), SQL_ERROR);
      } else if (run == "prepare") {
        ASSERT_EQ(sql_prepare(*stmt, (SQLCHAR*)"select n from t", SQL_NTS), SQL_SUCCESS);
      }
      scripted::clear_log();
      EXPECT_EQ(free_statement(*conn, *stmt, step.option), SQL_SUCCESS);
      EXPECT_EQ(sent(1, 2).size(), (unicode ? step.unicode_sends : step.odbc2_sends) ? 1u : 0u);
    }
  }
}

}  // namespace
}  // namespace drivertest
