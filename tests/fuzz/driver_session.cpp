// The driver's receive path through its ODBC entry points: a host whose
// replies are the fuzzer's.  The driver connects (version and login are
// answered as a host would), allocates a statement and then plays one of a
// few scenarios (a query, a prepared statement with a parameter, catalog
// functions, a transaction), fetching every row and reading every column in
// several C types; every reply it receives from then on comes from the
// input: describe replies and their continuations, fetch replies and row
// data, error items, and envelopes (records of type 0xFF are whole messages,
// control bytes and all).
//
// Input: the first record chooses the scenario (its type byte) and the C
// types (its code byte) and carries the SQL text; the other records are the
// host's replies, in order.
//
// With QUARL_FUZZ_RECORD=PREFIX and QUARL_FUZZ_SERVER=HOST:PORT the target
// plays the scenario of each input file against a real Host Server instead
// and writes what it saw as seeds: PREFIX.driver (this target's input) and
// PREFIX.requests (the requests, for hostserver_requests).
#include <cstring>

#include "tests/fuzz/fuzz_client.h"
#include "tests/support/scripted_provider.h"

namespace {

const char* const kConnect = "UID=DEMO;PWD=DEMO;Provider=Scripted;Connection=HOST1";

// The host: fixed answers to the connection's own requests, then the input.
struct Host {
  std::vector<fuzz::Record> replies;
  bool streaming = false;  // the scenario has begun
  bool queued = false;     // the input's replies are on their way
  fuzz::HostSide host;
  // Record mode: the real server, and what it answered.
  int server = -1;
  std::string recorded_replies, recorded_requests;
  bool logged_in = false;

  std::string message(unsigned type, unsigned code, const std::string& data) { return host.message(type, code, data); }

  std::vector<scripted::Incoming> respond(const std::string& bytes) {
    auto kind = fuzz::request_kind(bytes);
    if (!kind) return {};
    unsigned type = kind->first, code = kind->second;
    // The connection's version request and login and the statement's
    // allocation come before the scenario.
    bool before_scenario = !streaming && ((type == 0 && (code == 0 || code == 1)) || (type == 1 && code == 1));
    if (!before_scenario) streaming = true;
    if (server >= 0) return forward(bytes, type, code, before_scenario);
    auto fixed = [&](const std::string& data) {
      return std::vector<scripted::Incoming>{{scripted::Incoming::Message, message(type, code, data)}};
    };
    if (before_scenario) {
      if (type == 0 && code == 0) return fixed(fuzz::kVersionReply);
      if (type == 0 && code == 1) return fixed("008192");
      return fixed("00001");
    }
    if (queued) return {};
    // From the first request of the scenario on, the input is the stream of
    // replies the driver reads.
    queued = true;
    std::vector<scripted::Incoming> out;
    for (auto& r : replies) {
      if (r.type == fuzz::kRaw) out.push_back({scripted::Incoming::Message, r.data});
      else out.push_back({scripted::Incoming::Message, message(r.type, r.code, r.data)});
    }
    return out;
  }

