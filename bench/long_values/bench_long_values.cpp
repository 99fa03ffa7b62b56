// Writes ROWS rows of a 4 KiB text and a 4 KiB blob through one prepared
// INSERT with bound parameters (one transaction), then reads them back with
// SQLGetData in 8 KiB buffers, through the unixODBC driver manager, and
// prints the times as one JSON line:
//
//   quarl-bench-long --connect STR [--rows N] [--size BYTES]
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& what, SQLSMALLINT type = 0, SQLHANDLE handle = nullptr) {
  std::string text = what;
  if (handle != nullptr) {
    SQLCHAR state[6] = {}, message[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length)))
      text += std::string(": ") + reinterpret_cast<char*>(state) + " " + reinterpret_cast<char*>(message);
  }
  std::fprintf(stderr, "quarl-bench-long: %s\n", text.c_str());
  std::exit(1);
}

void check(SQLRETURN rc, const char* what, SQLSMALLINT type, SQLHANDLE handle) {
  if (!SQL_SUCCEEDED(rc)) die(what, type, handle);
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string connect;
  long rows = 10000;
  size_t size = 4096;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--connect") connect = argv[i + 1];
    else if (a == "--rows") rows = std::atol(argv[i + 1]);
    else if (a == "--size") size = static_cast<size_t>(std::atol(argv[i + 1]));
    else die("unknown option " + a);
  }
  if (connect.empty()) die("usage: quarl-bench-long --connect STR [--rows N] [--size BYTES]");

  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT st = nullptr;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  check(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
        "connect", SQL_HANDLE_DBC, dbc);
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  SQLExecDirect(st, (SQLCHAR*)"DROP TABLE IF EXISTS long_bench", SQL_NTS);
  check(SQLExecDirect(st, (SQLCHAR*)"CREATE TABLE long_bench (k INTEGER PRIMARY KEY, txt TEXT, bin BLOB)", SQL_NTS),
        "create", SQL_HANDLE_STMT, st);
  SQLFreeStmt(st, SQL_CLOSE);

  // The values: text of every printable ASCII character and bytes of every value.
  std::string text(size, ' '), blob(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    text[i] = static_cast<char>(' ' + i % 95);
    blob[i] = static_cast<char>(i * 7);
  }
  SQLINTEGER key = 0;
  SQLLEN key_length = 0, text_length = static_cast<SQLLEN>(size), blob_length = static_cast<SQLLEN>(size);

  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  auto start = Clock::now();
  check(SQLPrepare(st, (SQLCHAR*)"INSERT INTO long_bench (k, txt, bin) VALUES (?, ?, ?)", SQL_NTS), "prepare",
        SQL_HANDLE_STMT, st);
  SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, &key_length);
  SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, size, 0, text.data(),
                   static_cast<SQLLEN>(size), &text_length);
  SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY, size, 0, blob.data(),
                   static_cast<SQLLEN>(size), &blob_length);
  for (key = 1; key <= rows; ++key) check(SQLExecute(st), "insert", SQL_HANDLE_STMT, st);
  check(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), "commit", SQL_HANDLE_DBC, dbc);
  double write_s = seconds_since(start);
  SQLFreeStmt(st, SQL_RESET_PARAMS);
  SQLFreeStmt(st, SQL_CLOSE);

  start = Clock::now();
  check(SQLExecDirect(st, (SQLCHAR*)"SELECT k, txt, bin FROM long_bench ORDER BY k", SQL_NTS), "select",
        SQL_HANDLE_STMT, st);
  std::vector<char> buffer(2 * size + 1);
  long read = 0;
  size_t bytes = 0;
  for (;;) {
    SQLRETURN rc = SQLFetch(st);
    if (rc == SQL_NO_DATA) break;
    check(rc, "fetch", SQL_HANDLE_STMT, st);
    SQLLEN got = 0;
    check(SQLGetData(st, 2, SQL_C_CHAR, buffer.data(), static_cast<SQLLEN>(buffer.size()), &got), "text",
          SQL_HANDLE_STMT, st);
    if (got != static_cast<SQLLEN>(size) || std::memcmp(buffer.data(), text.data(), size) != 0) die("text differs");
    bytes += static_cast<size_t>(got);
    check(SQLGetData(st, 3, SQL_C_BINARY, buffer.data(), static_cast<SQLLEN>(buffer.size()), &got), "blob",
          SQL_HANDLE_STMT, st);
    if (got != static_cast<SQLLEN>(size) || std::memcmp(buffer.data(), blob.data(), size) != 0) die("blob differs");
    bytes += static_cast<size_t>(got);
    ++read;
  }
  double read_s = seconds_since(start);
  if (read != rows) die("read " + std::to_string(read) + " rows, not " + std::to_string(rows));
  SQLFreeStmt(st, SQL_CLOSE);
  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  SQLExecDirect(st, (SQLCHAR*)"DROP TABLE long_bench", SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  double cpu_s = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("{\"rows\": %ld, \"size\": %zu, \"write_s\": %.4f, \"read_s\": %.4f, \"bytes_read\": %zu, "
              "\"max_rss_kb\": %ld, \"client_cpu_s\": %.4f}\n",
              rows, size, write_s, read_s, bytes, usage.ru_maxrss, cpu_s);
  return 0;
}
