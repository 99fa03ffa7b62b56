// Login scripts: the driver reads a script file and talks over the raw
// provider link before the HostMessages flow ("[connect]") and before it
// drops the link ("[disconnect]").  Input: the first record's data is the
// script file; the other records' data are what the far side sends, in
// order.  The connection then goes on as usual (version and login answered
// as a host would) and is closed again.
#include <sql.h>
#include <sqlext.h>

#include "tests/fuzz/fuzz_support.h"
#include "tests/support/scripted_provider.h"

namespace {

struct Harness {
  std::filesystem::path dir = fuzz::work_dir("script");
  std::filesystem::path script = dir / "login.script";
  Harness() {
    std::filesystem::create_directories(dir / "profile");
    fuzz::write_file(dir / "profile" / "tellix.ini",
                     std::string("[providers]\nScripted=") + QUARL_FUZZ_SCRIPTED_PROVIDER + "\n");
    fuzz::write_file(dir / "profile" / "quarl.ini",
                     "[script]\nScripted_HOST1_scriptfile=" + script.string() + "\n");
    fuzz::write_file(dir / "odbc.ini", "");
    fuzz::write_file(dir / "odbcinst.ini", "");
    ::setenv("QUARL_PROFILE_DIR", (dir / "profile").c_str(), 1);
    ::setenv("ODBCSYSINI", dir.c_str(), 1);
    ::setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
  }
};

struct Far {
  std::vector<fuzz::Record> said;
  bool queued = false;
  char sequence = '0';

  std::vector<scripted::Incoming> respond(const std::string& bytes) {
    if (bytes.size() >= 14 && bytes.compare(0, 3, "#@!") == 0) {
      unsigned code = unsigned((bytes[7] - '0') * 100 + (bytes[8] - '0') * 10 + (bytes[9] - '0'));
      std::string data = code == 0 ? "005000021Quarl Host V5R0M5." : code == 1 ? "008192" : "";
      if (data.empty()) return {};
      std::string m = fuzz::host_message(sequence, 0, 0, code, data);
      sequence = fuzz::next_sequence(sequence);
      return {{scripted::Incoming::Message, m}};
    }
    if (queued) return {};
    queued = true;
    std::vector<scripted::Incoming> out;
    for (auto& r : said) out.push_back({scripted::Incoming::Message, r.data});
    return out;
  }
};

Far* g_far = nullptr;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  auto records = fuzz::read_records(data, size);
  if (records.empty()) return 0;
  fuzz::write_file(harness.script, records[0].data);
  Far far;
  far.said.assign(records.begin() + 1, records.end());
  g_far = &far;
  scripted::reset();
  scripted::set_responder([](const std::string& bytes) { return g_far->respond(bytes); });

  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocEnv(&env);
  SQLAllocConnect(env, &dbc);
  SQLCHAR out[256];
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)"UID=DEMO;PWD=SECRET;Provider=Scripted;Connection=HOST1",
                                  SQL_NTS, out, sizeof out, &length, SQL_DRIVER_NOPROMPT);
  SQLCHAR state[6], text[600];
  SQLINTEGER native;
  SQLSMALLINT text_length;
  while (SQLError(env, dbc, SQL_NULL_HSTMT, state, &native, text, sizeof text, &text_length) == SQL_SUCCESS) {
  }
  if (SQL_SUCCEEDED(rc)) SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  scripted::reset();
  g_far = nullptr;
  return 0;
}
