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

}  // namespace quarl
