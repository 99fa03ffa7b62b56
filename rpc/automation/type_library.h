// The type library Quarlrpclib, compiled into the library: the identities of
// the class QUARLRPC and its dispatch interface IRPC, and each member's
// dispatch id, name, parameters and result.  GetIDsOfNames, Invoke's argument
// checks, GetTypeInfo and DllRegisterServer all read this one description.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "rpc/automation/quarl_automation.h"

namespace quarl::rpc::automation {

struct ParamDescription {
  std::u16string_view name;
  VARTYPE type;  // VT_BSTR or VT_I2
  bool by_ref;   // passed by reference: the member may replace it
};

struct MemberDescription {
  DISPID id;
  std::u16string_view name;
  VARTYPE result;  // VT_I2, VT_BSTR, or VT_VOID for none
  std::span<const ParamDescription> params;
};

struct TypeLibraryDescription {
  GUID libid;
  std::string_view name;
  WORD major_version, minor_version;
  GUID clsid;
  std::string_view coclass;
  std::string_view progid;
  GUID iid;  // the dispatch interface
  std::u16string_view interface_name;
  std::u16string_view interface_doc;
  std::span<const MemberDescription> members;

  const MemberDescription* member(DISPID id) const;
  // The member of that name, without regard to case.
  const MemberDescription* member(std::u16string_view name) const;
};

const TypeLibraryDescription& rpc_type_library();

// The index of member's parameter of that name (without regard to case).
std::optional<DISPID> param_id(const MemberDescription& member, std::u16string_view name);

// GetIDsOfNames of IRPC: the member's id, then its parameters' ids (their
// positions); DISP_E_UNKNOWNNAME with DISPID_UNKNOWN for names not found.
HRESULT ids_of_names(const TypeLibraryDescription& library, const LPOLESTR* names, UINT count, DISPID* ids);

// "{4C7D20D2-51A3-11D2-B3E8-0060973A5C21}"
std::string guid_text(const GUID& guid);

}  // namespace quarl::rpc::automation
