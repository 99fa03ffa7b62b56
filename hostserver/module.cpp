#include "hostserver/module.h"

namespace hostserver {

void HandlerTable::add(unsigned type, unsigned code, Handler handler) {
  unsigned key = type * 1000 + code;
  for (auto& [k, h] : handlers_)
    if (k == key) {
      h = std::move(handler);
      return;
    }
  handlers_.emplace_back(key, std::move(handler));
}

const Handler* HandlerTable::find(unsigned type, unsigned code) const {
  unsigned key = type * 1000 + code;
  for (auto& [k, h] : handlers_)
    if (k == key) return &h;
  return nullptr;
}

}  // namespace hostserver
