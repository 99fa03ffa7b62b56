// Length-prefixed frames as the TCP/IP provider and the Host Server put
// messages on a stream: a 4-byte big-endian length, then that many bytes.
// Pure byte handling, no socket: the provider and the server share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quarl::frame {

inline constexpr size_t kPrefixSize = 4;
inline constexpr uint32_t kMaxFrame = 65535;

// Writes the 4-byte big-endian length.
void put_length(unsigned char* out, uint32_t length);
uint32_t get_length(const unsigned char* in);

// Collects stream bytes and cuts them into frames.  The front frame, once
// complete, stays where it is (and its view valid) until pop(); nothing is
// appended while a caller holds a view.
class Decoder {
 public:
  enum class State { NeedMore, Ready, Broken };

  explicit Decoder(uint32_t max_frame = kMaxFrame) : max_frame_(max_frame) {}

  // Room for at least n more bytes at write_area(); commit(n) takes them in.
  char* write_area(size_t n);
  void commit(size_t n);
  void append(const char* bytes, size_t n);

  // Ready: front() is a whole frame.  Broken: a length above the maximum was
  // announced; the stream cannot be resynchronised.
  State state() const;
  std::string_view front() const;
  void pop();

  size_t buffered() const { return end_ - begin_; }
  void clear();

 private:
  void compact();
  std::vector<char> buffer_;
  size_t begin_ = 0, end_ = 0;
  uint32_t max_frame_;
};

}  // namespace quarl::frame
