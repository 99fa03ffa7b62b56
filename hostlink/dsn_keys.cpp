#include "hostlink/dsn_keys.h"

#include <odbcinst.h>

namespace quarl::hostlink {

std::string read_dsn_key(std::string_view dsn, const char* key, const char* default_value, size_t max_length) {
  std::string value = default_value;
  if (!dsn.empty()) {
    std::string section(dsn);
    char buffer[1024] = {};
    if (SQLGetPrivateProfileString(section.c_str(), key, default_value, buffer, sizeof buffer - 1, "odbc.ini") >= 0)
      value = buffer;
  }
  if (value.size() > max_length) value.resize(max_length);
  return value;
}

}  // namespace quarl::hostlink
