// Small text helpers shared by the libraries (ASCII rules, as the host uses).
#pragma once

#include <string>
#include <string_view>

namespace quarl {

constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  return true;
}

constexpr bool istarts_with(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

inline std::string to_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_upper(c);
  return out;
}

// text without the characters of blanks at either end.
constexpr std::string_view trim(std::string_view text, std::string_view blanks = " \t") {
  size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string_view::npos) return text.substr(text.size());
  return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

// text without its trailing blanks (0x20 only).
constexpr std::string_view trim_trailing_blanks(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && text[n - 1] == ' ') --n;
  return text.substr(0, n);
}

}  // namespace quarl
