// The one writer of every text buffer that the application hands in: copy,
// cut, terminate, report the full length and whether it was cut; and the
// one writer of its fixed-size values.  Texts are
// UTF-8 inside the driver; a wide buffer receives UTF-16, with its capacity
// and lengths in characters or in bytes as the entry point says.
#pragma once

#include <sql.h>

#include <cstring>
#include <string_view>

namespace quarl::driver {

// How a text buffer counts: bytes of narrow text, or UTF-16 with capacity
// and lengths in characters (SQLWCHAR units) or in bytes.
enum class TextUnit : unsigned char { Byte, WideChar, WideByte };

struct TextBuffer {
  void* data = nullptr;  // may be null: only the length is reported
  SQLLEN capacity = 0;   // in the buffer's unit, the terminator included
  TextUnit unit = TextUnit::Byte;

  static TextBuffer narrow(void* data, SQLLEN capacity) { return {data, capacity, TextUnit::Byte}; }
  static TextBuffer wide_chars(void* data, SQLLEN capacity) { return {data, capacity, TextUnit::WideChar}; }
  static TextBuffer wide_bytes(void* data, SQLLEN capacity) { return {data, capacity, TextUnit::WideByte}; }
  bool wide() const { return unit != TextUnit::Byte; }
};

struct TextWritten {
  SQLLEN length;  // the whole text's length, in the buffer's unit
  bool cut;       // the text did not fit with its terminator
};

// Copies text into out when out.data is not null and its capacity holds at
// least the terminator; never writes past the capacity.  A wide buffer takes
// whole characters only (a surrogate pair is never split) and an odd byte
// capacity counts down to whole units.
TextWritten write_text(std::string_view text, const TextBuffer& out);

// The same, writing the full length to *full_length when given.  Returns
// true when the text did not fit.
template <typename Len>
bool write_text_out(std::string_view text, const TextBuffer& out, Len* full_length) {
  TextWritten w = write_text(text, out);
  if (full_length) *full_length = static_cast<Len>(w.length);
  return w.cut;
}

// Narrow buffers, as the ODBC 2 entry points pass them.
template <typename Len>
bool write_text_out(std::string_view text, char* out, long capacity, Len* full_length) {
  return write_text_out(text, TextBuffer::narrow(out, capacity), full_length);
}
template <typename Len>
bool write_text_out(std::string_view text, unsigned char* out, long capacity, Len* full_length) {
  return write_text_out(text, TextBuffer::narrow(out, capacity), full_length);
}

// A fixed-size value into an application's buffer of unknown alignment
// (nothing when out is null): attributes, options and diagnostic fields.
template <typename T>
void put_value(SQLPOINTER out, T value) {
  if (out) std::memcpy(out, &value, sizeof value);
}

}  // namespace quarl::driver
