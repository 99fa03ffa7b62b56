// The buffer exports of libquarlrpc.so: one line each, naming the frame shape
// and the session operation.  Every export is `void NAME(char *buffer,
// int16_t length)` with C linkage.
#include <cstdint>

#include "rpc/frame.h"
#include "rpc/session.h"

namespace {

// The session of the exports, constructed when the library is loaded.
quarl::rpc::RpcSession g_session;

}  // namespace

#define QUARLRPC_API __attribute__((visibility("default")))

// A = blank-always, K = keep-on-success, U = unchecked (frame.h).
#define QUARLRPC_EXPORT(name, shape, operation)                                                              \
  extern "C" QUARLRPC_API void name(char* buffer, int16_t length) {                                         \
    quarl::rpc::run_export(g_session, buffer, length, quarl::rpc::Shape::shape,                             \
                           [](quarl::rpc::RpcSession& s, quarl::rpc::Buffer b) { return s.operation(b); }); \
  }
#define A BlankAlways
#define K KeepOnSuccess
#define U Unchecked

// The frame's own.
QUARLRPC_EXPORT(GetError, U, get_error)
QUARLRPC_EXPORT(GetVersion, K, get_version)
// No operation beyond the frame; the buffer is not touched.
extern "C" QUARLRPC_API void TestFunc(char* buffer, int16_t length) {
  quarl::rpc::run_export(g_session, buffer, length, quarl::rpc::Shape::None, nullptr);
}
