#include "rpc/automation/arguments.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "rpc/automation/bstr.h"

namespace quarl::rpc::automation {
namespace {

// A variant's value after following references: its type and where it lies.
struct Value {
  VARTYPE type;
  const void* data;
};

std::optional<Value> value_of(const VARIANT& v, bool inside_variant = false) {
  if (v.vt & VT_ARRAY) return std::nullopt;
  if (!(v.vt & VT_BYREF)) return Value{v.vt, &v.llVal};
  const VARTYPE base = v.vt & ~VT_BYREF;
  if (!v.byref) return std::nullopt;
  if (base == VT_VARIANT) {
    if (inside_variant) return std::nullopt;  // one level of indirection, as scripting hosts pass them
    return value_of(*v.pvarVal, true);
  }
  return Value{base, v.byref};
}

template <typename T>
T read(const void* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

// The integer a numeric or text argument stands for.
HRESULT integer_of(const Value& v, int64_t& out) {
  switch (v.type) {
    case VT_EMPTY: out = 0; return S_OK;
    case VT_I1: out = read<int8_t>(v.data); return S_OK;
    case VT_UI1: out = read<uint8_t>(v.data); return S_OK;
    case VT_I2: out = read<int16_t>(v.data); return S_OK;
    case VT_UI2: out = read<uint16_t>(v.data); return S_OK;
    case VT_I4:
    case VT_INT: out = read<int32_t>(v.data); return S_OK;
    case VT_UI4:
    case VT_UINT: out = read<uint32_t>(v.data); return S_OK;
    case VT_I8: out = read<int64_t>(v.data); return S_OK;
    case VT_UI8: {
      uint64_t u = read<uint64_t>(v.data);
      if (u > static_cast<uint64_t>(INT64_MAX)) return DISP_E_OVERFLOW;
      out = static_cast<int64_t>(u);
      return S_OK;
    }
    case VT_BOOL: out = read<VARIANT_BOOL>(v.data) ? -1 : 0; return S_OK;
    case VT_R4:
    case VT_R8: {
      double d = v.type == VT_R4 ? read<float>(v.data) : read<double>(v.data);
      if (!std::isfinite(d) || d != std::trunc(d)) return DISP_E_TYPEMISMATCH;  // no silent rounding
      if (std::fabs(d) > 9.0e18) return DISP_E_OVERFLOW;
      out = static_cast<int64_t>(d);
      return S_OK;
    }
    case VT_BSTR: {
      // Decimal digits with an optional sign, blanks around them allowed.
      std::string text = utf8_from_bstr(read<BSTR>(v.data));
      size_t first = text.find_first_not_of(' '), last = text.find_last_not_of(' ');
      if (first == std::string::npos) return DISP_E_TYPEMISMATCH;
      const char* begin = text.data() + first;
      const char* end = text.data() + last + 1;
      if (*begin == '+') ++begin;
      auto [at, ec] = std::from_chars(begin, end, out);
      if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
      if (ec != std::errc() || at != end) return DISP_E_TYPEMISMATCH;
      return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

// The text of a string argument: a BSTR, nothing (empty), or an integer
// in decimal.
HRESULT text_of(const Value& v, std::string& out) {
  switch (v.type) {
    case VT_EMPTY: out.clear(); return S_OK;
    case VT_BSTR: out = utf8_from_bstr(read<BSTR>(v.data)); return S_OK;
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_INT:
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: {
      int64_t n = 0;
      if (v.type == VT_UI8) {
        out = std::to_string(read<uint64_t>(v.data));
        return S_OK;
      }
      HRESULT hr = integer_of(v, n);
      if (FAILED(hr)) return hr;
      out = std::to_string(n);
      return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

bool Argument::give_back(std::string_view value) const {
  if (!bstr_target_ && !variant_target_) return true;
  BSTR copy = bstr_from_utf8(value);
  if (!copy) return false;
  if (bstr_target_) {
    sys_free_string(*bstr_target_);
    *bstr_target_ = copy;
  } else {
    variant_clear(variant_target_);
    variant_target_->vt = VT_BSTR;
    variant_target_->bstrVal = copy;
  }
  return true;
}

HRESULT bind_arguments(const MemberDescription& member, const DISPPARAMS* params, std::vector<Argument>& args,
                       UINT* arg_error) {
  const UINT count = params ? params->cArgs : 0;
  const UINT named = params ? params->cNamedArgs : 0;
  if (named > count || (count > 0 && !params->rgvarg) || (named > 0 && !params->rgdispidNamedArgs))
    return E_INVALIDARG;
  const size_t wanted = member.params.size();
  const UINT positional = count - named;
  if (positional > wanted) return DISP_E_BADPARAMCOUNT;

  // Where each parameter's argument is in rgvarg: named arguments come
  // first there, then the positional ones, the last one first.
  constexpr UINT kMissing = ~0u;
  std::vector<UINT> source(wanted, kMissing);
  for (UINT i = 0; i < positional; ++i) source[i] = count - 1 - i;
  for (UINT j = 0; j < named; ++j) {
    const DISPID id = params->rgdispidNamedArgs[j];
    if (id < 0 || static_cast<size_t>(id) >= wanted || source[static_cast<size_t>(id)] != kMissing) {
      if (arg_error) *arg_error = j;
      return DISP_E_PARAMNOTFOUND;
    }
    source[static_cast<size_t>(id)] = j;
  }

  args.assign(wanted, Argument{});
  for (size_t i = 0; i < wanted; ++i) {
    if (source[i] == kMissing) return DISP_E_PARAMNOTOPTIONAL;  // every parameter is required
    const VARIANT& v = params->rgvarg[source[i]];
    const ParamDescription& param = member.params[i];
    Argument& arg = args[i];
    HRESULT hr = DISP_E_TYPEMISMATCH;
    if (auto value = value_of(v)) {
      if (param.type == VT_I2) {
        int64_t n = 0;
        hr = integer_of(*value, n);
        if (SUCCEEDED(hr) && (n < INT16_MIN || n > INT16_MAX)) hr = DISP_E_OVERFLOW;
        arg.number = static_cast<int16_t>(n);
      } else {
        hr = text_of(*value, arg.text);
      }
    }
    if (FAILED(hr)) {
      if (arg_error) *arg_error = source[i];
      return hr;
    }
    if (param.by_ref) {
      // Passed by value, the argument simply does not come back.
      if (v.vt == (VT_BSTR | VT_BYREF)) {
        arg.bstr_target_ = v.pbstrVal;
      } else if (v.vt == (VT_VARIANT | VT_BYREF)) {
        VARIANT* inner = v.pvarVal;
        if (inner->vt == (VT_BSTR | VT_BYREF)) arg.bstr_target_ = inner->pbstrVal;
        else if (!(inner->vt & VT_BYREF)) arg.variant_target_ = inner;
      }
    }
  }
  return S_OK;
}

}  // namespace quarl::rpc::automation
