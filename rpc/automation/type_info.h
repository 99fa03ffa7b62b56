// ITypeInfo of a dispatch interface, read from the type library description:
// its attributes, each member's FUNCDESC (dispatch id, parameter and result
// types, by-reference parameters as pointers), names and parameter names.
#pragma once

#include "rpc/automation/quarl_automation.h"
#include "rpc/automation/type_library.h"

namespace quarl::rpc::automation {

// A new type information object for the library's dispatch interface.
HRESULT create_type_info(const TypeLibraryDescription& library, ITypeInfo** out) noexcept;

}  // namespace quarl::rpc::automation
