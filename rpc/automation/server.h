// The automation server entry points of the library: the class factory of
// "Quarl.RPC", the unload test and the registration into the class registry.
#pragma once

#include <string>

#include "rpc/automation/quarl_automation.h"

namespace quarl::rpc::automation {

// The class registry in the profile folder: ProgIDs, classes and type
// libraries with the libraries that serve them.
inline constexpr const char* kClassRegistry = "classes.ini";

HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** out) noexcept;
HRESULT can_unload_now() noexcept;

// Records the type library and then the class (ProgID, CLSID, the path of
// library_path) in the class registry.  SELFREG_E_TYPELIB, with nothing
// recorded, when the type library cannot be recorded; SELFREG_E_CLASS when
// the class cannot.
HRESULT register_server(const std::string& library_path) noexcept;

}  // namespace quarl::rpc::automation
