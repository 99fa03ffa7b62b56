#include "rpc/clipboard.h"

#include "common/platform/clipboard.h"

namespace quarl::rpc {

std::string to_clipboard_text(std::string_view text, const SpecialChars& special) {
  if (!special.enabled()) return std::string(text);
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (c == special.get(SpecialChars::kCr)) out += '\r';
    else if (c == special.get(SpecialChars::kLf)) out += '\n';
    else if (c == special.get(SpecialChars::kTab)) out += '\t';
    else if (c == special.get(SpecialChars::kCrLf)) out += "\r\n";
    else out += c;
  }
  return out;
}

void put_clipboard_text(std::string_view text, const SpecialChars& special, Buffer buffer) {
  buffer.blank();
  char* out = buffer.data();
  const size_t size = buffer.size();
  if (!special.enabled()) {
    buffer.put(text.substr(0, size));
    return;
  }
  // One character written per step; a carriage return and line feed pair
  // counts as two consumed.
  size_t written = 0;
  for (size_t i = 0; i < text.size() && i < size;) {
    char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out[written++] = special.get(SpecialChars::kCrLf);
      i += 2;
      continue;
    }
    if (c == '\r') c = special.get(SpecialChars::kCr);
    else if (c == '\n') c = special.get(SpecialChars::kLf);
    else if (c == '\t') c = special.get(SpecialChars::kTab);
    out[written++] = c;
    ++i;
  }
}

size_t put_clipboard_line(std::string_view text, size_t position, const SpecialChars& special, Buffer buffer) {
  buffer.blank();
  char* out = buffer.data();
  const size_t size = buffer.size();
  const bool on = special.enabled();
  size_t written = 0;
  while (position < text.size()) {
    const bool line_end = text[position] == '\r' && position + 1 < text.size() && text[position + 1] == '\n';
    if (line_end) {
      position += 2;
      break;
    }
    // A full buffer ends the line here; the rest comes with the next call
    // (a line that fills the buffer exactly has ended, above).
    if (written == size) break;
    char c = text[position++];
    if (c == '\r') c = special.get(SpecialChars::kCr);  // whatever the flag
    else if (c == '\t' && on) c = special.get(SpecialChars::kTab);
    else if (c == '\n' && on) c = special.get(SpecialChars::kLf);
    out[written++] = c;
  }
  return position;
}

bool Clipboard::can_open() const { return !input_open_ && !output_open_ && platform::clipboard_available(); }

Status Clipboard::read(std::string& text) {
  switch (platform::read_clipboard_text(text)) {
    case platform::ClipboardStatus::Ok: return kOk;
    case platform::ClipboardStatus::Empty: return error_.fail("EMPTY");
    case platform::ClipboardStatus::CannotGet: return error_.fail("Cannot get clipboard data");
    default: return error_.fail("Cannot open clipboard");
  }
}

Status Clipboard::put_clipboard(Buffer buffer) {
  if (!can_open()) return error_.fail("Cannot open clipboard");
  std::string text = to_clipboard_text(buffer.text(), special_);
  switch (platform::write_clipboard_text(text)) {
    case platform::ClipboardStatus::Ok: return kOk;
    case platform::ClipboardStatus::CannotOpen: return error_.fail("Cannot open clipboard");
    default: return error_.fail(text.empty() ? "Cannot empty clipboard" : "Cannot set clipboard data");
  }
}

Status Clipboard::get_clipboard(Buffer buffer) {
  if (!can_open()) return error_.fail("Cannot open clipboard");
  std::string text;
  if (Status s = read(text); s != kOk) return s;
  put_clipboard_text(text, special_, buffer);
  return kOk;
}

Status Clipboard::open_clipboard_in(Buffer) {
  if (input_open_) return error_.fail("Clipboard already open");
  if (output_open_) return error_.fail("Cannot open input clipboard while output clipboard is open");
  if (!can_open()) return error_.fail("Cannot open clipboard");
  std::string text;
  if (Status s = read(text); s != kOk) return s;
  text_ = std::move(text);
  position_ = 0;
  input_open_ = true;
  return kOk;
}

Status Clipboard::get_clipboard_line(Buffer buffer) {
  if (!input_open_) return error_.fail("Clipboard not open");
  if (position_ >= text_.size()) return error_.fail("EMPTY");
  position_ = rpc::put_clipboard_line(text_, position_, special_, buffer);
  return kOk;
}

Status Clipboard::close_clipboard_in(Buffer) {
  if (!input_open_) return error_.fail("Clipboard not open");
  input_open_ = false;
  text_.clear();
  text_.shrink_to_fit();
  position_ = 0;
  return kOk;
}

Status Clipboard::open_clipboard_out(Buffer) {
  if (output_open_) return error_.fail("Clipboard already open");
  if (input_open_) return error_.fail("Cannot open output clipboard while input clipboard is open");
  if (!can_open()) return error_.fail("Cannot open clipboard");
  text_.clear();
  output_open_ = true;
  return kOk;
}

Status Clipboard::put_clipboard_line(Buffer buffer) {
  if (!output_open_) return error_.fail("Clipboard not open");
  std::string line = to_clipboard_text(buffer.text(), special_);
  if (text_.size() + line.size() + 2 > kMaxLineText) return error_.fail("Cannot reallocate clipboard memory");
  text_ += line;
  text_ += "\r\n";
  return kOk;
}

Status Clipboard::close_clipboard_out(Buffer) {
  if (!output_open_) return error_.fail("Clipboard not open");
  std::string text = std::move(text_);
  text_.clear();
  output_open_ = false;
  if (platform::write_clipboard_text(text) != platform::ClipboardStatus::Ok)
    return error_.fail("Cannot set clipboard data");
  return kOk;
}

}  // namespace quarl::rpc
