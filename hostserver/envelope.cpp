#include "hostserver/envelope.h"

#include <algorithm>

#include "common/digits.h"

namespace hostserver {

namespace hostmsg = quarl::hostmsg;

bool parse_digits(std::string_view field, unsigned& value) {
  if (field.empty()) return false;
  unsigned v = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  value = v;
  return true;
}

ParsedFrame parse_frame(std::string_view frame) {
  ParsedFrame out{FrameKind::Malformed, {}, {}};
  size_t skip = hostmsg::strip_control(frame.data(), frame.size());
  frame.remove_prefix(skip);
  if (frame.size() < 3 || frame.substr(0, 3) != hostmsg::kMagic) {
    out.kind = FrameKind::Foreign;
    return out;
  }
  if (frame.size() < hostmsg::kHeaderSize) {
    out.problem = "message shorter than its header";
    return out;
  }
  Request& r = out.request;
  unsigned length = 0;
  r.sequence = frame[3];
  if (!parse_digits(frame.substr(4, 2), r.sub_id) || !parse_digits(frame.substr(6, 1), r.type) ||
      !parse_digits(frame.substr(7, 3), r.code)) {
    out.problem = "header fields are not digits";
    return out;
  }
  if (!parse_digits(frame.substr(10, 4), length) || length != frame.size() - hostmsg::kHeaderSize) {
    out.kind = FrameKind::BadLength;
    out.problem = "data length field " + std::string(frame.substr(10, 4)) + " does not match the " +
                  std::to_string(frame.size() - hostmsg::kHeaderSize) + " data bytes received";
    return out;
  }
  r.data.assign(frame.substr(hostmsg::kHeaderSize));
  out.kind = FrameKind::Request;
  return out;
}

void append_digits(std::string& out, int width, uint64_t value) {
  size_t at = out.size();
  out.resize(at + static_cast<size_t>(width));
  quarl::put_digits(out.data() + at, width, value);
}

void append_signed(std::string& out, int width, int64_t value) {
  if (value < 0) out += '-';
  append_digits(out, width, value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
}

ErrorItems& ErrorItems::add(unsigned index, std::string_view text) {
  if (index == 0) index = kErrGeneral;  // 0 would end the list
  text = text.substr(0, 9999);
  append_digits(items_, 4, index);
  append_digits(items_, 4, text.size());
  items_.append(text);
  return *this;
}

std::string ErrorItems::reply_data(char status, size_t max_data) const {
  std::string out(1, status);
  // Room for the end mark; items are copied whole while they fit, and the
  // first that does not is shortened to what is left.
  size_t room = max_data > 5 ? max_data - 5 : 0;
  size_t at = 0;
  while (at + 8 <= items_.size()) {
    unsigned length = quarl::get_digits(items_.data() + at + 4, 4);
    size_t whole = 8 + length;
    if (whole <= room) {
      out.append(items_, at, whole);
      room -= whole;
      at += whole;
      continue;
    }
    if (room > 8) {
      size_t cut = room - 8;
      out.append(items_, at, 4);
      append_digits(out, 4, cut);
      out.append(items_, at + 8, cut);
    }
    break;
  }
  out += "0000";
  return out;
}

std::string error_reply_data(unsigned index, std::string_view text, size_t max_data) {
  return ErrorItems().add(index, text).reply_data(kStatusError, max_data);
}

}  // namespace hostserver
