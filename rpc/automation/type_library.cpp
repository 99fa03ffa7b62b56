#include "rpc/automation/type_library.h"

#include <fmt/format.h>

namespace quarl::rpc::automation {
namespace {

constexpr ParamDescription kConnectParams[] = {{u"dsName", VT_BSTR, false}};
constexpr ParamDescription kCallParams[] = {
    {u"Library", VT_BSTR, false},  // the call takes it as the entry point name
    {u"EntryPoint", VT_BSTR, false},  // and this as the library name
    {u"Param", VT_BSTR, true},
};
constexpr ParamDescription kSetParamSizeParams[] = {{u"paramsize", VT_I2, false}};
constexpr ParamDescription kCorCallParams[] = {{u"Coroutine", VT_BSTR, false}, {u"Param", VT_BSTR, true}};

constexpr MemberDescription kMembers[] = {
    {QUARL_DISPID_CONNECT, u"Connect", VT_I2, kConnectParams},
    {QUARL_DISPID_DISCONNECT, u"Disconnect", VT_I2, {}},
    {QUARL_DISPID_GETERROR, u"GetError", VT_BSTR, {}},
    {QUARL_DISPID_CALL, u"Call", VT_I2, kCallParams},
    {QUARL_DISPID_SETPARAMSIZE, u"SetParamSize", VT_VOID, kSetParamSizeParams},
    {QUARL_DISPID_CORCALL, u"CorCall", VT_I2, kCorCallParams},
};

const TypeLibraryDescription kLibrary{
    LIBID_Quarlrpclib,
    "Quarlrpclib",
    1,
    0,
    CLSID_QUARLRPC,
    "QUARLRPC",
    QUARL_RPC_PROGID,
    DIID_IRPC,
    u"IRPC",
    u"Host procedure calls of Quarl.RPC",
    kMembers,
};

constexpr char16_t fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool iequals(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

std::u16string_view view(const OLECHAR* text) { return text ? std::u16string_view(text) : std::u16string_view(); }

}  // namespace

const TypeLibraryDescription& rpc_type_library() { return kLibrary; }

const MemberDescription* TypeLibraryDescription::member(DISPID id) const {
  for (const auto& m : members)
    if (m.id == id) return &m;
  return nullptr;
}

const MemberDescription* TypeLibraryDescription::member(std::u16string_view name) const {
  for (const auto& m : members)
    if (iequals(m.name, name)) return &m;
  return nullptr;
}

std::optional<DISPID> param_id(const MemberDescription& member, std::u16string_view name) {
  for (size_t i = 0; i < member.params.size(); ++i)
    if (iequals(member.params[i].name, name)) return static_cast<DISPID>(i);
  return std::nullopt;
}

HRESULT ids_of_names(const TypeLibraryDescription& library, const LPOLESTR* names, UINT count, DISPID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_INVALIDARG;
  HRESULT result = S_OK;
  const MemberDescription* member = library.member(view(names[0]));
  ids[0] = member ? member->id : DISPID_UNKNOWN;
  for (UINT i = 1; i < count; ++i) {
    std::optional<DISPID> id = member ? param_id(*member, view(names[i])) : std::nullopt;
    ids[i] = id.value_or(DISPID_UNKNOWN);
  }
  for (UINT i = 0; i < count; ++i)
    if (ids[i] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
  return result;
}

std::string guid_text(const GUID& g) {
  return fmt::format("{{{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}}}", g.Data1, g.Data2,
                     g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                     g.Data4[7]);
}

}  // namespace quarl::rpc::automation
