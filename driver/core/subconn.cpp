#include "driver/core/subconn.h"

#include <array>
#include <list>
#include <memory>
#include <mutex>
#include <new>

#include "driver/core/diag.h"
#include "driver/core/handles.h"
#include "driver/core/settings.h"

namespace quarl::driver {
namespace {

// Both guarded by the sub connection lock.
struct SubState {
  std::array<bool, kSubIdCount> taken{};
  std::list<std::unique_ptr<SubConnection>> records;  // newest first
};

SubState& state() {
  static auto* s = new SubState;
  return *s;
}

std::string cut(std::string_view text, size_t max) { return std::string(text.substr(0, max)); }

// Caller holds the sub connection lock.
uint8_t take_sub_id_locked() {
  auto& taken = state().taken;
  for (int k = 0; k < kSubIdCount; ++k) {
    if (!taken[k]) {
      taken[k] = true;
      tracef("return subid=%d", k + 1);
      return static_cast<uint8_t>(k + 1);
    }
  }
  return 0;
}

}  // namespace

uint8_t take_sub_id() {
  std::lock_guard lock(locks().sub_connection);
  return take_sub_id_locked();
}

void release_sub_id(uint8_t id) {
  tracef("release subid=%d", static_cast<int>(id));
  if (id == 0 || id > kSubIdCount) return;
  std::lock_guard lock(locks().sub_connection);
  state().taken[id - 1] = false;
}

int sub_ids_in_use() {
  std::lock_guard lock(locks().sub_connection);
  int n = 0;
  for (bool t : state().taken) n += t ? 1 : 0;
  return n;
}

SubConnection* alloc_subconnection(ConnBlock& conn, std::string_view uid, std::string_view pwd,
                                   std::string_view client_config) {
  std::lock_guard lock(locks().sub_connection);
  std::unique_ptr<SubConnection> record;
  try {
    record = std::make_unique<SubConnection>();
    record->user_id = cut(uid, kUserIdMax);
    record->password = cut(pwd, kPasswordMax);
    record->client_config = cut(client_config, kClientConfigMax);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  uint8_t id = take_sub_id_locked();
  if (id == 0) {
    post_error(conn.errors, kErrUnableToConnect, "No free sub connections");
    return nullptr;
  }
  record->sub_id = id;
  record->link = conn.link;
  SubConnection* raw = record.get();
  try {
    state().records.push_front(std::move(record));
  } catch (const std::bad_alloc&) {
    state().taken[id - 1] = false;
    return nullptr;
  }
  return raw;
}

void free_subconnection(SubConnection* record) {
  if (!record) return;
  std::lock_guard lock(locks().sub_connection);
  state().records.remove_if([&](const auto& r) { return r.get() == record; });
}

}  // namespace quarl::driver
