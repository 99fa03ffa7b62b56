#pragma once
// Template bodies of hostmsg.h.

namespace quarl::hostmsg {

template <typename F>
int for_each_error_item(std::string_view items, F&& f) {
  int seen = 0;
  size_t at = 0;
  while (items.size() - at >= 4) {
    unsigned index = parse_item_number(items.substr(at, 4));
    if (index == 0) break;
    if (items.size() - at < 8) break;
    unsigned length = parse_item_number(items.substr(at + 4, 4));
    at += 8;
    if (length > items.size() - at) length = static_cast<unsigned>(items.size() - at);
    f(index, items.substr(at, length));
    ++seen;
    at += length;
  }
  return seen;
}

}  // namespace quarl::hostmsg
