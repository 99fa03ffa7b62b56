#include "rpc/replacement_chars.h"

#include <string>

#include "common/text.h"
#include "rpc/item_list.h"

namespace quarl::rpc {

std::optional<SpecialChars::Kind> SpecialChars::find(std::string_view keyword) {
  static constexpr std::pair<std::string_view, Kind> kNames[] = {
      {"CR", kCr}, {"CRLF", kCrLf}, {"LF", kLf}, {"TAB", kTab}, {"NULL", kNull}};
  for (auto& [name, kind] : kNames)
    if (iequals(keyword, name)) return kind;
  return std::nullopt;
}

Status SpecialChars::get_special_char(Buffer buffer) {
  ItemList items(buffer);
  std::string keyword = items.next();
  auto kind = find(keyword);
  if (!kind) return error_.fail("Unknown special character: " + keyword);
  buffer.put(std::string_view(&chars_[*kind], 1));
  return kOk;
}

Status SpecialChars::set_special_char(Buffer buffer) {
  ItemList items(buffer);
  std::string keyword = items.next();
  std::string value = items.next();
  // The new character is checked before the keyword.
  if (value.size() != 1) return error_.fail("You must specify one new character");
  auto kind = find(keyword);
  if (!kind) return error_.fail("Unknown special character: " + keyword);
  chars_[*kind] = value[0];
  return kOk;
}

Status SpecialChars::enable_special_ch(Buffer) {
  enabled_ = true;
  return kOk;
}

Status SpecialChars::disable_special_ch(Buffer) {
  enabled_ = false;
  return kOk;
}

}  // namespace quarl::rpc
