// Password scrambling of stored data sources: each byte XOR its 1-based
// position taken as an 8-bit counter.  Its own inverse.
#pragma once

#include <string>
#include <string_view>

namespace quarl {

// In place on NUL-terminated text.  A byte that scrambles to zero ends the
// text there, as it does in the stored value.
void scramble_in_place(char* text);
// The scrambled (or unscrambled) form of text, cut at the first zero byte of
// the result, as the stored value would be.
std::string scramble(std::string_view text);

// Why the scrambled form of password cannot be stored in a data source and
// read back exactly, or an empty text when it can.  The ODBC installer's
// profile files end a value at a line feed and drop blanks, tabs and other
// white space at either end of it; a byte that scrambles to zero would end
// the stored text.
std::string scrambled_storage_problem(std::string_view password);

}  // namespace quarl
