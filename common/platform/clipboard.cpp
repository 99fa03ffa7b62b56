#include "common/platform/clipboard.h"

#include <cstdint>

#include "common/utf8.h"

namespace quarl::platform {
namespace {

// Windows-1252 from 0x80 to 0x9F; the five codes it leaves undefined keep
// their Latin-1 meaning.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::string clipboard_text_as_utf8(std::string_view text) {
  if (size_t zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t at = 0; at < text.size();) {
    size_t used = 1;
    decode_utf8(bytes + at, text.size() - at, used);
    if (used > 1 || bytes[at] < 0x80) {
      out.append(text.substr(at, used));
      at += used;
      continue;
    }
    const uint8_t b = bytes[at++];
    append_utf8(out, b <= 0x9F ? kCp1252High[b - 0x80] : char32_t(b));
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
