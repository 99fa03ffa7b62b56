#include "common/hostmsg.h"

#include <cstring>

#include "common/digits.h"

namespace quarl::hostmsg {

int host_rc(char status) {
  switch (status) {
    case '0': return kRcSuccess;
    case '1': return kRcSuccessWithInfo;
    case '3': return kRcInvalidHandle;
    case '4': return kRcNeedData;
    case '5': return kRcNoData;
    default: return kRcError;
  }
}

void write_header(char* message, const Header& header) {
  std::memcpy(message, kMagic.data(), kMagic.size());
  message[3] = header.sequence;
  put_digits(message + 4, 2, header.sub_id);
  put_digits(message + 6, 1, header.type);
  put_digits(message + 7, 3, header.code);
  put_digits(message + 10, 4, header.length);
}

Header read_header(const char* message) {
  return Header{message[3], get_digits(message + 4, 2), get_digits(message + 6, 1),
                get_digits(message + 7, 3), get_digits(message + 10, 4)};
}

char next_sequence(char c) { return c == '9' ? '0' : static_cast<char>(c + 1); }

size_t strip_control(const char* bytes, size_t length) {
  size_t at = 0;
  auto skip = [&](size_t n) { at = n > length - at ? length : at + n; };
  while (at < length && static_cast<signed char>(bytes[at]) < 0x20) {
    if (bytes[at] != 0x1B) {
      skip(1);
      continue;
    }
    if (length - at < 2) {
      at = length;
      break;
    }
    char next = bytes[at + 1];
    switch (next) {
      case ' ': case '$': case '-': case '_': skip(3); break;
      case '"': skip(4); break;
      case '^': skip(6); break;
      case 'R': {
        // ESC R A: 7 bytes, then a two-digit hexadecimal count and that many
        // bytes; ESC R other: 3 bytes, then the count and the bytes.
        size_t fixed = (length - at > 2 && bytes[at + 2] == 'A') ? 7 : 3;
        if (length - at < fixed + 2) {
          at = length;
          break;
        }
        size_t count = get_hex_digits(bytes + at + fixed, 2);
        skip(fixed + 2 + count);
        break;
      }
      default: skip(2); break;
    }
  }
  return at;
}

unsigned parse_item_number(std::string_view four) { return get_digits(four.data(), static_cast<int>(four.size())); }

}  // namespace quarl::hostmsg
