// Automation strings (BSTR) and variants: allocation with their standard
// meaning, and the conversions between BSTRs and the library's text, which
// is UTF-8 (the host's character set).
#pragma once

#include <string>
#include <string_view>

#include "rpc/automation/quarl_automation.h"

namespace quarl::rpc::automation {

// The exported helpers' behaviour (see quarl_automation.h).
BSTR sys_alloc_string(const OLECHAR* text) noexcept;
BSTR sys_alloc_string_len(const OLECHAR* text, UINT units) noexcept;
void sys_free_string(BSTR text) noexcept;
UINT sys_string_len(BSTR text) noexcept;
void variant_init(VARIANTARG* var) noexcept;
HRESULT variant_clear(VARIANTARG* var) noexcept;

// A new BSTR holding text (UTF-8; a malformed sequence becomes U+FFFD);
// null when out of memory.
BSTR bstr_from_utf8(std::string_view text);
// The UTF-8 form of a BSTR (null is empty); an unpaired surrogate becomes
// U+FFFD.
std::string utf8_from_bstr(BSTR text);
// The same for a zero-ended text.
std::string utf8_from_olestr(const OLECHAR* text);

}  // namespace quarl::rpc::automation
