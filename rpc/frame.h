// The frame around every buffer export: self-load, the call of one session
// operation, and the marking of the caller's buffer by the export's shape.
#pragma once

#include <cstdint>

#include "rpc/buffer.h"
#include "rpc/error_text.h"

namespace quarl::rpc {

class RpcSession;

// How the frame marks the buffer after the operation.
enum class Shape {
  BlankAlways,    // blanks whatever the result; the failure marker on failure
  KeepOnSuccess,  // the operation's output on success; blanks and the marker on failure
  Unchecked,      // whatever the operation wrote; the result is not looked at
  None,           // no operation and no buffer access at all
  // The letters of the export table.
  A = BlankAlways,
  K = KeepOnSuccess,
  U = Unchecked,
  N = None,
};

using Operation = Status (*)(RpcSession& session, Buffer buffer);

// Runs one operation on the session.  Never throws: an exception from the
// operation is a failure with its message in the error text.
Status run_operation(RpcSession& session, Buffer buffer, Operation operation) noexcept;

// Runs one export.  Never throws: an exception from the operation is a
// failure with its message in the error text.  A negative length (or a null
// buffer with a positive length) is refused without touching the buffer.
void run_export(RpcSession& session, char* buffer, int16_t length, Shape shape, Operation operation) noexcept;

// Loads this library once more by its own path, so that it (and the session
// with it) stays in memory until the process ends even when the client
// unloads it.  Done on the first export call; retried by the next call if it
// fails.
void keep_library_loaded() noexcept;
bool library_kept_loaded() noexcept;

}  // namespace quarl::rpc
