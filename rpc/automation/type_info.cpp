#include "rpc/automation/type_info.h"

#include <new>

#include "rpc/automation/bstr.h"
#include "rpc/automation/com_object.h"

namespace quarl::rpc::automation {
namespace {

constexpr size_t kMaxParams = 8;

// What one GetFuncDesc hands out, in one block: the FUNCDESC first (its
// address is the block's), its parameters, and what by-reference parameters
// point to.
struct FuncDescBlock {
  FUNCDESC desc;
  ELEMDESC params[kMaxParams];
  TYPEDESC pointees[kMaxParams];
};

BSTR name_bstr(std::u16string_view name) {
  return sys_alloc_string_len(name.data(), static_cast<UINT>(name.size()));
}

class TypeInfo : public ComObject<TypeInfo, ITypeInfo> {
 public:
  explicit TypeInfo(const TypeLibraryDescription& library) : ComObject(&kTable), library_(library) {}

  static bool offers(REFIID riid) { return same_guid(riid, IID_IUnknown) || same_guid(riid, IID_ITypeInfo); }

  static HRESULT STDMETHODCALLTYPE GetTypeAttr(ITypeInfo* self, TYPEATTR** out) {
    if (!out) return E_INVALIDARG;
    const TypeLibraryDescription& library = of(self)->library_;
    auto* attr = new (std::nothrow) TYPEATTR{};
    if (!attr) return E_OUTOFMEMORY;
    attr->guid = library.iid;
    attr->memidConstructor = MEMBERID_NIL;
    attr->memidDestructor = MEMBERID_NIL;
    attr->cbSizeInstance = sizeof(void*);
    attr->typekind = TKIND_DISPATCH;
    attr->cFuncs = static_cast<WORD>(library.members.size());
    // The seven entries of IDispatch; the members are reached through Invoke.
    attr->cbSizeVft = static_cast<WORD>(7 * sizeof(void*));
    attr->cbAlignment = static_cast<WORD>(alignof(void*));
    attr->wTypeFlags = TYPEFLAG_FDISPATCHABLE;
    attr->tdescAlias.vt = VT_EMPTY;
    *out = attr;
    return S_OK;
  }

  static HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeInfo*, ITypeComp** out) { return not_offered(out); }

  static HRESULT STDMETHODCALLTYPE GetFuncDesc(ITypeInfo* self, UINT index, FUNCDESC** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const TypeLibraryDescription& library = of(self)->library_;
    if (index >= library.members.size()) return TYPE_E_ELEMENTNOTFOUND;
    const MemberDescription& member = library.members[index];
    if (member.params.size() > kMaxParams) return E_UNEXPECTED;
    auto* block = new (std::nothrow) FuncDescBlock{};
    if (!block) return E_OUTOFMEMORY;
    FUNCDESC& desc = block->desc;
    desc.memid = member.id;
    desc.funckind = FUNC_DISPATCH;
    desc.invkind = INVOKE_FUNC;
    desc.callconv = CC_STDCALL;
    desc.cParams = static_cast<SHORT>(member.params.size());
    desc.lprgelemdescParam = member.params.empty() ? nullptr : block->params;
    desc.elemdescFunc.tdesc.vt = member.result;
    for (size_t i = 0; i < member.params.size(); ++i) {
      const ParamDescription& param = member.params[i];
      ELEMDESC& elem = block->params[i];
      if (param.by_ref) {
        // A reference is a pointer to the type.
        block->pointees[i].vt = param.type;
        elem.tdesc.vt = VT_PTR;
        elem.tdesc.lptdesc = &block->pointees[i];
        elem.paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
      } else {
        elem.tdesc.vt = param.type;
        elem.paramdesc.wParamFlags = PARAMFLAG_FIN;
      }
    }
    *out = &block->desc;
    return S_OK;
  }

  static HRESULT STDMETHODCALLTYPE GetVarDesc(ITypeInfo*, UINT, VARDESC** out) {
    if (out) *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;  // the interface has no variables
  }

  static HRESULT STDMETHODCALLTYPE GetNames(ITypeInfo* self, MEMBERID id, BSTR* names, UINT max, UINT* count) {
    if (!count || (max > 0 && !names)) return E_INVALIDARG;
    *count = 0;
    const MemberDescription* member = of(self)->library_.member(id);
    if (!member) return TYPE_E_ELEMENTNOTFOUND;
    const UINT total = static_cast<UINT>(member->params.size() + 1);
    for (UINT i = 0; i < total && i < max; ++i) {
      names[i] = name_bstr(i == 0 ? member->name : member->params[i - 1].name);
      if (!names[i]) {
        while (i > 0) sys_free_string(names[--i]);
        return E_OUTOFMEMORY;
      }
      *count = i + 1;
    }
    return S_OK;
  }

  static HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(ITypeInfo*, UINT, HREFTYPE*) {
    return TYPE_E_ELEMENTNOTFOUND;  // no interface types are listed
  }

  static HRESULT STDMETHODCALLTYPE GetImplTypeFlags(ITypeInfo*, UINT, INT*) { return TYPE_E_ELEMENTNOTFOUND; }

