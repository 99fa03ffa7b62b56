#include "hostserver/users.h"

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
    u.passwords_[quarl::to_upper(user)] = quarl::to_upper(trim(line.substr(colon + 1)));
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

bool Users::check(std::string_view user, std::string_view password) const {
  auto it = passwords_.find(quarl::to_upper(user));
  return it != passwords_.end() && it->second == quarl::to_upper(password);
}

bool login_matches(const Users& users, std::string_view text, LoginText& matched) {
  if (text.empty() || text.back() != '.') return false;
  text.remove_suffix(1);
  // The credentials end at one of the dots; try each, first to last.
  for (size_t dot = text.find('.');; dot = text.find('.', dot + 1)) {
    std::string_view credentials = dot == std::string_view::npos ? text : text.substr(0, dot);
    LoginText t;
    t.config = dot == std::string_view::npos ? std::string() : std::string(text.substr(dot + 1));
    size_t slash = credentials.find('/');
    t.user = std::string(credentials.substr(0, slash));
    if (slash != std::string_view::npos) {
      std::string_view rest = credentials.substr(slash + 1);
      size_t second = rest.find('/');
      t.password = std::string(rest.substr(0, second));
      if (second != std::string_view::npos) t.charge = std::string(rest.substr(second + 1));
    }
    if (users.check(t.user, t.password)) {
      matched = t;
      return true;
    }
    if (dot == std::string_view::npos) return false;
  }
}

}  // namespace hostserver
