// Login scripts: the driver reads a script file and talks over the raw
// provider link before the HostMessages flow ("[connect]") and before it
// drops the link ("[disconnect]").  Input: the first record's data is the
// script file; the other records' data are what the far side sends, in
// order.  The connection then goes on as usual (version and login answered
// as a host would) and is closed again.
#include "tests/fuzz/fuzz_client.h"
#include "tests/support/scripted_provider.h"

namespace {

struct Harness {
  // The script file of every input, named before the folder is made.
  std::filesystem::path script = std::filesystem::temp_directory_path() /
                                 ("quarl-fuzz-login-" + std::to_string(::getpid()) + ".script");
  Harness() { fuzz::client_files("script", "", "[script]\nScripted_HOST1_scriptfile=" + script.string() + "\n"); }
};

struct Far {
  std::vector<fuzz::Record> said;
  bool queued = false;
  fuzz::HostSide host;

  std::vector<scripted::Incoming> respond(const std::string& bytes) {
    if (auto kind = fuzz::request_kind(bytes)) {
      unsigned code = kind->second;
      if (kind->first != 0 || code > 1) return {};
      return {{scripted::Incoming::Message, host.message(0, code, code == 0 ? fuzz::kVersionReply : "008192")}};
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
  fuzz::drain_diagnostics(env, dbc, SQL_NULL_HSTMT);
  if (SQL_SUCCEEDED(rc)) SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  scripted::reset();
  g_far = nullptr;
  return 0;
}
