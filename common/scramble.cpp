#include "common/scramble.h"

#include <cstdint>

namespace quarl {

void scramble_in_place(char* text) {
  uint8_t position = 1;
  for (char* p = text; *p != '\0'; ++p, ++position) *p = static_cast<char>(*p ^ position);
}

std::string scramble(std::string_view text) {
  std::string out;
  uint8_t position = 1;
  for (char c : text) {
    if (c == '\0') break;
    char s = static_cast<char>(c ^ position++);
    if (s == '\0') break;
    out += s;
  }
  return out;
}

}  // namespace quarl
