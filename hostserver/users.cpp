#include "hostserver/users.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "common/text.h"

namespace hostserver {
namespace {

// Lines may end in CR LF.
std::string_view trim(std::string_view s) { return quarl::trim(s, " \t\r"); }

}  // namespace

Users Users::demo() {
  Users u;
  u.passwords_["DEMO"] = "DEMO";
  return u;
}

std::optional<Users> Users::parse(std::string_view text, std::string& error) {
  Users u;
  int number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (line.empty() || line.front() == '#') continue;
    size_t colon = line.find(':');
    std::string_view user = trim(line.substr(0, colon));
    if (colon == std::string_view::npos || user.empty() || user.find_first_of("/.") != std::string_view::npos) {
      error = "line " + std::to_string(number) + ": expected USERID:PASSWORD (user ids hold no '/' or '.')";
      return std::nullopt;
    }
    std::string_view password = trim(line.substr(colon + 1));
    if (password.find('/') != std::string_view::npos) {
      error = "line " + std::to_string(number) + ": a password holds no '/' (clients send a charge code after it)";
      return std::nullopt;
    }
    u.passwords_[quarl::to_upper(user)] = quarl::to_upper(password);
  }
  return u;
}

std::optional<Users> Users::load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  std::stringstream s;
  s << in.rdbuf();
  auto users = parse(s.str(), error);
  if (!users) error = path + ": " + error;
  return users;
}

const std::string* Users::password_of(std::string_view user) const {
  auto it = passwords_.find(quarl::to_upper(user));
  return it == passwords_.end() ? nullptr : &it->second;
}

bool Users::check(std::string_view user, std::string_view password) const {
  const std::string* stored = password_of(user);
  return stored && *stored == quarl::to_upper(password);
}

bool login_matches(const Users& users, std::string_view text, LoginText& matched) {
  if (text.empty() || text.back() != '.') return false;
  text.remove_suffix(1);
  size_t user_end = std::min(text.find_first_of("/."), text.size());
  LoginText t;
  t.user = std::string(text.substr(0, user_end));
  const std::string* stored = users.password_of(t.user);
  if (!stored) return false;
  std::string_view rest = text.substr(user_end);
  if (!rest.empty() && rest.front() == '/') {
    rest.remove_prefix(1);
    if (rest.size() < stored->size()) return false;
    // Every character is compared, whatever the first difference.
    unsigned difference = 0;
    for (size_t i = 0; i < stored->size(); ++i)
      difference |= static_cast<unsigned char>(quarl::ascii_upper(rest[i])) ^ static_cast<unsigned char>((*stored)[i]);
    if (difference) return false;
    rest.remove_prefix(stored->size());
    if (!rest.empty() && rest.front() == '/') {  // a charge code up to the next '.'
      size_t end = std::min(rest.find('.'), rest.size());
      t.charge = std::string(rest.substr(1, end - 1));
      rest.remove_prefix(end);
    }
  } else if (!stored->empty()) {
    return false;  // no password given
  }
  if (!rest.empty() && rest.front() != '.') return false;
  if (!rest.empty()) t.config = std::string(rest.substr(1));
  matched = std::move(t);
  return true;
}

}  // namespace hostserver
