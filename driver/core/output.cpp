#include "driver/core/output.h"

#include "common/utf.h"

namespace quarl::driver {

TextWritten write_text(std::string_view text, const TextBuffer& out) {
  size_t capacity = out.capacity < 0 ? 0 : static_cast<size_t>(out.capacity);
  if (out.unit == TextUnit::Byte) {
    bool cut = text.size() + 1 > capacity;
    if (out.data && capacity > 0) {
      size_t n = cut ? capacity - 1 : text.size();
      std::memcpy(out.data, text.data(), n);
      static_cast<char*>(out.data)[n] = '\0';
    }
    return {static_cast<SQLLEN>(text.size()), cut};
  }
  size_t units = utf16_units_of(text.data(), text.size());
  size_t room = out.unit == TextUnit::WideChar ? capacity : capacity / 2;  // units, terminator included
  bool cut = units + 1 > room;
  if (out.data && room > 0) {
    WideCopy copied = utf8_to_utf16(text.data(), text.size(), out.data, room - 1);
    const SQLWCHAR zero = 0;
    std::memcpy(static_cast<char*>(out.data) + 2 * copied.units, &zero, sizeof zero);
  }
  SQLLEN length = static_cast<SQLLEN>(out.unit == TextUnit::WideChar ? units : 2 * units);
  return {length, cut};
}

}  // namespace quarl::driver
