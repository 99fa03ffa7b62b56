#include "common/long_values.h"

#include "common/digits.h"

namespace quarl::longvalues {

namespace {

bool all_digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

// Whether a list of "+NAME" tokens holds the option (a token is ended by
// the next '+' or the end).
bool lists(std::string_view tokens, std::string_view option) {
  size_t at = tokens.find('+');
  while (at != std::string_view::npos) {
    size_t end = tokens.find('+', at + 1);
    std::string_view token = tokens.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    if (token == option) return true;
    at = end;
  }
  return false;
}

}  // namespace

bool offered(std::string_view version_after_status) {
  // Version numbers (8 digits), the text up to its '.', then the offers.
  if (version_after_status.size() < 8) return false;
  size_t dot = version_after_status.find('.', 8);
  if (dot == std::string_view::npos) return false;
  return lists(version_after_status.substr(dot + 1), kOption);
}

std::string offer(std::string_view version_text) { return std::string(version_text) + std::string(kOption); }

std::string ask() {
  char length[2];
  put_digits(length, 2, kOption.size());
  return std::string(length, 2) + std::string(kOption);
}

std::optional<Asked> read_asks(std::string_view after_size) {
  if (after_size.size() < 2 || !all_digits(after_size.substr(0, 2))) return std::nullopt;
  size_t n = get_digits(after_size.data(), 2);
  if (after_size.size() - 2 < n) return std::nullopt;
  Asked a;
  a.long_values = lists(after_size.substr(2, n), kOption);
  a.text_at = 2 + n;
  return a;
}

std::string grant(uint64_t value_limit) {
  char digits[kLengthDigits];
  put_digits(digits, kLengthDigits, value_limit > kMaxLength ? kMaxLength : value_limit);
  return std::string(kOption) + std::string(digits, kLengthDigits);
}

std::optional<uint64_t> granted(std::string_view after_size) {
  size_t at = after_size.find(kOption);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view digits = after_size.substr(at + kOption.size(), kLengthDigits);
  if (digits.size() != kLengthDigits || !all_digits(digits)) return std::nullopt;
  uint64_t v = 0;
  for (char c : digits) v = v * 10 + static_cast<uint64_t>(c - '0');
  return v;
}

}  // namespace quarl::longvalues
