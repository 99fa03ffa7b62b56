#include "common/attributes.h"

#include <cstring>

#include "common/text.h"

namespace quarl {

void ConnAttributes::set(int index, std::string_view value) {
  size_t n = value.size() > static_cast<size_t>(kAttrValueMax) ? kAttrValueMax : value.size();
  if (n > 0) std::memcpy(attr[index].value, value.data(), n);  // an empty view may have no data
  attr[index].value[n] = '\0';
}

int find_attribute_keyword(std::string_view key) {
  if (key.empty() || key.size() > static_cast<size_t>(kAttrKeyMax)) return -1;
  for (int i = 0; i < kAttrCount; ++i) {
    if (iequals(kAttrKeywords[i], key)) return i;
  }
  return -1;
}

AttrParse parse_attribute_string(std::string_view text, char separator, ConnAttributes& block) {
  bool provider_defaulted = false;
  return parse_attribute_string(text, separator, block, provider_defaulted);
}

AttrParse parse_attribute_string(std::string_view text, char separator, ConnAttributes& block,
                                 bool& provider_defaulted, std::vector<std::string>* unknown_keys) {
  provider_defaulted = false;
  size_t at = 0;
  const size_t end = text.size();
  for (;;) {
    while (at < end && text[at] == ' ') ++at;
    if (at >= end) break;  // complete

    size_t key_end = at;
    while (key_end < end && text[key_end] != '=' && text[key_end] != separator) ++key_end;
    if (key_end >= end) return AttrParse::Incomplete;
    if (text[key_end] == separator) {  // a segment without '='
      at = key_end + 1;
      continue;
    }

    size_t trimmed = key_end;
    while (trimmed > at + 1 && text[trimmed - 1] == ' ') --trimmed;
    int index = find_attribute_keyword(text.substr(at, trimmed - at));
    if (index < 0) {
      if (unknown_keys) unknown_keys->emplace_back(text.substr(at, trimmed - at));
      size_t next = text.find(separator, key_end);
      if (next == std::string_view::npos) return AttrParse::Incomplete;
      at = next + 1;
      continue;
    }

    size_t value_at = key_end + 1;
    while (value_at < end && text[value_at] == ' ') ++value_at;
    size_t value_end = text.find(separator, value_at);
    bool ended = value_end == std::string_view::npos;
    if (ended) value_end = end;
    block.attr[index].given = 1;
    block.set(index, text.substr(value_at, value_end - value_at));
    if (ended) break;
    at = value_end + 1;
  }
  if (!block.attr[kAttrProvider].given) {
    provider_defaulted = true;
    block.attr[kAttrProvider].given = 1;
    block.set(kAttrProvider, kDefaultProvider);
  }
  return AttrParse::Complete;
}

}  // namespace quarl
