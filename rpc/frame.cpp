#include "rpc/frame.h"

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>

#include "common/platform/shared_library.h"
#include "rpc/session.h"

namespace quarl::rpc {
namespace {

std::atomic<bool> g_self_loaded{false};

}  // namespace

void keep_library_loaded() noexcept {
  if (g_self_loaded.load(std::memory_order_acquire)) return;
  try {
    // Any address inside this library names its file.
    std::string path = platform::SharedLibrary::path_of(reinterpret_cast<const void*>(&keep_library_loaded));
    if (path.empty()) return;
    platform::SharedLibrary self;
    if (!self.open(path)) return;
    self.keep_forever();  // never released
    g_self_loaded.store(true, std::memory_order_release);
  } catch (...) {
    // The call proceeds; the next one tries again.
  }
}

bool library_kept_loaded() noexcept { return g_self_loaded.load(std::memory_order_acquire); }

Status run_operation(RpcSession& session, Buffer buffer, Operation operation) noexcept {
  try {
    return operation(session, buffer);
  } catch (const std::bad_alloc&) {
    return session.error.fail("Out of memory");
  } catch (const std::exception& e) {
    try {
      return session.error.fail(std::string("Internal error: ") + e.what());
    } catch (...) {
      return session.error.fail("Internal error");
    }
  } catch (...) {
    return session.error.fail("Internal error");
  }
}

void run_export(RpcSession& session, char* buffer, int16_t length, Shape shape, Operation operation) noexcept {
  keep_library_loaded();
  if (shape == Shape::None || !operation) return;
  if (length < 0 || (!buffer && length > 0)) {
    // Valid lengths are 0 to 32767; nothing is written for any other.
    try {
      session.error.fail(length < 0 ? "Invalid buffer length " + std::to_string(length)
                                    : std::string("No buffer given"));
    } catch (...) {
      session.error.fail("Invalid buffer");
    }
    return;
  }
  Buffer area(buffer, static_cast<size_t>(length));
  Status result = run_operation(session, area, operation);

  switch (shape) {
    case Shape::BlankAlways:
      if (result != kOk) area.mark_failure();
      else area.blank();
      break;
    case Shape::KeepOnSuccess:
      if (result != kOk) area.mark_failure();
      break;
    case Shape::Unchecked:
    case Shape::None:
      break;
  }
  // On 32-bit Windows each export looked at the instruction at its return
  // address to serve both caller-pops and callee-pops client declarations.
  // x86-64 has one calling convention, in which the caller always owns its
  // argument area, so both kinds of client declaration work with a plain
  // return.
}

}  // namespace quarl::rpc
