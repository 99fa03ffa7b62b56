// UTF-8, the host's character set: encoding one character and decoding one
// sequence, with the validity rules every reader of host text shares.
#pragma once

#include <cstddef>
#include <string>

namespace quarl {

// Appends the UTF-8 form of the code point c (at most U+10FFFF).
void append_utf8(std::string& out, char32_t c);

// Decodes the sequence at p (n bytes available): the code point, with
// `used` set to its length.  A malformed, overlong or truncated sequence,
// a surrogate or a value past U+10FFFF yields U+FFFD with `used` 1 (its
// first byte alone), so a caller tells it from a real U+FFFD by `used`.
char32_t decode_utf8(const unsigned char* p, size_t n, size_t& used);

}  // namespace quarl
