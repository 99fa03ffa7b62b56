#include "driver/codec/sql_text.h"

#include <cstring>
#include <string>

#include "common/text.h"

namespace quarl::codec {

CleanText clean_sql_text(const char* text, SQLINTEGER length) {
  if (text == nullptr) return {{}, std::nullopt};
  size_t n = 0;
  if (length == SQL_NTS) {
    n = std::strlen(text);
  } else if (length < 0) {
    return {{}, Diag{kErrArgument, "Invalid SQL text length " + std::to_string(length)}};
  } else {
    n = static_cast<size_t>(length);
  }
  std::string_view s(text, n);
  size_t blanks = s.find_first_not_of(' ');
  s.remove_prefix(blanks == std::string_view::npos ? s.size() : blanks);
  if (istarts_with(s, "select * from select")) s.remove_prefix(14);
  if (!s.empty() && s.back() == ';') s.remove_suffix(1);
  return {s, std::nullopt};
}

void copy_blanking_controls(char* dest, const char* src, size_t n) {
  for (size_t i = 0; i < n; ++i) dest[i] = static_cast<unsigned char>(src[i]) < 32 ? ' ' : src[i];
}

std::optional<size_t> count_parameter_markers(std::string_view text) {
  size_t markers = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    auto skip_to = [&](std::string_view end) {
      size_t at = text.find(end, i + 1);
      i = at == std::string_view::npos ? text.size() : at + end.size() - 1;
    };
    switch (c) {
      case '\'':  // a doubled quote inside ends and reopens the literal: the same
        skip_to("'");
        break;
      case '"': skip_to("\""); break;
      case '`': skip_to("`"); break;
      case '[': skip_to("]"); break;
      case '-':
        if (i + 1 < text.size() && text[i + 1] == '-') skip_to("\n");
        break;
      case '/':
        if (i + 1 < text.size() && text[i + 1] == '*') skip_to("*/");
        break;
      case '?':
        if (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') return std::nullopt;
        ++markers;
        break;
      case ':':
      case '@':
      case '$': return std::nullopt;
      default: break;
    }
  }
  return markers;
}

bool reads_rows(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '(' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  auto word = [&](std::string_view w) {
    if (text.size() - at < w.size()) return false;
    for (size_t i = 0; i < w.size(); ++i)
      if ((text[at + i] | 0x20) != w[i]) return false;
    // The whole word: what follows is no letter, digit or underscore.
    if (text.size() - at == w.size()) return true;
    char next = text[at + w.size()];
    return !((next | 0x20) >= 'a' && (next | 0x20) <= 'z') && !(next >= '0' && next <= '9') && next != '_';
  };
  return word("select") || word("values");
}

}  // namespace quarl::codec
