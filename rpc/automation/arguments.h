// The arguments of one Invoke, matched to the member's parameters and
// converted as its description says: positional arguments (the last one
// first in DISPPARAMS) and named ones, strings and shorts, by value and by
// reference.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rpc/automation/quarl_automation.h"
#include "rpc/automation/type_library.h"

namespace quarl::rpc::automation {

class Argument {
 public:
  std::string text;    // a string parameter's text (UTF-8)
  int16_t number = 0;  // a short parameter's value

  // Replaces what the caller passed by reference with text (nothing happens
  // for an argument passed by value).  False when out of memory; the
  // caller's value is then unchanged.
  bool give_back(std::string_view text) const;

 private:
  friend HRESULT bind_arguments(const MemberDescription&, const DISPPARAMS*, std::vector<Argument>&, UINT*);
  BSTR* bstr_target_ = nullptr;        // VT_BSTR | VT_BYREF
  VARIANT* variant_target_ = nullptr;  // VT_VARIANT | VT_BYREF holding no BSTR reference
};

// Fills args, one per parameter of member.  On failure *arg_error (when
// given) is the index in params->rgvarg of the argument at fault, where
// there is one: DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL,
// DISP_E_PARAMNOTFOUND (a named argument the member does not have),
// DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, E_INVALIDARG (a malformed
// DISPPARAMS).
HRESULT bind_arguments(const MemberDescription& member, const DISPPARAMS* params, std::vector<Argument>& args,
                       UINT* arg_error);

}  // namespace quarl::rpc::automation
