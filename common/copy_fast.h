// Short copies for the row hot paths: the values of a row (CHAR(1), number
// texts, VARCHARs of a few dozen bytes) cost less copied inline than through
// a call to memcpy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quarl {

// Copies exactly n bytes (overlapping loads and stores, never past n).
[[gnu::always_inline]] inline void copy_bytes(void* dest_, const void* src_, size_t n) {
  auto* dest = static_cast<unsigned char*>(dest_);
  const auto* src = static_cast<const unsigned char*>(src_);
  if (n > 64) {
    std::memcpy(dest, src, n);
  } else if (n >= 16) {
    unsigned char a[16], b[16];
    for (size_t at = 0; at + 16 < n; at += 16) {
      std::memcpy(a, src + at, 16);
      std::memcpy(dest + at, a, 16);
    }
    std::memcpy(b, src + n - 16, 16);
    std::memcpy(dest + n - 16, b, 16);
  } else if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + n - 8, 8);
    std::memcpy(dest, &a, 8);
    std::memcpy(dest + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, src, 4);
    std::memcpy(&b, src + n - 4, 4);
    std::memcpy(dest, &a, 4);
    std::memcpy(dest + n - 4, &b, 4);
  } else if (n > 0) {
    // 1 to 3 bytes: the first, the middle and the last cover them.
    unsigned char first = src[0], middle = src[n / 2], last = src[n - 1];
    dest[0] = first;
    dest[n / 2] = middle;
    dest[n - 1] = last;
  }
}

}  // namespace quarl
