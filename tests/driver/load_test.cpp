// Opens the built libquarl.so as a driver manager does, finds its entry
// points by name and checks what it exports.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/test_env.h"

namespace {

struct Api {
  void* lib = nullptr;
  SQLRETURN (*AllocEnv)(SQLHENV*);
  SQLRETURN (*AllocConnect)(SQLHENV, SQLHDBC*);
  SQLRETURN (*FreeConnect)(SQLHDBC);
  SQLRETURN (*FreeEnv)(SQLHENV);
  SQLRETURN (*AllocStmt)(SQLHDBC, SQLHSTMT*);
  SQLRETURN (*Connect)(SQLHDBC, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT);
  SQLRETURN (*Disconnect)(SQLHDBC);
  SQLRETURN (*Error)(SQLHENV, SQLHDBC, SQLHSTMT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);
  SQLRETURN (*Fetch)(SQLHSTMT);
  SQLRETURN (*GetData)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*);
};

class LoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    config = new testsupport::OdbcConfig;
    config->add_dsn("NoUser", {{"Provider", "Scripted"}, {"Connection", "HOST1"}});
    testsupport::write_file(config->profile_dir() / "quarl.ini",
                            "[general]\ntrace=1\ntracefile=" + (config->dir() / "load-trace.txt").string() + "\n");
    api.lib = ::dlopen(testsupport::lib_path("libquarl.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(api.lib, nullptr) << ::dlerror();
    auto find = [](auto& fn, const char* name) { fn = reinterpret_cast<std::decay_t<decltype(fn)>>(::dlsym(api.lib, name)); };
    find(api.AllocEnv, "SQLAllocEnv");
    find(api.AllocConnect, "SQLAllocConnect");
    find(api.FreeConnect, "SQLFreeConnect");
    find(api.FreeEnv, "SQLFreeEnv");
    find(api.AllocStmt, "SQLAllocStmt");
    find(api.Connect, "SQLConnect");
    find(api.Disconnect, "SQLDisconnect");
    find(api.Error, "SQLError");
    find(api.Fetch, "SQLFetch");
    find(api.GetData, "SQLGetData");
  }
  static void TearDownTestSuite() { delete config; }

  static std::string error(SQLHDBC hdbc) {
    SQLCHAR state[6], text[300];
    if (api.Error(nullptr, hdbc, nullptr, state, nullptr, text, sizeof text, nullptr) != SQL_SUCCESS) return "none";
    return std::string((char*)state) + " " + (char*)text;
  }

  static Api api;
  static testsupport::OdbcConfig* config;
};
Api LoadTest::api;
testsupport::OdbcConfig* LoadTest::config = nullptr;

TEST_F(LoadTest, HandlesComeAndGoAndTheTablesHold64Connections) {
  SQLHENV henv = nullptr;
  ASSERT_EQ(api.AllocEnv(&henv), SQL_SUCCESS);
  std::vector<SQLHDBC> conns(64);
  for (auto& h : conns) ASSERT_EQ(api.AllocConnect(henv, &h), SQL_SUCCESS);
  SQLHDBC extra = reinterpret_cast<SQLHDBC>(1);
  EXPECT_EQ(api.AllocConnect(henv, &extra), SQL_ERROR);
  EXPECT_EQ(extra, nullptr);
  EXPECT_EQ(api.FreeConnect(conns[10]), SQL_SUCCESS);
  EXPECT_EQ(api.FreeConnect(conns[10]), SQL_INVALID_HANDLE);  // freed: unknown from now on
  EXPECT_EQ(api.AllocConnect(henv, &conns[10]), SQL_SUCCESS);  // takes the freed slot
  EXPECT_EQ(api.AllocConnect(henv, &extra), SQL_ERROR);        // and the table is full again
  EXPECT_EQ(api.FreeEnv(henv), SQL_SUCCESS);
  EXPECT_EQ(api.AllocConnect(henv, &extra), SQL_INVALID_HANDLE);
  EXPECT_EQ(api.FreeConnect(conns[0]), SQL_INVALID_HANDLE);  // gone with the environment
  int junk[16] = {};
  EXPECT_EQ(api.FreeEnv(junk), SQL_INVALID_HANDLE);
  EXPECT_EQ(api.Disconnect(nullptr), SQL_INVALID_HANDLE);
}

// SQLFetch and SQLGetData look their statement up the quick way first (the
// handle of each kind this thread found live last): a null handle, or a
// live handle of another kind, is refused on a thread's first call and
// after others alike.
TEST_F(LoadTest, FetchAndGetDataRefuseNullAndOtherKindsOfHandle) {
  std::thread([] {
    char buffer[8];
    SQLLEN length;
    EXPECT_EQ(api.Fetch(nullptr), SQL_INVALID_HANDLE);
    EXPECT_EQ(api.GetData(nullptr, 1, SQL_C_CHAR, buffer, sizeof buffer, &length), SQL_INVALID_HANDLE);
    SQLHENV henv = nullptr;
    SQLHDBC hdbc = nullptr;
    ASSERT_EQ(api.AllocEnv(&henv), SQL_SUCCESS);
    ASSERT_EQ(api.AllocConnect(henv, &hdbc), SQL_SUCCESS);  // both found live by this thread
    for (void* not_a_statement : {static_cast<void*>(nullptr), henv, hdbc}) {
      EXPECT_EQ(api.Fetch(not_a_statement), SQL_INVALID_HANDLE);
      EXPECT_EQ(api.GetData(not_a_statement, 1, SQL_C_CHAR, buffer, sizeof buffer, &length), SQL_INVALID_HANDLE);
    }
    EXPECT_EQ(api.FreeConnect(hdbc), SQL_SUCCESS);
    EXPECT_EQ(api.FreeEnv(henv), SQL_SUCCESS);
  }).join();
}

