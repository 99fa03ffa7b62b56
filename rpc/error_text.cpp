#include "rpc/error_text.h"

namespace quarl::rpc {

Status ErrorText::fail(std::string_view message) noexcept {
  try {
    text_.assign(message.data(), message.size());
  } catch (...) {
    text_.clear();
    text_.assign("Out of memory");  // fits the string's own storage
  }
  return kFailed;
}

}  // namespace quarl::rpc
