// The registry of live handles: every entry point looks its handle up here
// first, so an unknown or freed handle gives SQL_INVALID_HANDLE, never a crash.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quarl::driver {

enum class HandleKind : uint8_t { Env, Dbc, Stmt, Desc };

namespace detail {
// The last handle of each kind the calling thread found live, and the
// number of handle removals at that moment: a handle found live stays live
// until a handle is removed, so while the count is unchanged the answer
// holds without the registry's lock (every SQLFetch and SQLGetData looks
// up, mostly the same statement).  A kind not looked up yet holds a count
// that is never reached, so that no handle (not even a null one) matches it.
struct LastLive {
  const void* handle = nullptr;
  uint64_t removals = UINT64_MAX;
};
inline constexpr size_t kHandleKinds = 4;
// Initial-exec: read at a fixed offset from the thread pointer, not through
// __tls_get_addr on every lookup (64 bytes of the static TLS that the loader
// keeps for libraries opened later).
extern constinit thread_local LastLive last_live[kHandleKinds] __attribute__((tls_model("initial-exec")));
extern std::atomic<uint64_t> handle_removals;
bool is_live_slow(const void* handle, HandleKind kind);
}  // namespace detail

// The handle is the last one this thread found live, and is live still: the
// answer without the registry (false says nothing).
inline bool is_recently_live(const void* handle, HandleKind kind) {
  const detail::LastLive& last = detail::last_live[static_cast<size_t>(kind)];
  return handle == last.handle && detail::handle_removals.load(std::memory_order_acquire) == last.removals;
}

inline bool is_live(const void* handle, HandleKind kind) {
  return is_recently_live(handle, kind) || detail::is_live_slow(handle, kind);
}

// Registers a record for the life of this member.  Declare it as the last
// member of the record: it is then registered once everything else is built
// and unregistered before anything is torn down.
class HandleRegistration {
 public:
  HandleRegistration(const void* record, HandleKind kind);
  ~HandleRegistration();
  HandleRegistration(const HandleRegistration&) = delete;
  HandleRegistration& operator=(const HandleRegistration&) = delete;

 private:
  const void* record_;
};

// Connection identifiers: a number unique among the process's live
// connections, 1 to 0xFFFF (sent as four hexadecimal digits); 0 when all are
// taken.
uint16_t take_connection_id();
void release_connection_id(uint16_t id);

}  // namespace quarl::driver
