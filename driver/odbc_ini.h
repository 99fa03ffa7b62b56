// The data source's stored keys, read from "odbc.ini" through unixODBC's
// installer library.
#pragma once

#include <string>
#include <string_view>

namespace quarl::driver {

// The value of key in the data source's section (default when missing),
// at most max_length characters.
std::string read_dsn_key(std::string_view dsn, const char* key, const char* default_value,
                         size_t max_length = 255);

}  // namespace quarl::driver
