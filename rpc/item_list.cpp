#include "rpc/item_list.h"

#include <cstdint>

namespace quarl::rpc {

ItemList::ItemList(std::string_view text) : text_(trim_trailing_blanks(text)) {}

std::string ItemList::next() {
  while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  size_t start = pos_;
  while (pos_ < text_.size() && text_[pos_] != ',') ++pos_;
  std::string_view item = text_.substr(start, pos_ - start);
  if (pos_ < text_.size()) ++pos_;  // the comma belongs to no item
  return std::string(trim_trailing_blanks(item));
}

std::string ItemList::rest() {
  while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  std::string out(text_.substr(pos_));
  pos_ = text_.size();
  return out;
}

int64_t leading_integer(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + uint64_t(text[i] - '0');
  if (negative) value = ~value + 1;
  return static_cast<int64_t>(value);
}

}  // namespace quarl::rpc
