// Diagnostics of the codec as values: the entry points post them on the
// statement (error index of the SQLSTATE table plus an optional text).
#pragma once

#include <string>

namespace quarl::codec {

// Rows of the SQLSTATE table that the codec reports.
enum ErrorIndex : int {
  kGeneralError = 3,        // "S1000"
  kMemoryError = 4,         // "S1001"
  kInvalidArgument = 6,     // "S1009"
  kDataTruncated = 12,      // "01004"
  kLinkFailure = 13,        // "08S01"
  kIndicatorRequired = 23,  // "22002"
};

struct Diag {
  int index = 0;
  std::string text;  // empty: the table's own message
};

inline constexpr const char* kTruncatedText = "String data, right truncated";

}  // namespace quarl::codec
