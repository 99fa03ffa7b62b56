// A client program that shows the driver's dialogs as an application does,
// for tests that drive them from outside:
//   config-dsn add|config ATTRIBUTES   SQLConfigDataSource with a window
//                                      (";" separates the attribute pairs);
//                                      prints "result 1" or "result 0"
//   driver-connect CONNECTION-STRING   SQLDriverConnect with SQL_DRIVER_PROMPT
//                                      and a window; prints the return code,
//                                      the completed string, and on success
//                                      the first column of "select 1+1"
#include <sql.h>
#include <sqlext.h>
#include <odbcinst.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

HWND const kWindow = reinterpret_cast<HWND>(0x1234);  // the application's window

int config_dsn(const std::string& request, const std::string& attributes) {
  std::string list = attributes;
  for (char& c : list)
    if (c == ';') c = '\0';
  list.append(2, '\0');
  WORD code = request == "add" ? ODBC_ADD_DSN : ODBC_CONFIG_DSN;
  BOOL ok = SQLConfigDataSource(kWindow, code, "Quarl", list.c_str());
  std::printf("result %d\n", ok ? 1 : 0);
  return 0;
}

int driver_connect(const std::string& in) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocEnv(&env);
  SQLAllocConnect(env, &dbc);
  SQLCHAR out[1024] = {};
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, kWindow, (SQLCHAR*)in.c_str(), SQL_NTS, out, sizeof out, &length,
                                  SQL_DRIVER_PROMPT);
  std::printf("rc %d\nout %s\n", int(rc), reinterpret_cast<char*>(out));
  if (SQL_SUCCEEDED(rc)) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocStmt(dbc, &stmt);
    SQLCHAR value[64] = {};
    SQLLEN got = 0;
    if (SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR*)"select 1+1", SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(stmt)) &&
        SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, value, sizeof value, &got)))
      std::printf("value %s\n", reinterpret_cast<char*>(value));
    SQLFreeStmt(stmt, SQL_DROP);
    SQLDisconnect(dbc);
  }
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "config-dsn") == 0) return config_dsn(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "driver-connect") == 0) return driver_connect(argv[2]);
  std::fprintf(stderr, "usage: %s config-dsn add|config ATTRIBUTES | driver-connect STRING\n", argv[0]);
  return 2;
}
