// Who may log in.  The users file has one "USERID:PASSWORD" per line (the
// first ':' separates them, so a password may hold ':' but no '/', which
// the clients use before a charge code); blank lines and
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
  // The stored (upper-case) password of a user id given in any case.
  const std::string* password_of(std::string_view user) const;

 private:
  std::map<std::string, std::string> passwords_;  // upper-cased
};

// The credentials in a login text "USER[/PASSWORD][/CHARGE].CONFIG." (the
// driver's form) or "USER[/PASSWORD]." (the RPC library's form).  A password
// may contain '.', so the user's stored password is compared with what
// follows the first '/', which must then end at a '/', a '.' or the end: one
// pass over the text, however many dots it holds.
struct LoginText {
  std::string user, charge, config;
};
bool login_matches(const Users& users, std::string_view text, LoginText& matched);

}  // namespace hostserver
