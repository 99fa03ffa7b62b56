// The one writer of every text buffer that the application hands in: copy,
// cut, terminate, report the full length and whether it was cut.
#pragma once

#include <cstring>
#include <string_view>

namespace quarl::driver {

// Copies text into out (capacity bytes, terminator included) when out is not
// null; writes the full length to *full_length when given.  Never writes past
// capacity; a capacity below 1 writes nothing.  Returns true when the text
// did not fit.
template <typename Len>
bool write_text_out(std::string_view text, char* out, long capacity, Len* full_length) {
  bool cut = text.size() + 1 > static_cast<size_t>(capacity < 0 ? 0 : capacity);
  if (out && capacity > 0) {
    size_t n = cut ? static_cast<size_t>(capacity) - 1 : text.size();
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
  }
  if (full_length) *full_length = static_cast<Len>(text.size());
  return cut;
}

template <typename Len>
bool write_text_out(std::string_view text, unsigned char* out, long capacity, Len* full_length) {
  return write_text_out(text, reinterpret_cast<char*>(out), capacity, full_length);
}

}  // namespace quarl::driver
