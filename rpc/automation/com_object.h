// What the library's automation objects share: the pointer a client holds
// (the table of entry points first, then the object behind it), the count of
// outstanding objects and locks that DllCanUnloadNow answers from, interface
// identity and reference counting.
#pragma once

#include <atomic>
#include <cstring>

#include "rpc/automation/quarl_automation.h"

namespace quarl::rpc::automation {

inline bool same_guid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The interface pointer handed to clients.  Its first word is the table of
// entry points, as the binary contract wants; the second leads back to the
// C++ object, so every entry point finds its object without assumptions on
// the object's own layout.
struct Face {
  const void* table;
  void* owner;
};

template <typename Owner, typename Interface>
Owner* owner_of(Interface* face) {
  return static_cast<Owner*>(reinterpret_cast<Face*>(face)->owner);
}

// Objects alive, references on the class factory and LockServer locks.  The
// library may be unloaded (DllCanUnloadNow answers S_OK) only at zero.
inline std::atomic<long> g_module_locks{0};

inline void lock_module() { g_module_locks.fetch_add(1, std::memory_order_relaxed); }
inline void unlock_module() { g_module_locks.fetch_sub(1, std::memory_order_release); }
inline bool module_in_use() { return g_module_locks.load(std::memory_order_acquire) != 0; }

// An object on the heap that clients hold by reference through Interface:
// it is deleted at the last Release and holds the library while it lives.
// Owner derives from it and says which interfaces it has
// (static bool offers(REFIID)); all of them are the one pointer face().
template <typename Owner, typename Interface>
class ComObject {
 public:
  Interface* face() { return reinterpret_cast<Interface*>(&face_); }

  static HRESULT STDMETHODCALLTYPE QueryInterface(Interface* self, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (!Owner::offers(riid)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef(self);
    *out = self;
    return S_OK;
  }

  static QUARL_ULONG STDMETHODCALLTYPE AddRef(Interface* self) {
    return of(self)->refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }

  static QUARL_ULONG STDMETHODCALLTYPE Release(Interface* self) {
    Owner* object = of(self);
    QUARL_ULONG left = object->refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete object;
    return left;
  }

 protected:
  explicit ComObject(const void* table) : face_{table, this} { lock_module(); }
  ~ComObject() { unlock_module(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  static Owner* of(Interface* self) { return static_cast<Owner*>(owner_of<ComObject>(self)); }

 private:
  Face face_;
  std::atomic<QUARL_ULONG> refs_{1};  // the creator's reference
};

}  // namespace quarl::rpc::automation
