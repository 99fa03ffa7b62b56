// Parameter entries in their wire form: number (4 digits), SQL type ('-' and
// two digits when negative, else two digits), precision (4), scale (2), null
// flag (1), then the value in the form of its SQL type.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/codec/diag.h"
#include "driver/codec/records.h"

namespace quarl::codec {

// A character value travels with a three-digit length.
inline constexpr size_t kMaxCharParam = 999;

// The forms a connection that agreed to long values may use
// (common/long_values.h).
struct LongValueForms {
  uint64_t value_limit = 0;  // the longest value the host stores
  size_t inline_room = 0;    // the most bytes an entry may take (it must fit one message)
};

// A value that travels apart from its entry, in parameter pieces sent
// before the request: the application's bytes, or a converted copy.
struct ApartValue {
  int number = 0;
  std::string_view bytes;  // when !owns
  std::string owned;
  bool owns = false;
  std::string_view view() const { return owns ? std::string_view(owned) : bytes; }
};

// Appends the entry of parameter `number` to out.  A diag (index 3, with a
// text naming the parameter and the problem) when the value has no wire form;
// out is then unchanged.  Reads the application's buffers.  With long (the
// connection agreed to long values) character values may be longer than
// 999 bytes and the binary SQL types are taken; a value too long for an
// entry goes to apart (or, without apart, does not fit).
std::optional<Diag> encode_parameter(int number, const ParamRecord& param, std::string& out,
                                     const LongValueForms* long_forms = nullptr,
                                     std::vector<ApartValue>* apart = nullptr);

// The wire form of a character or binary value with long values: the
// classic three digits up to 999 bytes, inline ("X") when the entry fits
// inline_room, else apart ("L", the bytes into apart; owned takes over a
// converted value).  A value longer than the host stores is refused (22001).
std::optional<Diag> long_value_wire(int number, std::string_view bytes, std::string* owned,
                                    const LongValueForms& forms, std::string& wire, std::vector<ApartValue>* apart);

// A parameter bound to a binary SQL type, with long values: its bytes
// (SQL_C_BINARY as they are, SQL_C_CHAR and SQL_C_WCHAR as hexadecimal
// digits, two a byte, the fixed-size C types as their own bytes).
std::optional<Diag> binary_parameter_bytes(int number, const ParamRecord& param, int c_type, std::string_view text,
                                           std::string& storage, std::string_view& bytes);

// The bytes of a value given in pieces (SQLPutData) as they travel with long
// values: text and binary data as they are, wide text as UTF-8, hexadecimal
// digits (text into a binary SQL type) as bytes.  A UTF-16 unit, a pair of
// them or a pair of digits may be split between pieces.
class PutDataConverter {
 public:
  enum class Form : uint8_t { Raw, WideToUtf8, HexToBytes, WideHexToBytes };
  // The form for a C type and SQL type; nullopt for the pairs whose value
  // comes whole (numbers, dates: collected, then encoded as one).
  static std::optional<Form> form_for(int c_type, int sql_type);

  explicit PutDataConverter(Form form = Form::Raw) : form_(form) {}
  // Appends the converted bytes of a piece to out; a diag for data that
  // have no such form (an unpaired surrogate, a character that is no digit).
  std::optional<Diag> feed(int number, const char* bytes, size_t n, std::string& out);
  // A diag when the pieces ended inside a unit, a pair or a byte.
  std::optional<Diag> finish(int number) const;

 private:
  Form form_;
  std::string carry_;   // bytes of a unit, pair or byte not yet whole
  uint64_t fed_ = 0;    // bytes fed before carry_
};

}  // namespace quarl::codec
