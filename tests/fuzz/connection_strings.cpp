// Connection and attribute strings: SQLDriverConnect's connection string
// (the host answers as it would; the output string goes to buffers of every
// size) and the attribute string grammar with both of its separators (the
// RPC library's item lists are fuzzed with its Connect in rpc_session).
// Input: the first record's data is the connection string and its code byte
// the size of the output buffer; a second record's data is read as an
// attribute string.
#include <sql.h>
#include <sqlext.h>

#include "common/attributes.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/scripted_provider.h"

namespace {

struct Harness {
  Harness() {
    auto dir = fuzz::work_dir("connstr");
    std::filesystem::create_directories(dir / "profile");
    fuzz::write_file(dir / "profile" / "tellix.ini",
                     std::string("[providers]\nScripted=") + QUARL_FUZZ_SCRIPTED_PROVIDER + "\n");
    fuzz::write_file(dir / "odbc.ini", "[FUZZ]\nProvider=Scripted\nConnection=HOST1\nUID=DEMO\n");
    fuzz::write_file(dir / "odbcinst.ini", "");
    ::setenv("QUARL_PROFILE_DIR", (dir / "profile").c_str(), 1);
    ::setenv("ODBCSYSINI", dir.c_str(), 1);
    ::setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
  }
};

char g_sequence = '0';

std::vector<scripted::Incoming> host(const std::string& bytes) {
  if (bytes.size() < 14 || bytes.compare(0, 3, "#@!") != 0) return {};
  unsigned code = unsigned((bytes[7] - '0') * 100 + (bytes[8] - '0') * 10 + (bytes[9] - '0'));
  if (bytes[6] != '0' || code > 1) return {};
  std::string m = fuzz::host_message(g_sequence, 0, 0, code, code == 0 ? "005000021Quarl Host V5R0M5." : "008192");
  g_sequence = fuzz::next_sequence(g_sequence);
  return {{scripted::Incoming::Message, m}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  auto records = fuzz::read_records(data, size);
  if (records.empty()) return 0;

  scripted::reset();
  scripted::set_responder(host);
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocEnv(&env);
  SQLAllocConnect(env, &dbc);
  std::string in = records[0].data;  // terminated: the driver reads to the terminator
  std::vector<SQLCHAR> out(records[0].code + 1, 0xAB);
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, out.data(),
                                  static_cast<SQLSMALLINT>(records[0].code), &length, SQL_DRIVER_NOPROMPT);
  if (out.back() != 0xAB) __builtin_trap();  // written past the size it was given
  SQLCHAR state[6], text[600];
  SQLINTEGER native;
  SQLSMALLINT text_length;
  while (SQLError(env, dbc, SQL_NULL_HSTMT, state, &native, text, sizeof text, &text_length) == SQL_SUCCESS) {
  }
  if (SQL_SUCCEEDED(rc)) SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  scripted::reset();

  if (records.size() > 1) {
    for (char separator : {';', '\0'}) {
      quarl::ConnAttributes block{};
      bool defaulted = false;
      quarl::parse_attribute_string(records[1].data, separator, block, defaulted);
      for (int i = 0; i < quarl::kAttrCount; ++i)
        if (block.get(i).size() > quarl::kAttrValueMax) __builtin_trap();
    }
  }
  return 0;
}
