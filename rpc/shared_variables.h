// Shared variables: named 64-bit counters that processes on one machine
// share, for example to hand out sequence numbers.  They live in the shared
// block "QUARLRPCVARFILE" (100 entries of 32 bytes: a zero-ended name of at
// most 17 characters in 24 bytes, then the value, little-endian), guarded by
// the inter-process lock "QUARLRPCVARMUTEX".  QUARL_RPC_SHM_NAME names
// another block (tests use it to stay clear of a user's counters).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/platform/shared_memory.h"
#include "rpc/buffer.h"
#include "rpc/error_text.h"

namespace quarl::rpc {

inline constexpr const char* kVariableFileName = "QUARLRPCVARFILE";
inline constexpr const char* kVariableMutexName = "QUARLRPCVARMUTEX";
inline constexpr const char* kVariableFileEnv = "QUARL_RPC_SHM_NAME";
inline constexpr size_t kVariableEntries = 100;
inline constexpr size_t kVariableEntrySize = 32;
inline constexpr size_t kVariableNameField = 24;
inline constexpr size_t kVariableNameMax = 17;

// The block's name: QUARL_RPC_SHM_NAME when set, else "QUARLRPCVARFILE".
std::string variable_file_name();

class SharedVariables {
 public:
  explicit SharedVariables(ErrorText& error) : error_(error) {}

  Status set_variable(Buffer buffer);
  Status get_variable(Buffer buffer);
  Status bump_variable(Buffer buffer);

 private:
  // Maps the block on first use; kept for the life of the session.
  Status open_file();
  // The entry's offset, or nullopt with the error text set.
  std::optional<size_t> find(const std::string& name, bool create);
  uint64_t value_at(size_t entry) const;
  void set_value_at(size_t entry, uint64_t value);
  Status read_or_bump(Buffer buffer, bool bump);

  ErrorText& error_;
  platform::SharedMemory file_;
};

}  // namespace quarl::rpc
