// The session's error text: the message of the last failed operation, kept
// until the next failure (a success leaves it alone) and returned by GetError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarl::rpc {

// What every operation returns: 0 success, anything else failure.
using Status = int32_t;
inline constexpr Status kOk = 0;
inline constexpr Status kFailed = 1;

class ErrorText {
 public:
  // Records the message and returns kFailed, so a failing path reads
  // `return error.fail(...)`.  Never throws: when the text cannot be stored
  // a short fixed message (which needs no allocation) takes its place.
  Status fail(std::string_view message) noexcept;

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace quarl::rpc
