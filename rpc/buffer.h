// The caller's text area of a buffer export: input text in, output text out,
// blank padded and never terminated.  Every write into it goes through here.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/text.h"

namespace quarl::rpc {

class Buffer {
 public:
  Buffer(char* data, size_t size) : data_(data), size_(data ? size : 0) {}

  size_t size() const { return size_; }
  char* data() const { return data_; }
  // All bytes the library may read and write.
  std::string_view bytes() const { return {data_ ? data_ : "", size_}; }
  // The input text: the bytes less their trailing blanks.
  std::string_view text() const { return trim_trailing_blanks(bytes()); }

  // Sets every byte to a blank.
  void blank() const;
  // Blanks the area and copies as much of out to its start as fits.
  void put(std::string_view out) const;
  // The failure marker "*****", cut for areas under five bytes, rest blank.
  void mark_failure() const;

 private:
  char* data_;
  size_t size_;
};

}  // namespace quarl::rpc
