#include "common/scramble.h"

#include <cstdint>
#include <string>

namespace quarl {

void scramble_in_place(char* text) {
  uint8_t position = 1;
  for (char* p = text; *p != '\0'; ++p, ++position) *p = static_cast<char>(*p ^ position);
}

std::string scramble(std::string_view text) {
  std::string out;
  uint8_t position = 1;
  for (char c : text) {
    if (c == '\0') break;
    char s = static_cast<char>(c ^ position++);
    if (s == '\0') break;
    out += s;
  }
  return out;
}

std::string scrambled_storage_problem(std::string_view password) {
  auto is_space = [](unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); };
  // The message names the position only: it may reach logs.
  auto character = [](size_t i) { return "its character " + std::to_string(i + 1); };
  uint8_t position = 1;
  for (size_t i = 0; i < password.size(); ++i, ++position) {
    unsigned char s = static_cast<unsigned char>(password[i] ^ position);
    if (s == 0) return character(i) + " scrambles to a zero byte, which would end the stored password";
    if (s == '\n') return character(i) + " scrambles to a line feed, which would end the stored password";
    if (is_space(s) && (i == 0 || i + 1 == password.size()))
      return character(i) + " scrambles to white space at the " + (i == 0 ? "start" : "end") +
             " of the stored password, which the ODBC installer drops";
  }
  return {};
}

}  // namespace quarl
