// Checked reading of fixed-width decimal fields from host data: a field that
// runs past the data or holds a non-digit is refused, never overrun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarl::codec {

class WireReader {
 public:
  explicit WireReader(std::string_view data) : data_(data) {}

  bool empty() const { return at_ == data_.size(); }
  size_t offset() const { return at_; }
  size_t left() const { return data_.size() - at_; }

  // width digits, unsigned.
  bool digits(int width, uint64_t& out) {
    if (left() < static_cast<size_t>(width)) return false;
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) {
      unsigned d = static_cast<unsigned char>(data_[at_ + static_cast<size_t>(i)]) - '0';
      if (d > 9) return false;
      v = v * 10 + d;
    }
    at_ += static_cast<size_t>(width);
    out = v;
    return true;
  }
  // An optional '-', then width digits.
  bool signed_digits(int width, int64_t& out) {
    bool negative = at_ < data_.size() && data_[at_] == '-';
    if (negative) ++at_;
    uint64_t v = 0;
    if (!digits(width, v)) {
      if (negative) --at_;
      return false;
    }
    out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
  }
  bool bytes(size_t n, std::string_view& out) {
    if (left() < n) return false;
    out = data_.substr(at_, n);
    at_ += n;
    return true;
  }

 private:
  std::string_view data_;
  size_t at_ = 0;
};

}  // namespace quarl::codec
