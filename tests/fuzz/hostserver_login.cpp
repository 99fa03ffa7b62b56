// The Host Server's login request and users file: the first record's data
// is a users file, each further record's data a login request ("1", the
// message size in five digits, then the login text).
#include "hostserver/control.h"
#include "hostserver/users.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto records = fuzz::read_records(data, size);
  if (records.empty()) return 0;
  std::string error;
  auto users = hostserver::Users::parse(records[0].data, error);
  if (!users) users = hostserver::Users::demo();
  for (size_t i = 1; i < records.size(); ++i) {
    auto request = hostserver::parse_login(records[i].data);
    if (!request) continue;
    hostserver::LoginText who;
    if (hostserver::login_matches(*users, request->text, who) && who.user.empty()) __builtin_trap();
    (void)hostserver::login_user_for_log(request->text);
  }
  return 0;
}
