// A value's bytes in a buffer of malloc's, so that SQLite can take them
// over when they are bound (and free them itself) without a copy.
#pragma once

#include <cstddef>
#include <string_view>

namespace hostserver {

class OwnedBytes {
 public:
  OwnedBytes() = default;
  OwnedBytes(OwnedBytes&& other) noexcept { swap(other); }
  OwnedBytes& operator=(OwnedBytes&& other) noexcept {
    OwnedBytes gone;
    gone.swap(*this);
    swap(other);
    return *this;
  }
  ~OwnedBytes();
  OwnedBytes(const OwnedBytes&) = delete;
  OwnedBytes& operator=(const OwnedBytes&) = delete;

  // False when memory runs out (nothing is appended).
  bool append(std::string_view bytes);
  size_t size() const { return size_; }
  const char* data() const { return data_; }
  // Gives up the buffer (to be freed with std::free).
  char* release();

 private:
  void swap(OwnedBytes& other) noexcept;
  char* data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
};

}  // namespace hostserver
