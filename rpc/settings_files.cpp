#include "rpc/settings_files.h"

#include <string>

#include "common/platform/profile.h"
#include "common/platform/system.h"
#include "rpc/item_list.h"

namespace quarl::rpc {
namespace {

// The most GetIniFileParam reads.
constexpr size_t kReadSize = 512;

const char* absent_when_empty(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

Status SettingsFiles::put_ini_file_param(Buffer buffer) {
  ItemList items(buffer);
  std::string file = items.next(), section = items.next(), key = items.next();
  std::string value = items.rest();
  if (!platform::write_private_profile_string(absent_when_empty(section), absent_when_empty(key),
                                              absent_when_empty(value), file))
    return error_.fail("Error writing profile string = " + std::to_string(platform::last_error()));
  return kOk;
}

Status SettingsFiles::get_ini_file_param(Buffer buffer) {
  ItemList items(buffer);
  std::string file = items.next(), section = items.next(), key = items.next();
  std::string fallback = items.rest();
  char value[kReadSize] = {};
  size_t n = platform::get_private_profile_string(absent_when_empty(section), absent_when_empty(key),
                                                  fallback.c_str(), value, sizeof value, file);
  // Lists keep their separating zero bytes.
  buffer.put(std::string_view(value, n));
  return kOk;
}

}  // namespace quarl::rpc
