// Connection and attribute strings: SQLDriverConnect's connection string
// (the host answers as it would; the output string goes to buffers of every
// size) and the attribute string grammar with both of its separators (the
// RPC library's item lists are fuzzed with its Connect in rpc_session).
// Input: the first record's data is the connection string and its code byte
// the size of the output buffer; a second record's data is read as an
// attribute string.
#include "common/attributes.h"
#include "tests/fuzz/fuzz_client.h"
#include "tests/support/scripted_provider.h"

namespace {

fuzz::HostSide g_host;

std::vector<scripted::Incoming> host(const std::string& bytes) {
  auto kind = fuzz::request_kind(bytes);
  if (!kind || kind->first != 0 || kind->second > 1) return {};
  return {{scripted::Incoming::Message,
           g_host.message(0, kind->second, kind->second == 0 ? fuzz::kVersionReply : "008192")}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto files = fuzz::client_files("connstr", "[FUZZ]\nProvider=Scripted\nConnection=HOST1\nUID=DEMO\n");
  (void)files;
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
  fuzz::drain_diagnostics(env, dbc, SQL_NULL_HSTMT);
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
