#include "common/trancode.h"

#include <algorithm>
#include <cstring>

#include "common/digits.h"
#include "common/text.h"

namespace quarl::trancode {
namespace {

void put_field(char* dest, size_t width, std::string_view value) {
  size_t n = std::min(width, value.size());
  std::memcpy(dest, value.data(), n);
  std::memset(dest + n, ' ', width - n);
}

}  // namespace

size_t encode_request(char* dest, std::string_view code, std::string_view library, std::string_view entry_point,
                      std::string_view text) {
  size_t t = std::min(text.size(), kMaxText);
  put_digits(dest, int(kLengthWidth), kHeaderSize + t);
  put_field(dest + kLengthWidth, kCodeWidth, code);
  put_field(dest + kLengthWidth + kCodeWidth, kNameWidth, library);
  put_field(dest + kLengthWidth + kCodeWidth + kNameWidth, kNameWidth, entry_point);
  if (t > 0) std::memcpy(dest + kHeaderSize, text.data(), t);
  return kHeaderSize + t;
}

std::string encode_request(std::string_view code, std::string_view library, std::string_view entry_point,
                           std::string_view text) {
  std::string out(kHeaderSize + std::min(text.size(), kMaxText), ' ');
  encode_request(out.data(), code, library, entry_point, text);
  return out;
}

uint32_t read_length(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  uint32_t value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) value = value * 10 + uint32_t(field[i] - '0');
  return value;
}

std::optional<uint32_t> read_length_strict(std::string_view field) {
  if (field.size() != kLengthWidth) return std::nullopt;
  for (char c : field)
    if (c < '0' || c > '9') return std::nullopt;
  return read_length(field);
}

RequestNames decode_request_names(std::string_view header) {
  auto field = [&](size_t offset, size_t width) {
    return std::string(trim_trailing_blanks(header.substr(std::min(offset, header.size()), width)));
  };
  return {field(0, kCodeWidth), field(kCodeWidth, kNameWidth), field(kCodeWidth + kNameWidth, kNameWidth)};
}

std::string encode_reply(std::string_view header, std::string_view data) {
  std::string out(kHeaderSize, ' ');
  put_digits(out.data(), int(kLengthWidth), kHeaderSize + data.size());
  put_field(out.data() + kLengthWidth, kReplyHeaderSize, header);
  out.append(data);
  return out;
}

}  // namespace quarl::trancode
