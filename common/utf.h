// UTF-16 (the wide character C types of ODBC, automation strings) to and from
// UTF-8 (the host's text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarl {

// Appends the UTF-8 form of `units` UTF-16 code units read from src (any
// alignment).  An unpaired surrogate is refused: false, with its unit index
// in bad_unit; out then holds what came before it.
bool utf16_to_utf8(const void* src, size_t units, std::string& out, size_t& bad_unit);
// The same, with every unpaired surrogate taken as U+FFFD.
void utf16_to_utf8_replacing(const void* src, size_t units, std::string& out);

// Number of UTF-16 units before the first 0 unit at src (any alignment).
size_t utf16_length(const void* src);

// UTF-16 units that the n bytes of UTF-8 at p become.
size_t utf16_units_of(const char* p, size_t n);

// The longest length up to max_bytes at which the n bytes of UTF-8 at p may
// be cut without splitting a character (a name kept to a fixed size).
size_t utf8_cut(const char* p, size_t n, size_t max_bytes);

// Converts whole characters of the n UTF-8 bytes at src into UTF-16 at dest
// (any alignment), at most max_units units; a character is never split.
struct WideCopy {
  size_t src_used;
  size_t units;
};
WideCopy utf8_to_utf16(const char* src, size_t n, void* dest, size_t max_units);

}  // namespace quarl
