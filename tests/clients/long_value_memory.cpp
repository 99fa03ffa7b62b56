// A value of 100 MiB read in 64 KiB pieces through each Quarl driver must not
// be held whole in the client: the process's peak resident size grows by far
// less than the value.  Run under quarl_client_env with a host that stores
// such values (--host --max-value-mb=128 --host --client-memory-mb=512).
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr SQLLEN kValue = 100 << 20;
constexpr SQLLEN kPiece = 64 << 10;
constexpr long kAllowedGrowthKb = 16 << 10;

long peak_rss_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

bool fail(const char* what, SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {}, message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
  std::fprintf(stderr, "%s: %s %s\n", what, state, message);
  return false;
}

// Reads column 1 of the query in pieces; every byte must be `expected`.
bool read_in_pieces(const std::string& dsn, const char* query, SQLSMALLINT c_type, char expected) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT st = nullptr;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::string connect = "DSN=" + dsn;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT)))
    return fail("connect", SQL_HANDLE_DBC, dbc);
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  if (!SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)query, SQL_NTS))) return fail("execute", SQL_HANDLE_STMT, st);
  if (!SQL_SUCCEEDED(SQLFetch(st))) return fail("fetch", SQL_HANDLE_STMT, st);
  long before = peak_rss_kb();
  // 64 KiB a piece: a text's buffer has room for its terminator too.
  std::vector<char> piece(static_cast<size_t>(kPiece) + (c_type == SQL_C_CHAR ? 1 : 0));
  SQLLEN total = 0, first_length = 0;
  int pieces = 0;
  for (;;) {
    SQLLEN length = 0;
    SQLRETURN rc = SQLGetData(st, 1, c_type, piece.data(), static_cast<SQLLEN>(piece.size()), &length);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) return fail("SQLGetData", SQL_HANDLE_STMT, st);
    if (pieces++ == 0) first_length = length;
    SQLLEN got = rc == SQL_SUCCESS ? length : kPiece;
    for (SQLLEN i = 0; i < got; ++i)
      if (piece[static_cast<size_t>(i)] != expected) {
        std::fprintf(stderr, "%s: byte %ld differs\n", dsn.c_str(), static_cast<long>(total + i));
        return false;
      }
    total += got;
  }
  long growth = peak_rss_kb() - before;
  std::printf("%s type %d: %ld bytes in %d pieces, first length %ld, peak RSS grew by %ld KiB\n", dsn.c_str(), c_type,
              static_cast<long>(total), pieces, static_cast<long>(first_length), growth);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  if (total != kValue || first_length != kValue) {
    std::fprintf(stderr, "%s: read %ld bytes (first length %ld), not %ld\n", dsn.c_str(), static_cast<long>(total),
                 static_cast<long>(first_length), static_cast<long>(kValue));
    return false;
  }
  if (growth > kAllowedGrowthKb) {
    std::fprintf(stderr, "%s: the client held %ld KiB more while reading\n", dsn.c_str(), growth);
    return false;
  }
  return true;
}

}  // namespace

int main() {
  bool ok = true;
  const std::string text = "SELECT printf('%.*c', " + std::to_string(kValue) + ", 'x')";
  const std::string blob = "SELECT zeroblob(" + std::to_string(kValue) + ")";
  for (const char* variable : {"QUARL_TEST_DSN", "QUARL_TEST_UNICODE_DSN"}) {
    const char* dsn = std::getenv(variable);
    if (dsn == nullptr) {
      std::fprintf(stderr, "%s is not set: run under quarl_client_env\n", variable);
      return 2;
    }
    ok = read_in_pieces(dsn, text.c_str(), SQL_C_CHAR, 'x') && ok;
    ok = read_in_pieces(dsn, blob.c_str(), SQL_C_BINARY, '\0') && ok;
  }
  return ok ? 0 : 1;
}