TEST_F(LoadTest, DiagnosticsComeBackThroughSqlError) {
  SQLHENV henv = nullptr;
  SQLHDBC hdbc = nullptr;
  ASSERT_EQ(api.AllocEnv(&henv), SQL_SUCCESS);
  ASSERT_EQ(api.AllocConnect(henv, &hdbc), SQL_SUCCESS);
  SQLHSTMT hstmt = reinterpret_cast<SQLHSTMT>(1);
  EXPECT_EQ(api.AllocStmt(hdbc, &hstmt), SQL_ERROR);
  EXPECT_EQ(hstmt, nullptr);
  EXPECT_EQ(error(hdbc), "08003 [Velmor Software][Quarl ODBC Driver]Connection not open");
  EXPECT_EQ(error(hdbc), "none");
  EXPECT_EQ(api.Connect(hdbc, (SQLCHAR*)"NoUser", SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(error(hdbc), "28000 [Velmor Software][Quarl ODBC Driver]Invalid authorization specification: no user id "
                         "given to SQLConnect or stored in data source NoUser");
  EXPECT_EQ(api.Disconnect(hdbc), SQL_SUCCESS);  // never connected
  api.FreeEnv(henv);
  // The settings were read when the library was loaded: the trace is on.
  std::string trace = testsupport::read_file(config->dir() / "load-trace.txt");
  EXPECT_NE(trace.find("Disconnect task="), std::string::npos);
  EXPECT_NE(trace.find("signature=Velmor32\r\n"), std::string::npos);
}

// Every "name;" of a version script's global part.
std::set<std::string> map_entries(const std::string& driver_folder, const std::string& map_name) {
  std::ifstream map(testsupport::source_dir() / "driver" / driver_folder / map_name);
  std::stringstream text;
  text << map.rdbuf();
  std::string body = text.str();
  body = body.substr(body.find("global:"), body.find("local:") - body.find("global:"));
  std::set<std::string> entries;
  std::istringstream words(body);
  for (std::string word; words >> word;)
    if (word.size() > 1 && word.back() == ';') entries.insert(word.substr(0, word.size() - 1));
  return entries;
}

// The defined dynamic symbols of a built library.
std::set<std::string> exported_by(const std::string& library) {
  auto nm = testsupport::run_command("nm -D --defined-only '" + testsupport::lib_path(library).string() + "'");
  EXPECT_EQ(nm.status, 0) << nm.output;
  std::set<std::string> exported;  // "address type name" of every defined dynamic symbol
  std::istringstream lines(nm.output);
  for (std::string l; std::getline(lines, l);) {
    std::istringstream fields(l);
    std::string address, type, name;
    if (fields >> address >> type >> name) exported.insert(name);
  }
  return exported;
}

TEST_F(LoadTest, ExportsExactlyTheImplementedOdbc2EntryPoints) {
  std::set<std::string> implemented = map_entries("odbc2", "libquarl.map");
  ASSERT_GE(implemented.size(), 11u);
  std::set<std::string> exported = exported_by("libquarl.so");
  EXPECT_EQ(exported, implemented);
  for (const auto& name : exported) {
    EXPECT_NE(name.back(), 'W') << name;  // no wide functions
    EXPECT_NE(name, "SQLAllocHandle");    // no ODBC 3 functions
    EXPECT_NE(name, "SQLGetFunctions");
    EXPECT_NE(::dlsym(api.lib, name.c_str()), nullptr) << name;
  }
}

TEST_F(LoadTest, TheUnicodeDriverExportsOdbc3EntryPointsWithTheirWideForms) {
  std::set<std::string> implemented = map_entries("odbc3", "libquarlw.map");
  std::set<std::string> exported = exported_by("libquarlw.so");
  EXPECT_EQ(exported, implemented);
  // The ODBC 3 functions unixODBC takes an ODBC 3 driver by, and no ODBC 2
  // function it would call in their place.
  for (const char* name : {"SQLAllocHandle", "SQLFreeHandle", "SQLGetDiagRec", "SQLSetEnvAttr", "SQLColAttribute",
                           "SQLFetchScroll", "SQLEndTran", "SQLCloseCursor", "SQLGetDescField"})
    EXPECT_TRUE(exported.count(name)) << name;
  for (const char* name : {"SQLAllocEnv", "SQLAllocConnect", "SQLAllocStmt", "SQLError", "SQLTransact",
                           "SQLColAttributes", "SQLSetParam", "SQLGetConnectOption", "SQLSetStmtOption"})
    EXPECT_FALSE(exported.count(name)) << name;
  // Every function of the driver that ODBC gives a wide form has it.
  for (const char* name : {"SQLColAttribute", "SQLConnect", "SQLDescribeCol", "SQLExecDirect", "SQLGetConnectAttr",
                           "SQLGetCursorName", "SQLSetDescField", "SQLGetDescField", "SQLGetDescRec",
                           "SQLGetDiagField", "SQLGetDiagRec", "SQLPrepare", "SQLSetConnectAttr", "SQLSetCursorName",
                           "SQLColumns", "SQLGetInfo", "SQLGetTypeInfo", "SQLSpecialColumns", "SQLStatistics",
                           "SQLTables", "SQLDriverConnect", "SQLColumnPrivileges", "SQLGetStmtAttr",
                           "SQLSetStmtAttr", "SQLForeignKeys", "SQLNativeSql", "SQLPrimaryKeys",
                           "SQLProcedureColumns", "SQLProcedures", "SQLTablePrivileges"}) {
    EXPECT_TRUE(exported.count(name)) << name;
    EXPECT_TRUE(exported.count(std::string(name) + "W")) << name << "W";
  }
}

}  // namespace
