// Who may log in.  The users file has one "USERID:PASSWORD" per line (the
// first ':' separates them, so a password may hold ':'); blank lines and
// lines starting with '#' are ignored; blanks around both fields are
// dropped.  Clients upper-case the login text, so user ids and passwords
// are compared without regard to case.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace hostserver {

class Users {
 public:
  // Only the demo user DEMO with password DEMO.
  static Users demo();
  // Parses the file's text; on a bad line returns nullopt with error set.
  static std::optional<Users> parse(std::string_view text, std::string& error);
  static std::optional<Users> load(const std::string& path, std::string& error);

  bool check(std::string_view user, std::string_view password) const;

 private:
  std::map<std::string, std::string> passwords_;  // upper-cased
};

// The credentials in a login text "USER[/PASSWORD][/CHARGE].CONFIG." (the
// driver's form) or "USER[/PASSWORD]." (the RPC library's form).  A password
// may contain '.', so each '.' is tried as the end of the credentials.
struct LoginText {
  std::string user, password, charge, config;
};
bool login_matches(const Users& users, std::string_view text, LoginText& matched);

}  // namespace hostserver
