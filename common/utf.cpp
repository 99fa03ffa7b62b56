#include "common/utf.h"

#include <cstring>

namespace quarl {

namespace {

uint16_t unit_at(const void* src, size_t i) {
  uint16_t u;
  std::memcpy(&u, static_cast<const char*>(src) + 2 * i, 2);
  return u;
}

void put_unit(void* dest, size_t i, uint16_t u) { std::memcpy(static_cast<char*>(dest) + 2 * i, &u, 2); }

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

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

char32_t decode_utf8(const unsigned char* p, size_t n, size_t& used) {
  used = 1;
  unsigned char b = p[0];
  if (b < 0x80) return b;
  size_t len;
  char32_t c, min;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, c = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, c = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, c = b & 0x07, min = 0x10000;
  } else {
    return 0xFFFD;
  }
  if (n < len) return 0xFFFD;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (p[i] & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  used = len;
  return c;
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
