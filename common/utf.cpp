#include "common/utf.h"

#include <cstring>

#include "common/utf8.h"

namespace quarl {

namespace {

uint16_t unit_at(const void* src, size_t i) {
  uint16_t u;
  std::memcpy(&u, static_cast<const char*>(src) + 2 * i, 2);
  return u;
}

void put_unit(void* dest, size_t i, uint16_t u) { std::memcpy(static_cast<char*>(dest) + 2 * i, &u, 2); }

}  // namespace

bool utf16_to_utf8(const void* src, size_t units, std::string& out, size_t& bad_unit) {
  out.reserve(out.size() + units);
  for (size_t i = 0; i < units; ++i) {
    uint16_t u = unit_at(src, i);
    if (u < 0xD800 || u > 0xDFFF) {
      append_utf8(out, u);
      continue;
    }
    if (u <= 0xDBFF && i + 1 < units) {
      uint16_t low = unit_at(src, i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    bad_unit = i;
    return false;
  }
  return true;
}

void utf16_to_utf8_replacing(const void* src, size_t units, std::string& out) {
  const char* p = static_cast<const char*>(src);
  while (units > 0) {
    size_t bad = 0;
    if (utf16_to_utf8(p, units, out, bad)) return;
    append_utf8(out, 0xFFFD);  // in place of the unpaired surrogate
    p += 2 * (bad + 1);
    units -= bad + 1;
  }
}

size_t utf16_length(const void* src) {
  size_t n = 0;
  while (unit_at(src, n) != 0) ++n;
  return n;
}

size_t utf8_cut(const char* p, size_t n, size_t max_bytes) {
  if (n <= max_bytes) return n;
  size_t cut = max_bytes;
  // Back over continuation bytes to the start of the character that would be split.
  while (cut > 0 && (static_cast<unsigned char>(p[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

size_t utf16_units_of(const char* p, size_t n) {
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  size_t units = 0;
  for (size_t at = 0; at < n;) {
    if (s[at] < 0x80) {
      ++at;
      ++units;
      continue;
    }
    size_t used;
    char32_t c = decode_utf8(s + at, n - at, used);
    at += used;
    units += c >= 0x10000 ? 2 : 1;
  }
  return units;
}

WideCopy utf8_to_utf16(const char* src, size_t n, void* dest, size_t max_units) {
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  size_t at = 0, units = 0;
  while (at < n) {
    size_t used = 1;
    char32_t c = s[at] < 0x80 ? s[at] : decode_utf8(s + at, n - at, used);
    if (c >= 0x10000) {
      if (units + 2 > max_units) break;
      c -= 0x10000;
      put_unit(dest, units++, static_cast<uint16_t>(0xD800 + (c >> 10)));
      put_unit(dest, units++, static_cast<uint16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      if (units + 1 > max_units) break;
      put_unit(dest, units++, static_cast<uint16_t>(c));
    }
    at += used;
  }
  return {at, units};
}

}  // namespace quarl
