// The automation exports of libquarlrpc.so: the server entry points and the
// BSTR and VARIANT helpers clients need for what crosses the boundary.  Each
// forwards to its implementation, which never throws.
#include <filesystem>
#include <string>
#include <system_error>

#include "common/platform/shared_library.h"
#include "rpc/automation/bstr.h"
#include "rpc/automation/quarl_automation.h"
#include "rpc/automation/server.h"

#define QUARLRPC_API __attribute__((visibility("default")))

namespace {

// The absolute path of this library, as the class registry records it.
std::string this_library_path() {
  try {
    std::string path = quarl::platform::SharedLibrary::path_of(reinterpret_cast<const void*>(&DllRegisterServer));
    if (path.empty()) return {};
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
  } catch (...) {
    return {};
  }
}

}  // namespace

namespace automation = quarl::rpc::automation;

extern "C" {

QUARLRPC_API HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return automation::get_class_object(rclsid, riid, ppv);
}

QUARLRPC_API HRESULT STDAPICALLTYPE DllCanUnloadNow(void) { return automation::can_unload_now(); }

QUARLRPC_API HRESULT STDAPICALLTYPE DllRegisterServer(void) {
  return automation::register_server(this_library_path());
}

QUARLRPC_API BSTR STDAPICALLTYPE SysAllocString(const OLECHAR* text) { return automation::sys_alloc_string(text); }

QUARLRPC_API BSTR STDAPICALLTYPE SysAllocStringLen(const OLECHAR* text, UINT len) {
  return automation::sys_alloc_string_len(text, len);
}

QUARLRPC_API void STDAPICALLTYPE SysFreeString(BSTR text) { automation::sys_free_string(text); }

QUARLRPC_API UINT STDAPICALLTYPE SysStringLen(BSTR text) { return automation::sys_string_len(text); }

QUARLRPC_API void STDAPICALLTYPE VariantInit(VARIANTARG* var) { automation::variant_init(var); }

QUARLRPC_API HRESULT STDAPICALLTYPE VariantClear(VARIANTARG* var) { return automation::variant_clear(var); }

}  // extern "C"
