// Parameter values with long values agreed (common/long_values.h): the
// binary SQL types and character values longer than three length digits.
#include <cstring>
#include <string>

#include "common/digits.h"
#include "common/long_values.h"
#include "driver/codec/param_entry.h"

namespace quarl::codec {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The most an entry's head takes: number, '-' and type, precision, scale, null flag.
constexpr size_t kEntryHeadMax = 4 + 3 + 4 + 2 + 1;

void put_length(std::string& wire, char form, uint64_t n) {
  char digits[longvalues::kLengthDigits];
  put_digits(digits, longvalues::kLengthDigits, n);
  wire += form;
  wire.append(digits, sizeof digits);
}

}  // namespace

std::optional<Diag> long_value_wire(int number, std::string_view bytes, std::string* owned,
                                    const LongValueForms& forms, std::string& wire, std::vector<ApartValue>* apart) {
  size_t n = bytes.size();
  if (n > forms.value_limit)
    return Diag{kErrRightTruncation, "Parameter " + std::to_string(number) + ": a value of " + std::to_string(n) +
                                         " bytes is longer than the " + std::to_string(forms.value_limit) +
                                         " bytes the host stores"};
  if (n <= longvalues::kMaxShort) {
    char digits[3];
    put_digits(digits, 3, n);
    wire.append(digits, 3);
    wire += bytes;
    return std::nullopt;
  }
  if (apart == nullptr || kEntryHeadMax + 1 + longvalues::kLengthDigits + n <= forms.inline_room) {
    put_length(wire, longvalues::kInline, n);
    wire += bytes;
    return std::nullopt;
  }
  put_length(wire, longvalues::kApart, n);
  ApartValue v;
  v.number = number;
  if (owned != nullptr) {
    v.owned = std::move(*owned);
    v.owns = true;
  } else {
    v.bytes = bytes;
  }
  apart->push_back(std::move(v));
  return std::nullopt;
}

std::optional<Diag> binary_parameter_bytes(int number, const ParamRecord& p, int c_type, std::string_view text,
                                           std::string& storage, std::string_view& bytes) {
  switch (c_type) {
    case SQL_C_BINARY:
      bytes = text;
      return std::nullopt;
    case SQL_C_CHAR:
    case SQL_C_WCHAR: {
      // Two hexadecimal digits a byte.
      if (text.size() % 2 != 0)
        return Diag{kErrInvalidCharacter, "Parameter " + std::to_string(number) +
                                              ": binary data as text need two hexadecimal digits a byte (" +
                                              std::to_string(text.size()) + " digits given)"};
      storage.clear();
      storage.reserve(text.size() / 2);
      for (size_t i = 0; i < text.size(); i += 2) {
        int high = hex_value(text[i]), low = hex_value(text[i + 1]);
        if (high < 0 || low < 0)
          return Diag{kErrInvalidCharacter, "Parameter " + std::to_string(number) + ": '" +
                                                std::string(text.substr(i, 2)) + "' at character " +
                                                std::to_string(i + 1) + " is no hexadecimal digit pair"};
        storage += static_cast<char>(high * 16 + low);
      }
      bytes = storage;
      return std::nullopt;
    }
    default: {
      // A fixed-size value as its own bytes.
      size_t size = c_type_size(c_type);
      if (size == 0)
        return Diag{kErrRestrictedType, "Unsupported setparam conversion fCType=" + std::to_string(p.c_type) +
                                            ", fSqlType=" + std::to_string(p.sql_type)};
      bytes = std::string_view(static_cast<const char*>(p.value), size);
      return std::nullopt;
    }
  }
}

}  // namespace quarl::codec

#include "common/utf8.h"

namespace quarl::codec {

std::optional<PutDataConverter::Form> PutDataConverter::form_for(int c_type, int sql_type) {
  bool binary = is_binary_sql_type(sql_type);
  bool character = is_character_sql_type(sql_type) || sql_type == SQL_WCHAR || sql_type == SQL_WVARCHAR ||
                   sql_type == SQL_WLONGVARCHAR;
  if (!binary && !character) return std::nullopt;
  switch (c_type) {
    case SQL_C_BINARY: return Form::Raw;
    case SQL_C_CHAR: return binary ? Form::HexToBytes : Form::Raw;
    case SQL_C_WCHAR: return binary ? Form::WideHexToBytes : Form::WideToUtf8;
    default: return std::nullopt;
  }
}

std::optional<Diag> PutDataConverter::feed(int number, const char* bytes, size_t n, std::string& out) {
  if (form_ == Form::Raw) {
    out.append(bytes, n);
    return std::nullopt;
  }
  // What was held back, then the piece; whole units are taken.
  std::string joined;
  std::string_view in(bytes, n);
  if (!carry_.empty()) {
    joined = carry_ + std::string(in);
    in = joined;
  }
  size_t unit = form_ == Form::HexToBytes ? 1 : 2;
  auto char_at = [&](size_t i) -> uint16_t {
    if (unit == 1) return static_cast<unsigned char>(in[i]);
    uint16_t u;
    std::memcpy(&u, in.data() + 2 * i, 2);
    return u;
  };
  size_t count = in.size() / unit, i = 0;
  auto bad = [&](const std::string& why) {
    return Diag{kErrInvalidCharacter, "Parameter " + std::to_string(number) + ": " + why + " at character " +
                                          std::to_string((fed_ - carry_.size()) / unit + i + 1)};
  };
  if (form_ == Form::WideToUtf8) {
    for (; i < count; ++i) {
      uint16_t u = char_at(i);
      if (u < 0xD800 || u > 0xDFFF) {
        append_utf8(out, u);
      } else if (u <= 0xDBFF) {
        if (i + 1 == count) break;  // its pair may come with the next piece
        uint16_t low = char_at(i + 1);
        if (low < 0xDC00 || low > 0xDFFF) return bad("unpaired surrogate");
        append_utf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00));
        ++i;
      } else {
        return bad("unpaired surrogate");
      }
    }
  } else {
    for (; i + 1 < count; i += 2) {
      int high = hex_value(static_cast<char>(char_at(i) < 128 ? char_at(i) : 0));
      int low = hex_value(static_cast<char>(char_at(i + 1) < 128 ? char_at(i + 1) : 0));
      if (high < 0 || low < 0) return bad("no hexadecimal digit pair");
      out += static_cast<char>(high * 16 + low);
    }
  }
  fed_ += n;
  carry_.assign(in.substr(i * unit));
  return std::nullopt;
}

std::optional<Diag> PutDataConverter::finish(int number) const {
  if (carry_.empty()) return std::nullopt;
  const char* what = form_ == Form::WideToUtf8 ? "the wide text ends inside a character"
                     : form_ == Form::HexToBytes ? "binary data as text need two hexadecimal digits a byte"
                                                 : "binary data as wide text need two hexadecimal digits a byte";
  return Diag{kErrInvalidCharacter, "Parameter " + std::to_string(number) + ": " + what};
}

}  // namespace quarl::codec
