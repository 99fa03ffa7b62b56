// The statement text as it is sent: cleaned once, and control bytes blanked
// as it is copied into the messages.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "driver/codec/diag.h"
#include "driver/codec/odbc.h"

namespace quarl::codec {

// SQL_NTS means the string length; leading spaces are skipped; a text that
// starts with "select * from select" (any case) loses its first 14
// characters; a final ';' is dropped.  A null text counts as empty; another
// negative length is refused (index 6).
struct CleanText {
  std::string_view text;
  std::optional<Diag> diag;
};
CleanText clean_sql_text(const char* text, SQLINTEGER length);

// The '?' parameter markers of a statement text (outside string literals,
// quoted names and comments), or nullopt when the text names its parameters
// otherwise as well (?NNN, :name, @name, $name), so that their number is not
// known without the host.
std::optional<size_t> count_parameter_markers(std::string_view text);

// The text is a query that gives rows: it starts (after blanks and opening
// parentheses) with the word SELECT or VALUES, in any case.
bool reads_rows(std::string_view text);

// Copies n bytes, sending every control character (below 0x20) as a space.
// Bytes from 0x80 on are kept: they are the host's UTF-8 text, and blanking
// them would corrupt every literal outside ASCII.
void copy_blanking_controls(char* dest, const char* src, size_t n);

}  // namespace quarl::codec