  // Sends the request to the real server and takes its replies (those that
  // arrive before it goes quiet).
  std::vector<scripted::Incoming> forward(const std::string& bytes, unsigned type, unsigned code,
                                          bool before_scenario) {
    bool connection_level = before_scenario || (type == 0 && code == 3);
    if (logged_in) recorded_requests += fuzz::write_record(uint8_t(type), uint8_t(code), bytes.substr(14));
    std::vector<scripted::Incoming> out;
    for (auto& body : fuzz::forward(server, bytes, connection_level ? nullptr : &recorded_replies))
      out.push_back({scripted::Incoming::Message, body});
    if (type == 0 && code == 1) logged_in = true;
    return out;
  }
};

Host* g_host = nullptr;

void drain(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) { fuzz::drain_diagnostics(env, dbc, stmt); }

void fetch_all(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, uint8_t types) {
  static const SQLSMALLINT kTypes[] = {SQL_C_CHAR,   SQL_C_LONG,      SQL_C_DOUBLE, SQL_C_TIMESTAMP,
                                       SQL_C_BINARY, SQL_C_DEFAULT,   SQL_C_SHORT,  SQL_C_DATE,
                                       SQL_C_TIME,   SQL_C_BIT,       SQL_C_FLOAT,  SQL_C_TINYINT};
  SQLSMALLINT columns = 0;
  SQLNumResultCols(stmt, &columns);
  SQLLEN rows = 0;
  SQLRowCount(stmt, &rows);
  for (SQLSMALLINT c = 1; c <= columns && c <= 64; ++c) {
    SQLCHAR name[64];
    SQLSMALLINT name_length, sql_type, scale, nullable;
    SQLULEN precision;
    SQLDescribeCol(stmt, SQLUSMALLINT(c), name, sizeof name, &name_length, &sql_type, &precision, &scale, &nullable);
    SQLLEN attribute = 0;
    SQLColAttributes(stmt, SQLUSMALLINT(c), SQL_COLUMN_DISPLAY_SIZE, nullptr, 0, nullptr, &attribute);
  }
  drain(env, dbc, stmt);
  for (int row = 0; row < 64; ++row) {
    SQLRETURN rc = SQLFetch(stmt);
    drain(env, dbc, stmt);
    if (!SQL_SUCCEEDED(rc)) break;
    for (SQLSMALLINT c = 1; c <= columns && c <= 64; ++c) {
      alignas(16) unsigned char value[300];
      SQLLEN indicator = 0;
      SQLSMALLINT type = kTypes[(types + c) % (sizeof kTypes / sizeof kTypes[0])];
      // A short buffer first, then the rest of the value.
      SQLGetData(stmt, SQLUSMALLINT(c), type, value, type == SQL_C_CHAR || type == SQL_C_BINARY ? 7 : sizeof value,
                 &indicator);
      SQLGetData(stmt, SQLUSMALLINT(c), type, value, sizeof value, &indicator);
    }
    drain(env, dbc, stmt);
  }
}

void play(uint8_t scenario, uint8_t types, const std::string& sql_text) {
  std::string sql = sql_text.empty() ? "SELECT * FROM t" : sql_text;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocEnv(&env);
  SQLAllocConnect(env, &dbc);
  SQLCHAR out[256];
  SQLSMALLINT out_length = 0;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)kConnect, SQL_NTS, out, sizeof out, &out_length,
                                      SQL_DRIVER_NOPROMPT))) {
    drain(env, dbc, stmt);
    SQLFreeConnect(dbc);
    SQLFreeEnv(env);
    return;
  }
  if (SQL_SUCCEEDED(SQLAllocStmt(dbc, &stmt))) {
    switch (scenario % 6) {
      case 0:
        SQLExecDirect(stmt, (SQLCHAR*)sql.data(), SQLINTEGER(sql.size()));
        break;
      case 1: {
        SQLPrepare(stmt, (SQLCHAR*)sql.data(), SQLINTEGER(sql.size()));
        drain(env, dbc, stmt);
        SQLCHAR param[] = "parameter value";
        SQLLEN length = SQL_NTS;
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, param, sizeof param, &length);
        SQLExecute(stmt);
        break;
      }
      case 2:
        SQLTables(stmt, nullptr, 0, nullptr, 0, (SQLCHAR*)"%", SQL_NTS, nullptr, 0);
        break;
      case 3:
        SQLGetTypeInfo(stmt, SQL_ALL_TYPES);
        break;
      case 4:
        SQLColumns(stmt, nullptr, 0, nullptr, 0, (SQLCHAR*)"employees", SQL_NTS, (SQLCHAR*)"%", SQL_NTS);
        break;
      case 5:
        SQLSetConnectOption(dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF);
        drain(env, dbc, stmt);
        SQLExecDirect(stmt, (SQLCHAR*)sql.data(), SQLINTEGER(sql.size()));
        drain(env, dbc, stmt);
        SQLTransact(env, dbc, SQL_COMMIT);
        break;
    }
    drain(env, dbc, stmt);
    fetch_all(env, dbc, stmt, types);
    SQLFreeStmt(stmt, SQL_DROP);
  }
  drain(env, dbc, SQL_NULL_HSTMT);
  SQLDisconnect(dbc);
  drain(env, dbc, SQL_NULL_HSTMT);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto files = fuzz::client_files("driver");
  (void)files;
  auto records = fuzz::read_records(data, size);
  if (records.empty()) return 0;
  Host host;
  host.replies.assign(records.begin() + 1, records.end());
  auto path = fuzz::record_path();
  if (path) {
    const char* address = std::getenv("QUARL_FUZZ_SERVER");
    std::string a = address ? address : "";
    host.server = fuzz::connect_loopback(std::stoi(a.substr(a.rfind(':') + 1)));
    if (host.server < 0) std::abort();
  }
  g_host = &host;
  scripted::reset();
  scripted::set_responder([](const std::string& bytes) { return g_host->respond(bytes); });
  play(records[0].type, records[0].code, records[0].data);
  scripted::reset();
  g_host = nullptr;
  if (path) {
    ::close(host.server);
    fuzz::write_file(*path + ".driver",
                     fuzz::write_record(records[0].type, records[0].code, records[0].data) + host.recorded_replies);
    fuzz::write_file(*path + ".requests", host.recorded_requests);
  }
  return 0;
}
