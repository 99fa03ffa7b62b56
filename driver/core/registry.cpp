#include "driver/core/registry.h"

#include <bitset>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace quarl::driver {
namespace {

// Not one of the four documented locks: it only guards this bookkeeping and
// is never held while another lock is taken.
struct Registry {
  std::shared_mutex mutex;
  std::unordered_map<const void*, HandleKind> live;
  std::bitset<0x10000> ids_in_use;
  uint32_t next_id = 1;
};

Registry& registry() {
  static Registry* r = new Registry;  // outlives every handle
  return *r;
}

}  // namespace

namespace detail {
constinit thread_local LastLive last_live[kHandleKinds] __attribute__((tls_model("initial-exec")));
std::atomic<uint64_t> handle_removals{0};

bool is_live_slow(const void* handle, HandleKind kind) {
  if (!handle) return false;
  Registry& r = registry();
  std::shared_lock lock(r.mutex);
  auto it = r.live.find(handle);
  bool live = it != r.live.end() && it->second == kind;
  // Removals happen under the exclusive lock: the count read here belongs
  // to this answer.
  if (live) last_live[static_cast<size_t>(kind)] = LastLive{handle, handle_removals.load(std::memory_order_relaxed)};
  return live;
}
}  // namespace detail

HandleRegistration::HandleRegistration(const void* record, HandleKind kind) : record_(record) {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  r.live[record] = kind;
}

HandleRegistration::~HandleRegistration() {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  r.live.erase(record_);
  detail::handle_removals.fetch_add(1, std::memory_order_release);
}

uint16_t take_connection_id() {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  // Round robin from the last one handed out, so a freed id is not reused at once.
  for (uint32_t tries = 0; tries < 0xFFFF; ++tries) {
    uint32_t id = r.next_id;
    r.next_id = id == 0xFFFF ? 1 : id + 1;
    if (!r.ids_in_use[id]) {
      r.ids_in_use[id] = true;
      return static_cast<uint16_t>(id);
    }
  }
  return 0;
}

void release_connection_id(uint16_t id) {
  if (id == 0) return;
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  r.ids_in_use[id] = false;
}

}  // namespace quarl::driver
