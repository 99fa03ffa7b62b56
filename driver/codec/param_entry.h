// Parameter entries in their wire form: number (4 digits), SQL type ('-' and
// two digits when negative, else two digits), precision (4), scale (2), null
// flag (1), then the value in the form of its SQL type.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "driver/codec/diag.h"
#include "driver/codec/records.h"

namespace quarl::codec {

// A character value travels with a three-digit length.
inline constexpr size_t kMaxCharParam = 999;

// Appends the entry of parameter `number` to out.  A diag (index 3, with a
// text naming the parameter and the problem) when the value has no wire form;
// out is then unchanged.  Reads the application's buffers.
std::optional<Diag> encode_parameter(int number, const ParamRecord& param, std::string& out);

}  // namespace quarl::codec
