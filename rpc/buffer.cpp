#include "rpc/buffer.h"

#include <algorithm>
#include <cstring>

namespace quarl::rpc {

void Buffer::blank() const {
  if (size_ > 0) std::memset(data_, ' ', size_);
}

void Buffer::put(std::string_view out) const {
  blank();
  size_t n = std::min(out.size(), size_);
  if (n > 0) std::memcpy(data_, out.data(), n);
}

void Buffer::mark_failure() const { put("*****"); }

}  // namespace quarl::rpc
