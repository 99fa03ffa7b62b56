// The registry of live handles: every entry point looks its handle up here
// first, so an unknown or freed handle gives SQL_INVALID_HANDLE, never a crash.
#pragma once

#include <cstdint>

namespace quarl::driver {

enum class HandleKind : uint8_t { Env, Dbc, Stmt };

bool is_live(const void* handle, HandleKind kind);

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
