#include "rpc/automation/bstr.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/utf.h"

namespace quarl::rpc::automation {
namespace {

// A BSTR's block: the 32-bit byte length, the units, a zero unit.
constexpr size_t kPrefix = sizeof(uint32_t);
// The most units whose byte length fits the 32-bit prefix.
constexpr UINT kMaxUnits = (std::numeric_limits<uint32_t>::max() - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR);

char* block_of(BSTR text) { return reinterpret_cast<char*>(text) - kPrefix; }

}  // namespace

BSTR sys_alloc_string(const OLECHAR* text) noexcept {
  if (!text) return nullptr;
  size_t units = std::char_traits<char16_t>::length(text);
  if (units > kMaxUnits) return nullptr;
  return sys_alloc_string_len(text, static_cast<UINT>(units));
}

BSTR sys_alloc_string_len(const OLECHAR* text, UINT units) noexcept {
  if (units > kMaxUnits) return nullptr;
  const uint32_t bytes = units * static_cast<uint32_t>(sizeof(OLECHAR));
  char* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, kPrefix);
  if (text) std::memcpy(block + kPrefix, text, bytes);
  else std::memset(block + kPrefix, 0, bytes);
  std::memset(block + kPrefix + bytes, 0, sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(block + kPrefix);
}

void sys_free_string(BSTR text) noexcept {
  if (text) std::free(block_of(text));
}

UINT sys_string_len(BSTR text) noexcept {
  if (!text) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, block_of(text), kPrefix);
  return bytes / sizeof(OLECHAR);
}

void variant_init(VARIANTARG* var) noexcept {
  if (var) var->vt = VT_EMPTY;
}

HRESULT variant_clear(VARIANTARG* var) noexcept {
  if (!var) return E_INVALIDARG;
  // The caller owns what a reference points to: only values are freed.
  const bool by_ref = (var->vt & VT_BYREF) != 0;
  switch (var->vt & ~VT_BYREF) {
    case VT_BSTR:
      if (!by_ref) sys_free_string(var->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (!by_ref && var->punkVal) var->punkVal->lpVtbl->Release(var->punkVal);
      break;
    case VT_VARIANT:
      if (!by_ref) return DISP_E_BADVARTYPE;
      break;
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      break;
    default:
      // Arrays, records and unknown tags: nothing is freed that this library
      // cannot free correctly.
      return DISP_E_BADVARTYPE;
  }
  var->vt = VT_EMPTY;
  return S_OK;
}

BSTR bstr_from_utf8(std::string_view text) {
  const size_t units = utf16_units_of(text.data(), text.size());
  if (units > kMaxUnits) return nullptr;
  BSTR out = sys_alloc_string_len(nullptr, static_cast<UINT>(units));
  if (out) utf8_to_utf16(text.data(), text.size(), out, units);
  return out;
}

std::string utf8_from_bstr(BSTR text) {
  std::string out;
  utf16_to_utf8_replacing(text, sys_string_len(text), out);
  return out;
}

std::string utf8_from_olestr(const OLECHAR* text) {
  std::string out;
  if (text) utf16_to_utf8_replacing(text, std::char_traits<char16_t>::length(text), out);
  return out;
}

}  // namespace quarl::rpc::automation
