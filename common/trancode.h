// The transaction-code protocol over TCP, both sides: a request is a 6-digit
// total length, a 6-character transaction code, a 50-character library name
// and a 50-character entry point name (left-aligned, blank padded), then the
// data; a reply is a 6-digit total length, 106 header bytes that the client
// does not interpret, then the data.  Reply data beginning with "*****" is a
// failure whose message follows the marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarl::trancode {

inline constexpr size_t kLengthWidth = 6;
inline constexpr size_t kCodeWidth = 6;
inline constexpr size_t kNameWidth = 50;
inline constexpr size_t kHeaderSize = kLengthWidth + kCodeWidth + 2 * kNameWidth;  // 112
inline constexpr size_t kReplyHeaderSize = kHeaderSize - kLengthWidth;              // 106 after the length
inline constexpr size_t kMaxText = 9999;
// The client's transfer buffer: the greatest request, and the most reply
// data it can take.
inline constexpr size_t kTransferSize = kHeaderSize + kMaxText;  // 10111
inline constexpr std::string_view kFailureMarker = "*****";

// Writes the request into dest, which holds at least kHeaderSize +
// min(text size, kMaxText) bytes; text beyond kMaxText bytes is not sent.
// Returns the request's size.  Names are cut to their fields, not changed.
size_t encode_request(char* dest, std::string_view code, std::string_view library, std::string_view entry_point,
                      std::string_view text);
std::string encode_request(std::string_view code, std::string_view library, std::string_view entry_point,
                           std::string_view text);

// The length field as the client reads it: leading blanks, then digits up to
// the first other character; 0 when there are none.
uint32_t read_length(std::string_view field);
// The length field as the server reads it: exactly six digits.
std::optional<uint32_t> read_length_strict(std::string_view field);

// The names of a request, from the 106 bytes after its length, trailing
// blanks removed.
struct RequestNames {
  std::string code, library, entry_point;
};
RequestNames decode_request_names(std::string_view header);

// A reply carrying data after the given header (cut or blank padded to 106
// bytes).  The data must leave the total under 1000000 bytes.
std::string encode_reply(std::string_view header, std::string_view data);

}  // namespace quarl::trancode
