// Long values are used only when both sides agreed: the host offers them
// after its version text, the driver asks at the login (unless quarl.ini says
// "long values=0"), the host grants them in the login reply.  Every other
// combination gives the classic exchanges: a plain login and the refusals of
// values the classic forms cannot carry.
#include <string>
#include <vector>

#include "tests/driver/stmt_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

class LongValuesAgreement : public StmtTest {};

TEST_F(LongValuesAgreement, OnlyAnAgreementChangesTheExchanges) {
  struct Case {
    const char* what;
    std::string version;  // after the status digit
    std::string grant;    // the login reply after its message size
    bool driver_asks;     // quarl.ini "long values"
    bool login_asks, agreed;
  } cases[] = {
      {"a host that offers nothing", "05001021Quarl Host Server 5.0.", "", true, false, false},
      {"a host that offers something else", "05001021Quarl Host Server 5.0.+ZIP9", "", true, false, false},
      {"a driver told not to ask", "05001021Quarl Host Server 5.0.+LONG1", "+LONG10016777216", false, false, false},
      {"a host that offers but grants nothing", "05001021Quarl Host Server 5.0.+LONG1", "", true, true, false},
      {"a grant without its limit", "05001021Quarl Host Server 5.0.+LONG1", "+LONG1", true, true, false},
      {"both agree", "05001021Quarl Host Server 5.0.+LONG1", "+LONG10016777216", true, true, true},
  };
  std::string thousand(1000, 'y');
  char blob[] = "\x01\x02";
  SQLLEN two = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DriverSettings settings;
    settings.long_values = c.driver_asks ? 1 : 0;
    set_settings(settings);
    answers[{0, 0}] = [&](const Request&) { return message(0, 0, "0" + c.version); };
    answers[{0, 1}] = [&](const Request&) { return message(0, 1, "004096" + c.grant); };
    answer(9, "00000000000" "0000");
    scripted::clear_log();
    conn = &connected();
    stmt = new_stmt();
    ASSERT_NE(stmt, nullptr);

    auto logins = sent(0, 1);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].data[0], c.login_asks ? '2' : '1');
    EXPECT_EQ(logins[0].data.find("+LONG1") != std::string::npos, c.login_asks) << logins[0].data;
    EXPECT_EQ(conn->long_values, c.agreed);

    // A character value past three length digits, and a binary value.
    ASSERT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_CHAR, SQL_VARCHAR, 0, 0, thousand.data(), nullptr), SQL_SUCCESS);
    ASSERT_EQ(sql_bind_parameter(*stmt, 2, SQL_C_BINARY, SQL_VARBINARY, 2, 0, blob, &two), SQL_SUCCESS);
    SQLRETURN rc = exec_direct("insert into t values (?, ?)");
    auto requests = sent(1, 9);
    if (c.agreed) {
      EXPECT_EQ(rc, SQL_SUCCESS) << testing::PrintToString(diags());
      ASSERT_EQ(requests.size(), 1u);
      EXPECT_NE(requests[0].data.find("0001" "12" "0000" "00" "0" "X0000001000" + thousand), std::string::npos);
      EXPECT_NE(requests[0].data.find("0002" "-03" "0002" "00" "0" "002\x01\x02"), std::string::npos);
    } else {
      EXPECT_EQ(rc, SQL_ERROR);
      EXPECT_EQ(diags(), std::vector<std::string>{
                             "22001 " + prefixed("Parameter 1: character value of 1000 bytes is longer than 999 bytes")});
      EXPECT_TRUE(requests.empty()) << "nothing is sent";
      // Without the long one, the binary value: refused as before.
      ASSERT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_CHAR, SQL_VARCHAR, 0, 0, blob, &two), SQL_SUCCESS);
      EXPECT_EQ(exec_direct("insert into t values (?, ?)"), SQL_ERROR);
      EXPECT_EQ(diags(),
                std::vector<std::string>{"07006 " + prefixed("Unsupported setparam conversion fCType=-2, fSqlType=-3")});
    }
    sql_disconnect(*conn);
  }
}

}  // namespace
}  // namespace drivertest
