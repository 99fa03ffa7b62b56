// The data source's stored keys, read from "odbc.ini" through unixODBC's
// installer library (the only way this code reads it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quarl::hostlink {

// The value of key in the data source's section (default_value when the
// key is missing or the name is empty), at most max_length characters.
std::string read_dsn_key(std::string_view dsn, const char* key, const char* default_value = "",
                         size_t max_length = 255);

}  // namespace quarl::hostlink