  static HRESULT STDMETHODCALLTYPE GetIDsOfNames(ITypeInfo* self, LPOLESTR* names, UINT count, MEMBERID* ids) {
    return ids_of_names(of(self)->library_, names, count, ids);
  }

  static HRESULT STDMETHODCALLTYPE Invoke(ITypeInfo*, void* instance, MEMBERID id, WORD flags, DISPPARAMS* params,
                                          VARIANT* result, EXCEPINFO* exception, UINT* arg_error) {
    // The instance is an object of this interface: its own Invoke runs the call.
    if (!instance) return E_INVALIDARG;
    auto* object = static_cast<IDispatch*>(instance);
    return object->lpVtbl->Invoke(object, id, IID_NULL, 0, flags, params, result, exception, arg_error);
  }

  static HRESULT STDMETHODCALLTYPE GetDocumentation(ITypeInfo* self, MEMBERID id, BSTR* name, BSTR* doc,
                                                    DWORD* help_context, BSTR* help_file) {
    const TypeLibraryDescription& library = of(self)->library_;
    std::u16string_view member_name, member_doc;
    if (id == MEMBERID_NIL) {
      member_name = library.interface_name;
      member_doc = library.interface_doc;
    } else if (const MemberDescription* member = library.member(id)) {
      member_name = member->name;
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    BSTR name_copy = name ? name_bstr(member_name) : nullptr;
    BSTR doc_copy = doc && !member_doc.empty() ? name_bstr(member_doc) : nullptr;
    if ((name && !name_copy) || (doc && !member_doc.empty() && !doc_copy)) {
      sys_free_string(name_copy);
      sys_free_string(doc_copy);
      return E_OUTOFMEMORY;
    }
    if (name) *name = name_copy;
    if (doc) *doc = doc_copy;
    if (help_context) *help_context = 0;
    if (help_file) *help_file = nullptr;
    return S_OK;
  }

  // Entry points for what a dispatch interface of an in-process library
  // does not have: a binding interface, DLL entries, addresses, instances,
  // marshalling strings and a containing type library object.
  static HRESULT STDMETHODCALLTYPE GetDllEntry(ITypeInfo*, MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name,
                                               WORD* ordinal) {
    if (dll) *dll = nullptr;
    if (name) *name = nullptr;
    if (ordinal) *ordinal = 0;
    return TYPE_E_BADMODULEKIND;
  }
  static HRESULT STDMETHODCALLTYPE GetRefTypeInfo(ITypeInfo*, HREFTYPE, ITypeInfo** out) {
    if (out) *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  static HRESULT STDMETHODCALLTYPE AddressOfMember(ITypeInfo*, MEMBERID, INVOKEKIND, void** out) {
    return not_offered(out);
  }
  static HRESULT STDMETHODCALLTYPE CreateInstance(ITypeInfo*, IUnknown*, REFIID, void** out) {
    return not_offered(out);
  }
  static HRESULT STDMETHODCALLTYPE GetMops(ITypeInfo*, MEMBERID, BSTR* out) { return not_offered(out); }
  static HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeInfo*, ITypeLib** out, UINT* index) {
    if (index) *index = 0;
    return not_offered(out);
  }

  static void STDMETHODCALLTYPE ReleaseTypeAttr(ITypeInfo*, TYPEATTR* attr) { delete attr; }
  static void STDMETHODCALLTYPE ReleaseFuncDesc(ITypeInfo*, FUNCDESC* desc) {
    delete reinterpret_cast<FuncDescBlock*>(desc);
  }
  static void STDMETHODCALLTYPE ReleaseVarDesc(ITypeInfo*, VARDESC*) {}

 private:
  template <typename T>
  static HRESULT not_offered(T** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  static const ITypeInfoVtbl kTable;
  const TypeLibraryDescription& library_;
};

const ITypeInfoVtbl TypeInfo::kTable = {
    &TypeInfo::QueryInterface,
    &TypeInfo::AddRef,
    &TypeInfo::Release,
    &TypeInfo::GetTypeAttr,
    &TypeInfo::GetTypeComp,
    &TypeInfo::GetFuncDesc,
    &TypeInfo::GetVarDesc,
    &TypeInfo::GetNames,
    &TypeInfo::GetRefTypeOfImplType,
    &TypeInfo::GetImplTypeFlags,
    &TypeInfo::GetIDsOfNames,
    &TypeInfo::Invoke,
    &TypeInfo::GetDocumentation,
    &TypeInfo::GetDllEntry,
    &TypeInfo::GetRefTypeInfo,
    &TypeInfo::AddressOfMember,
    &TypeInfo::CreateInstance,
    &TypeInfo::GetMops,
    &TypeInfo::GetContainingTypeLib,
    &TypeInfo::ReleaseTypeAttr,
    &TypeInfo::ReleaseFuncDesc,
    &TypeInfo::ReleaseVarDesc,
};

}  // namespace

HRESULT create_type_info(const TypeLibraryDescription& library, ITypeInfo** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* info = new (std::nothrow) TypeInfo(library);
  if (!info) return E_OUTOFMEMORY;
  *out = info->face();
  return S_OK;
}

}  // namespace quarl::rpc::automation
