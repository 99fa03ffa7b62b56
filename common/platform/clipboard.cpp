#include "common/platform/clipboard.h"

#include <cstdint>

namespace quarl::platform {
namespace {

// Windows-1252 from 0x80 to 0x9F; the five codes it leaves undefined keep
// their Latin-1 meaning.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the valid UTF-8 sequence at text[at], or 0.
size_t utf8_sequence(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  uint8_t b = byte(at);
  if (b < 0x80) return 1;
  size_t n;
  char32_t c;
  if (b >= 0xC2 && b <= 0xDF) n = 2, c = b & 0x1F;
  else if (b >= 0xE0 && b <= 0xEF) n = 3, c = b & 0x0F;
  else if (b >= 0xF0 && b <= 0xF4) n = 4, c = b & 0x07;
  else return 0;
  if (at + n > text.size()) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid.
  if ((n == 3 && c < 0x800) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string clipboard_text_as_utf8(std::string_view text) {
  if (size_t zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    if (size_t n = utf8_sequence(text, at)) {
      out.append(text.substr(at, n));
      at += n;
      continue;
    }
    auto b = static_cast<uint8_t>(text[at++]);
    append_utf8(out, b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : char32_t(b));
  }
  return out;
}

bool clipboard_available() {
  Desktop* screen = desktop();
  return screen && screen->clipboard_available();
}

ClipboardStatus read_clipboard_text(std::string& text) {
  text.clear();
  Desktop* screen = desktop();
  if (!screen) return ClipboardStatus::CannotOpen;
  ClipboardStatus status = screen->read_clipboard(text);
  if (size_t zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
  return status;
}

ClipboardStatus write_clipboard_text(std::string_view text) {
  Desktop* screen = desktop();
  if (!screen) return ClipboardStatus::CannotOpen;
  return screen->write_clipboard(clipboard_text_as_utf8(text));
}

}  // namespace quarl::platform
