#include "tests/rpc/automation_client.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/utf.h"

namespace autotest {

Bstr::Bstr(std::string_view text) {
  std::u16string units = utf16(text);
  text_ = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
}

std::string utf8(const OLECHAR* text, size_t units) {
  std::string out;
  quarl::utf16_to_utf8_replacing(text, units, out);
  return out;
}

std::string utf8(BSTR text) { return utf8(text, SysStringLen(text)); }

std::u16string utf16(std::string_view text) {
  std::u16string out(quarl::utf16_units_of(text.data(), text.size()), u'\0');
  quarl::utf8_to_utf16(text.data(), text.size(), out.data(), out.size());
  return out;
}

VARIANT text_arg(const Bstr& text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = text.get();
  return v;
}

VARIANT ref_arg(Bstr& text) {
  VARIANT v;
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = text.address();
  return v;
}

VARIANT short_arg(int16_t value) {
  VARIANT v;
  v.vt = VT_I2;
  v.iVal = value;
  return v;
}

RpcObject::RpcObject() {
  char why[1024];
  HRESULT hr = quarl_create_object(QUARL_RPC_PROGID, &IID_IDispatch, reinterpret_cast<void**>(&object_), why,
                                   sizeof why);
  EXPECT_EQ(hr, S_OK) << why;
  if (!object_) throw std::runtime_error(why);
}

RpcObject::~RpcObject() {
  if (object_) object_->lpVtbl->Release(object_);
}

HRESULT RpcObject::invoke(DISPID id, std::vector<VARIANT> args, VARIANT* result, UINT* arg_error,
                          WORD flags) const {
  std::reverse(args.begin(), args.end());
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  if (result) VariantInit(result);
  return object_->lpVtbl->Invoke(object_, id, IID_NULL, 0, flags, &params, result, nullptr, arg_error);
}

int RpcObject::short_result(DISPID id, std::vector<VARIANT> args) const {
  VARIANT result;
  HRESULT hr = invoke(id, std::move(args), &result);
  EXPECT_EQ(hr, S_OK) << "Invoke of dispatch id " << id;
  EXPECT_EQ(result.vt, VT_I2) << "result of dispatch id " << id;
  return SUCCEEDED(hr) && result.vt == VT_I2 ? result.iVal : -1;
}

int RpcObject::connect(std::string_view items) const {
  Bstr text(items);
  return short_result(QUARL_DISPID_CONNECT, {text_arg(text)});
}

int RpcObject::disconnect() const { return short_result(QUARL_DISPID_DISCONNECT, {}); }

std::string RpcObject::get_error() const {
  VARIANT result;
  HRESULT hr = invoke(QUARL_DISPID_GETERROR, {}, &result);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  if (FAILED(hr) || result.vt != VT_BSTR) return "";
  EXPECT_NE(result.bstrVal, nullptr) << "GetError gives a BSTR, empty or not";
  std::string text = utf8(result.bstrVal);
  VariantClear(&result);
  return text;
}

int RpcObject::call(std::string_view first, std::string_view second, std::string& param) const {
  Bstr a(first), b(second), p(param);
  int rc = short_result(QUARL_DISPID_CALL, {text_arg(a), text_arg(b), ref_arg(p)});
  param = utf8(p.get());
  return rc;
}

int RpcObject::cor_call(std::string_view coroutine, std::string& param) const {
  Bstr a(coroutine), p(param);
  int rc = short_result(QUARL_DISPID_CORCALL, {text_arg(a), ref_arg(p)});
  param = utf8(p.get());
  return rc;
}

void RpcObject::set_param_size(int16_t size) const {
  VARIANT result;
  EXPECT_EQ(invoke(QUARL_DISPID_SETPARAMSIZE, {short_arg(size)}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
}

}  // namespace autotest
