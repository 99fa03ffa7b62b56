// "Quarl.RPC" objects for tests, created by ProgID through quarl_object.h as
// a C client creates them, and called through IDispatch with texts in UTF-8.
// The tests link libquarlrpc.so for its BSTR and VARIANT helpers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rpc/automation/quarl_object.h"

namespace autotest {

// A BSTR owned by the test.
class Bstr {
 public:
  explicit Bstr(std::string_view utf8);
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return text_; }
  BSTR* address() { return &text_; }

 private:
  BSTR text_;
};

std::string utf8(const OLECHAR* text, size_t units);
std::string utf8(BSTR text);  // the whole BSTR
std::u16string utf16(std::string_view utf8);

VARIANT text_arg(const Bstr& text);  // VT_BSTR, still owned by text
VARIANT ref_arg(Bstr& text);         // VT_BSTR | VT_BYREF
VARIANT short_arg(int16_t value);    // VT_I2

// An object of "Quarl.RPC" (creation failing fails the test); released at
// destruction.
class RpcObject {
 public:
  RpcObject();
  ~RpcObject();
  RpcObject(const RpcObject&) = delete;
  RpcObject& operator=(const RpcObject&) = delete;

  IDispatch* get() const { return object_; }
  // Invoke with the arguments in their natural order (DISPPARAMS gets them
  // reversed).
  HRESULT invoke(DISPID id, std::vector<VARIANT> args, VARIANT* result = nullptr, UINT* arg_error = nullptr,
                 WORD flags = DISPATCH_METHOD) const;

  // The members; a failing Invoke fails the test (and gives -1 or "").
  int connect(std::string_view items) const;
  int disconnect() const;
  std::string get_error() const;
  // Call(first, second, param); param is passed by reference and holds what
  // comes back.
  int call(std::string_view first, std::string_view second, std::string& param) const;
  int cor_call(std::string_view coroutine, std::string& param) const;
  void set_param_size(int16_t size) const;

 private:
  int short_result(DISPID id, std::vector<VARIANT> args) const;
  IDispatch* object_ = nullptr;
};

}  // namespace autotest
