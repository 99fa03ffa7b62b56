// Diagnostics of the codec as values: the entry points post them on the
// statement (error index of the SQLSTATE table, common/sqlstate.h, plus an
// optional text).
#pragma once

#include <string>

#include "common/sqlstate.h"

namespace quarl::codec {

struct Diag {
  int index = 0;
  std::string text;  // empty: the table's own message
};

inline constexpr const char* kTruncatedText = "String data, right truncated";

}  // namespace quarl::codec
