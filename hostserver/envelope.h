// The Host Server's side of the HostMessage envelope: reading requests out
// of frames and building replies.  Pure functions over bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/hostmsg.h"
#include "common/sqlstate.h"

namespace hostserver {

// One request as it arrived.
struct Request {
  char sequence = '0';
  unsigned sub_id = 0;
  unsigned type = 0;
  unsigned code = 0;
  std::string data;
};

// What a frame turned out to be.
enum class FrameKind {
  Request,    // a well-formed HostMessage
  Foreign,    // no "#@!": not meant for the Host Server (login script text)
  Malformed,  // "#@!" but the header cannot be read; nobody to answer
  BadLength,  // header readable, data length field wrong: answer with an error
};

struct ParsedFrame {
  FrameKind kind;
  Request request;  // for Request and BadLength (data empty for BadLength)
  std::string problem;
};

// Leading control bytes are skipped as the clients skip them.
ParsedFrame parse_frame(std::string_view frame);

// Status digits of replies.
inline constexpr char kStatusOk = '0';
inline constexpr char kStatusInfo = '1';
inline constexpr char kStatusNoData = '5';
inline constexpr char kStatusError = '9';

// Error items name rows of the SQLSTATE table by the shared indexes.
using enum quarl::ErrorIndex;

// Error items: four-digit index, four-digit length, text; "0000" ends them.
class ErrorItems {
 public:
  ErrorItems& add(unsigned index, std::string_view text);
  // Status digit, the items and the end mark, cut to fit max_data bytes
  // (items that do not fit whole are shortened or left out).
  std::string reply_data(char status, size_t max_data) const;
  bool empty() const { return items_.empty(); }

 private:
  std::string items_;
};

std::string error_reply_data(unsigned index, std::string_view text, size_t max_data);

// Fixed-width decimal helpers for reply data.
void append_digits(std::string& out, int width, uint64_t value);
// '-' when negative, then width digits.
void append_signed(std::string& out, int width, int64_t value);
// A 0 to 999 (or 99) length and the text, for name fields in replies.
bool parse_digits(std::string_view field, unsigned& value);

}  // namespace hostserver
