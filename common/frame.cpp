#include "common/frame.h"

#include <cstring>

namespace quarl::frame {

void put_length(unsigned char* out, uint32_t length) {
  out[0] = static_cast<unsigned char>(length >> 24);
  out[1] = static_cast<unsigned char>(length >> 16);
  out[2] = static_cast<unsigned char>(length >> 8);
  out[3] = static_cast<unsigned char>(length);
}

uint32_t get_length(const unsigned char* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | uint32_t{in[3]};
}

void Decoder::compact() {
  if (begin_ == 0) return;
  if (begin_ != end_) std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
}

char* Decoder::write_area(size_t n) {
  if (buffer_.size() - end_ < n) {
    compact();
    if (buffer_.size() - end_ < n) buffer_.resize(end_ + n);
  }
  return buffer_.data() + end_;
}

void Decoder::commit(size_t n) { end_ += n; }

void Decoder::append(const char* bytes, size_t n) {
  std::memcpy(write_area(n), bytes, n);
  commit(n);
}

Decoder::State Decoder::state() const {
  size_t have = end_ - begin_;
  if (have < kPrefixSize) return State::NeedMore;
  uint32_t length = get_length(reinterpret_cast<const unsigned char*>(buffer_.data() + begin_));
  if (length > max_frame_) return State::Broken;
  return have - kPrefixSize >= length ? State::Ready : State::NeedMore;
}

std::string_view Decoder::front() const {
  uint32_t length = get_length(reinterpret_cast<const unsigned char*>(buffer_.data() + begin_));
  return {buffer_.data() + begin_ + kPrefixSize, length};
}

void Decoder::pop() {
  if (state() != State::Ready) return;
  begin_ += kPrefixSize + front().size();
  if (begin_ == end_) begin_ = end_ = 0;
}

void Decoder::clear() { begin_ = end_ = 0; }

}  // namespace quarl::frame
