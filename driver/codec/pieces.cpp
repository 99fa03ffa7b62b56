#include "driver/codec/pieces.h"

#include <cstring>

#include "common/utf.h"

namespace quarl::codec {

namespace {

bool is_wide(PieceForm f) { return f == PieceForm::Wide || f == PieceForm::WideHex; }

}  // namespace

PieceForm piece_form(int sql_type, int c_type) {
  bool binary = is_binary_sql_type(sql_type);
  switch (c_type) {
    case SQL_C_BINARY: return PieceForm::Bytes;
    case SQL_C_WCHAR: return binary ? PieceForm::WideHex : PieceForm::Wide;
    default: return binary ? PieceForm::Hex : PieceForm::Text;
  }
}

uint64_t remaining_length(PieceForm form, uint64_t bytes, uint64_t units, bool half) {
  uint64_t digits = 2 * bytes - (half ? 1 : 0);
  switch (form) {
    case PieceForm::Bytes:
    case PieceForm::Text: return bytes;
    case PieceForm::Hex: return digits;
    case PieceForm::Wide: return 2 * units;
    case PieceForm::WideHex: return 2 * digits;
  }
  return bytes;
}

PieceWriter::PieceWriter(PieceForm form, SQLPOINTER target, SQLLEN size, bool half)
    : form_(form), out_(static_cast<unsigned char*>(target)), half_(half) {
  if (out_ == nullptr || size < 0) return;
  size_t n = static_cast<size_t>(size);
  if (form == PieceForm::Bytes) {
    room_ = n;
  } else if (is_wide(form)) {
    if (n < 2) return;
    room_ = n / 2 - 1;
  } else {
    if (n < 1) return;
    room_ = n - 1;
  }
  writable_ = true;
}

void PieceWriter::put_digit(unsigned nibble) {
  static const char kDigits[] = "0123456789ABCDEF";
  char c = kDigits[nibble & 15];
  if (form_ == PieceForm::WideHex) {
    uint16_t u = static_cast<unsigned char>(c);
    std::memcpy(out_ + 2 * used_, &u, 2);
  } else {
    out_[used_] = static_cast<unsigned char>(c);
  }
  ++used_;
}

size_t PieceWriter::write(const char* bytes, size_t n, bool more) {
  if (!writable_) return 0;
  switch (form_) {
    case PieceForm::Bytes:
    case PieceForm::Text: {
      size_t k = n < room_ - used_ ? n : room_ - used_;
      if (k > 0) std::memcpy(out_ + used_, bytes, k);
      used_ += k;
      return k;
    }
    case PieceForm::Hex:
    case PieceForm::WideHex: {
      size_t taken = 0;
      while (taken < n && used_ < room_) {
        auto b = static_cast<unsigned char>(bytes[taken]);
        if (!half_) {
          put_digit(b >> 4);
          if (used_ == room_) {
            half_ = true;  // the second digit goes with the next piece
            break;
          }
        }
        put_digit(b);
        half_ = false;
        ++taken;
      }
      return taken;
    }
    case PieceForm::Wide: {
      size_t whole = more ? n - incomplete_utf8_tail(bytes, n) : n;
      size_t taken = 0;
      uint16_t pair[2];
      if (half_) {
        // The low surrogate of the character whose high one ended the last piece.
        if (used_ == room_) return 0;
        WideCopy first = utf8_to_utf16(bytes, whole, pair, 2);
        if (first.units == 0) return 0;  // its bytes are still to come
        if (first.units == 2 && pair[0] >= 0xD800 && pair[0] <= 0xDBFF) {
          std::memcpy(out_ + 2 * used_, &pair[1], 2);
          ++used_;
          ++units_;
          taken = first.src_used;
        }
        half_ = false;
      }
      WideCopy w = utf8_to_utf16(bytes + taken, whole - taken, out_ + 2 * used_, room_ - used_);
      used_ += w.units;
      units_ += w.units;
      taken += w.src_used;
      if (used_ + 1 == room_ && taken < whole) {
        // One unit of room and a character of two: its high surrogate fills
        // the buffer, as applications that join the pieces' bytes expect.
        WideCopy next = utf8_to_utf16(bytes + taken, whole - taken, pair, 2);
        if (next.units == 2 && pair[0] >= 0xD800 && pair[0] <= 0xDBFF) {
          std::memcpy(out_ + 2 * used_, &pair[0], 2);
          ++used_;
          ++units_;
          half_ = true;
        }
      }
      return taken;
    }
  }
  return 0;
}

void PieceWriter::finish() {
  if (!writable_ || form_ == PieceForm::Bytes) return;
  if (is_wide(form_)) {
    std::memset(out_ + 2 * used_, 0, 2);
  } else {
    out_[used_] = 0;
  }
}

size_t incomplete_utf8_tail(const char* bytes, size_t n) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  // The last lead byte among the last three, and the length it announces.
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    unsigned char b = s[n - back];
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

ConvertResult value_piece(ColumnDescriptor& c, const unsigned char* row_buffer, int c_type, SQLPOINTER target,
                          SQLLEN size, SQLLEN* length) {
  PieceForm form = piece_form(c.sql_type, c_type);
  if (!c.piece_returned) {
    c.hex_half = false;
    c.units_returned = 0;
  }
  uint64_t total = static_cast<uint64_t>(c.value_length);
  uint64_t done = c.returned_count < total ? c.returned_count : total;
  uint64_t remaining = total - done;
  if (remaining == 0 && c.piece_returned) return {SQL_NO_DATA_FOUND, std::nullopt};
  c.piece_returned = true;
  const char* src = value_bytes(c, row_buffer) + done;
  uint64_t units = form == PieceForm::Wide ? utf16_units_of(src, remaining) - (c.hex_half ? 1 : 0) : 0;
  if (length != nullptr) *length = static_cast<SQLLEN>(remaining_length(form, remaining, units, c.hex_half));
  ConvertResult cut{SQL_SUCCESS_WITH_INFO, Diag{kErrTruncated, kTruncatedText}};
  PieceWriter w(form, target, size, c.hex_half);
  if (!w.writable()) return remaining > 0 ? cut : ConvertResult{SQL_SUCCESS, std::nullopt};
  size_t used = w.write(src, remaining, false);
  w.finish();
  c.returned_count = done + used;
  c.hex_half = w.half();
  c.units_returned += w.units_written();
  return c.returned_count < total ? cut : ConvertResult{SQL_SUCCESS, std::nullopt};
}

}  // namespace quarl::codec

#include "common/long_values.h"
#include "driver/codec/wire_read.h"

namespace quarl::codec {

size_t read_long_form(const char* p, size_t left, ColumnDescriptor& c) {
  WireReader in(std::string_view(p, left));
  std::string_view form;
  uint64_t n = 0;
  if (!in.bytes(1, form) || !in.digits(longvalues::kLengthDigits, n)) return 0;
  c.returned_count = 0;
  c.piece_returned = false;
  c.value_length = static_cast<int64_t>(n);
  if (form[0] == longvalues::kInline) {
    std::string_view bytes;
    if (!in.bytes(n, bytes)) return 0;
    c.value_place = kInRowArea;
    c.area_bytes = bytes.data();
  } else {
    uint64_t units = 0;
    if (form[0] != longvalues::kApart || !in.digits(longvalues::kLengthDigits, units)) return 0;
    c.value_place = kOnHost;
    c.host_units = units;
  }
  return in.offset();
}

}  // namespace quarl::codec
