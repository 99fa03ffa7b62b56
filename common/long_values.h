// Long and binary values: a protocol option that a Host Server offers and a
// driver asks for.  Without it character values carry at most 999 bytes
// (three length digits) and there are no binary types; with it both sides
// speak the forms below.  The option is agreed at connect:
//
//   version reply  "0" "00" "500" "021" "Quarl Host V5R0M5." "+LONG1"
//                  the host lists what it offers after the version text's
//                  '.', which a client that does not know them never reads;
//   login          "2" (not "1"), the message size (5 digits), the options
//                  asked for with a 2-digit length ("06+LONG1"), then the
//                  login text as always;
//   login reply    "0", the granted message size (5 digits), and each
//                  granted option followed by its value: "+LONG1" and the
//                  largest value the host stores, in bytes (10 digits).
//
// Once agreed: column items carry their precision in 10 digits; SQL types
// BINARY (-2), VARBINARY (-3) and LONGVARBINARY (-4) appear in column items,
// rows and parameter entries; and a character or binary value (VARCHAR,
// LONGVARCHAR and the binary types in rows; CHAR, VARCHAR, LONGVARCHAR and
// the binary types in parameter entries) travels in one of three forms:
//
//   "nnn" + n bytes           n <= 999, the classic form;
//   "X" + n (10 digits) + n bytes
//                             any length, inline: in rows when the row fits
//                             one fetch, in parameter entries when the entry
//                             fits one message;
//   "L" + n (10 digits)       the bytes travel apart.  Parameter entries: they
//                             came before the request in parameter pieces
//                             (type 1 code 22).  Rows: + the UTF-16 units
//                             the bytes make (10 digits; 0 for binary
//                             values); they stay on the host until the next
//                             fetch of the statement and are read with value
//                             piece requests (type 1 code 21).  A row with
//                             such a value is the last of its fetch reply.
//
//   parameter piece      (type 1 code 22, no reply) statement id (4),
//                        parameter number (4), "1" for a value's first
//                        piece else "0", the bytes;
//   value piece request  (type 1 code 21) statement id (4), column number
//                        (4), offset (10), length (10); answered with one
//                        or more messages "0", a last flag ('1' in the final
//                        one) and bytes, min(length, size - offset) bytes in
//                        all, or with an error reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarl::longvalues {

// The option's token in offers, asks and grants.
inline constexpr std::string_view kOption = "+LONG1";
// First byte of a login that asks for options (a plain login begins "1").
inline constexpr char kLoginWithOptions = '2';

// Value forms.
inline constexpr char kInline = 'X';
inline constexpr char kApart = 'L';
inline constexpr int kLengthDigits = 10;
inline constexpr size_t kMaxShort = 999;             // the classic three-digit form
inline constexpr uint64_t kMaxLength = 9999999999;   // ten digits
// Precision digits of a column item.
inline constexpr int kPrecisionDigits = 10;
inline constexpr int kClassicPrecisionDigits = 4;

// SQL types of binary values (ODBC codes).
inline constexpr int kBinary = -2, kVarBinary = -3, kLongVarBinary = -4;
inline bool is_binary_type(int sql_type) { return sql_type <= kBinary && sql_type >= kLongVarBinary; }

// Value piece request: statement id, column number, offset, length.
inline constexpr size_t kPieceRequestSize = 4 + 4 + 10 + 10;
// Parameter piece head: statement id, parameter number, first flag.
inline constexpr size_t kParamPieceHead = 4 + 4 + 1;

// ---- agreement ----

// Whether the version reply's data after its status digit offer the option:
// the tokens after the first '.' (the end of the version text).
bool offered(std::string_view version_after_status);
// The version reply of a host that offers the option (version_text ends in '.').
std::string offer(std::string_view version_text);

// The part of a login that asks for the option: "06+LONG1".
std::string ask();
// A login's data after its first byte and message size: whether it asked
// for the option, and where the login text begins.  nullopt when the
// options field is malformed.
struct Asked {
  bool long_values = false;
  size_t text_at = 0;
};
std::optional<Asked> read_asks(std::string_view after_size);

// The grant after the login reply's message size.
std::string grant(uint64_t value_limit);
// The value limit granted, or nullopt when the reply grants nothing.
std::optional<uint64_t> granted(std::string_view after_size);

}  // namespace quarl::longvalues
