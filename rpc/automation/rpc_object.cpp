#include "rpc/automation/rpc_object.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "rpc/automation/arguments.h"
#include "rpc/automation/bstr.h"
#include "rpc/automation/com_object.h"
#include "rpc/automation/type_info.h"
#include "rpc/automation/type_library.h"
#include "rpc/frame.h"
#include "rpc/session.h"

namespace quarl::rpc::automation {
namespace {

// Runs a session operation with text as its buffer.
Status run_with_text(RpcSession& session, std::string text, Operation operation) {
  return run_operation(session, Buffer(text.data(), text.size()), operation);
}

// The longest start of text that fits size bytes without splitting a
// character.
std::string_view whole_characters(std::string_view text, size_t size) {
  if (text.size() <= size) return text;
  size_t n = size;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

class RpcObject : public ComObject<RpcObject, IDispatch> {
 public:
  RpcObject() : ComObject(&kTable), area_(static_cast<size_t>(kDefaultParamSize), ' ') {}
  ~RpcObject() {
    // The conversation ends with the object that holds it: its provider
    // connection is dropped (without a logout message, as Disconnect does)
    // rather than left open for the rest of the process.
    if (session_.host_calls.conversation().is_open())
      run_with_text(session_, "", [](RpcSession& s, Buffer b) { return s.host_calls.disconnect(b); });
  }

  static bool offers(REFIID riid) {
    return same_guid(riid, IID_IUnknown) || same_guid(riid, IID_IDispatch) || same_guid(riid, DIID_IRPC);
  }

  static HRESULT STDMETHODCALLTYPE GetTypeInfoCount(IDispatch*, UINT* count) {
    if (!count) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }

  static HRESULT STDMETHODCALLTYPE GetTypeInfo(IDispatch*, UINT index, LCID, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return create_type_info(rpc_type_library(), out);
  }

  static HRESULT STDMETHODCALLTYPE GetIDsOfNames(IDispatch*, REFIID riid, LPOLESTR* names, UINT count, LCID,
                                                 DISPID* ids) {
    if (!same_guid(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return ids_of_names(rpc_type_library(), names, count, ids);
  }

  static HRESULT STDMETHODCALLTYPE Invoke(IDispatch* self, DISPID id, REFIID riid, LCID, WORD flags,
                                          DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT* arg_error) {
    try {
      return of(self)->invoke(id, riid, flags, params, result, arg_error);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

 private:
  static const IDispatchVtbl kTable;

  HRESULT invoke(DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result, UINT* arg_error);
  // A call of the host with param as the parameter area; on success param
  // gets the returned area less its trailing blanks.
  Status call_with_area(const Argument& param, Operation operation, HRESULT& hr);

  std::vector<char> area_;  // the parameter area, as long as the parameter size
  RpcSession session_;
};

const IDispatchVtbl RpcObject::kTable = {
    &RpcObject::QueryInterface, &RpcObject::AddRef,        &RpcObject::Release, &RpcObject::GetTypeInfoCount,
    &RpcObject::GetTypeInfo,    &RpcObject::GetIDsOfNames, &RpcObject::Invoke,
};

Status RpcObject::call_with_area(const Argument& param, Operation operation, HRESULT& hr) {
  const size_t size = area_.size();
  std::fill(area_.begin(), area_.end(), ' ');
  std::string_view text = whole_characters(param.text, size);
  std::copy(text.begin(), text.end(), area_.begin());
  Status status = run_operation(session_, Buffer(area_.data(), size), operation);
  // A failure leaves the caller's text as it was.
  if (status == kOk && !param.give_back(trim_trailing_blanks(std::string_view(area_.data(), size))))
    hr = E_OUTOFMEMORY;
  return status;
}

HRESULT RpcObject::invoke(DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                          UINT* arg_error) {
  if (!same_guid(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const MemberDescription* member = rpc_type_library().member(id);
  // All members are methods; a property get of one (how some scripting
  // hosts call a method without parentheses) runs it too.
  if (!member || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  std::vector<Argument> args;
  HRESULT hr = bind_arguments(*member, params, args, arg_error);
  if (FAILED(hr)) return hr;

  hr = S_OK;
  Status status = kOk;
  std::string text;  // GetError's result
  switch (id) {
    case QUARL_DISPID_CONNECT:
      status = run_with_text(session_, args[0].text, [](RpcSession& s, Buffer b) { return s.host_calls.connect(b); });
      break;
    case QUARL_DISPID_DISCONNECT:
      status = run_with_text(session_, "", [](RpcSession& s, Buffer b) { return s.host_calls.disconnect(b); });
      break;
    case QUARL_DISPID_GETERROR:
      text = session_.error.text();
      break;
    case QUARL_DISPID_CALL:
      // The first argument is the entry point, the second the library.
      run_with_text(session_, args[0].text, [](RpcSession& s, Buffer b) { return s.host_calls.entry_point(b); });
      run_with_text(session_, args[1].text, [](RpcSession& s, Buffer b) { return s.host_calls.library_name(b); });
      status = call_with_area(args[2], [](RpcSession& s, Buffer b) { return s.host_calls.exe_call(b); }, hr);
      break;
    case QUARL_DISPID_CORCALL:
      run_with_text(session_, args[0].text,
                    [](RpcSession& s, Buffer b) { return s.host_calls.co_routine_name(b); });
      status = call_with_area(args[1], [](RpcSession& s, Buffer b) { return s.host_calls.cor_call(b); }, hr);
      break;
    case QUARL_DISPID_SETPARAMSIZE:
      if (args[0].number < 0) {
        session_.error.fail("Invalid parameter size " + std::to_string(args[0].number));
        if (arg_error) *arg_error = 0;
        return E_INVALIDARG;
      }
      area_.assign(static_cast<size_t>(args[0].number), ' ');
      break;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
  if (FAILED(hr)) return hr;
  if (!result) return S_OK;

  variant_init(result);
  if (member->result == VT_I2) {
    result->vt = VT_I2;
    result->iVal = status == kOk ? 0 : 1;
  } else if (member->result == VT_BSTR) {
    BSTR copy = bstr_from_utf8(text);
    if (!copy) return E_OUTOFMEMORY;
    result->vt = VT_BSTR;
    result->bstrVal = copy;
  }
  return S_OK;
}

}  // namespace

HRESULT create_rpc_object(REFIID riid, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  RpcObject* created = nullptr;
  try {
    created = new RpcObject();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = RpcObject::QueryInterface(created->face(), riid, object);
  RpcObject::Release(created->face());  // the object lives on through *object, or goes now
  return hr;
}

}  // namespace quarl::rpc::automation
