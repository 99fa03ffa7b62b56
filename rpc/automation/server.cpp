#include "rpc/automation/server.h"

#include <fmt/format.h>

#include <atomic>
#include <functional>

#include "common/platform/profile.h"
#include "common/platform/profile_file.h"
#include "common/utf.h"
#include "rpc/automation/com_object.h"
#include "rpc/automation/rpc_object.h"
#include "rpc/automation/type_library.h"

namespace quarl::rpc::automation {
namespace {

// Takes one from count unless it is zero already (an unbalanced release).
bool take_one(std::atomic<QUARL_ULONG>& count) {
  QUARL_ULONG now = count.load(std::memory_order_relaxed);
  while (now > 0)
    if (count.compare_exchange_weak(now, now - 1, std::memory_order_acq_rel)) return true;
  return false;
}

// The class factory of RPC: one for the life of the library.  Its
// references and LockServer locks keep the library in use.
class ClassFactory {
 public:
  IClassFactory* factory() { return reinterpret_cast<IClassFactory*>(&face_); }

  static HRESULT STDMETHODCALLTYPE QueryInterface(IClassFactory* self, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (same_guid(riid, IID_IUnknown) || same_guid(riid, IID_IClassFactory)) {
      AddRef(self);
      *out = self;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

  static QUARL_ULONG STDMETHODCALLTYPE AddRef(IClassFactory* self) {
    lock_module();
    return owner_of<ClassFactory>(self)->refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }

  static QUARL_ULONG STDMETHODCALLTYPE Release(IClassFactory* self) {
    auto& refs = owner_of<ClassFactory>(self)->refs_;
    if (take_one(refs)) unlock_module();
    return refs.load(std::memory_order_relaxed);
  }

  static HRESULT STDMETHODCALLTYPE CreateInstance(IClassFactory*, IUnknown* outer, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_rpc_object(riid, out);
  }

  static HRESULT STDMETHODCALLTYPE LockServer(IClassFactory* self, BOOL lock) {
    auto& locks = owner_of<ClassFactory>(self)->server_locks_;
    if (lock) {
      locks.fetch_add(1, std::memory_order_relaxed);
      lock_module();
      return S_OK;
    }
    if (!take_one(locks)) return E_UNEXPECTED;  // nothing to unlock
    unlock_module();
    return S_OK;
  }

 private:
  static const IClassFactoryVtbl kTable;
  Face face_{&kTable, this};
  std::atomic<QUARL_ULONG> refs_{0};
  std::atomic<QUARL_ULONG> server_locks_{0};
};

const IClassFactoryVtbl ClassFactory::kTable = {
    &ClassFactory::QueryInterface, &ClassFactory::AddRef,     &ClassFactory::Release,
    &ClassFactory::CreateInstance, &ClassFactory::LockServer,
};

ClassFactory g_factory;

// Edits the class registry in one step; false when it cannot be written.
bool record(const std::function<void(platform::ProfileDocument&)>& fill) {
  return platform::update_profile_file(kClassRegistry, [&](std::string& text) {
    if (text.empty()) text = "; Automation classes and type libraries, recorded by DllRegisterServer\n";
    auto document = platform::ProfileDocument::parse(text);
    fill(document);
    text = document.text();
  });
}

std::string narrow(std::u16string_view text) {
  std::string out;
  utf16_to_utf8_replacing(text.data(), text.size(), out);
  return out;
}

}  // namespace

HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!same_guid(clsid, rpc_type_library().clsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return ClassFactory::QueryInterface(g_factory.factory(), riid, out);
}

HRESULT can_unload_now() noexcept { return module_in_use() ? S_FALSE : S_OK; }

HRESULT register_server(const std::string& library_path) noexcept {
  try {
    // A path that a profile line cannot hold cannot be recorded.
    if (library_path.empty() || library_path.find_first_of("\r\n") != std::string::npos) return SELFREG_E_TYPELIB;
    const TypeLibraryDescription& library = rpc_type_library();
    const std::string libid = guid_text(library.libid);
    const std::string clsid = guid_text(library.clsid);
    const std::string iid = guid_text(library.iid);

    bool recorded = record([&](platform::ProfileDocument& registry) {
      const std::string section =
          fmt::format("TypeLib\\{}\\{}.{}", libid, library.major_version, library.minor_version);
      registry.set(section, "Name", library.name);
      registry.set(section, "Path", library_path);
      registry.set("Interface\\" + iid, "Name", narrow(library.interface_name));
      registry.set("Interface\\" + iid, "TypeLib", libid);
    });
    if (!recorded) return SELFREG_E_TYPELIB;

    recorded = record([&](platform::ProfileDocument& registry) {
      registry.set(library.progid, "CLSID", clsid);
      const std::string section = "CLSID\\" + clsid;
      registry.set(section, "Name", library.coclass);
      registry.set(section, "ProgID", library.progid);
      registry.set(section, "InprocServer", library_path);
      registry.set(section, "TypeLib", libid);
    });
    return recorded ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace quarl::rpc::automation
