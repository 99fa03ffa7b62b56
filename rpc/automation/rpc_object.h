// The class RPC behind "Quarl.RPC": an IDispatch object that offers the host
// procedure calls to late-bound callers.  Each object is a caller of its own,
// with its own RpcSession (host conversation, names, error text), apart from
// the exports' session and from every other object.
#pragma once

#include "rpc/automation/quarl_automation.h"

namespace quarl::rpc::automation {

inline constexpr int16_t kDefaultParamSize = 9999;

// Creates an object and asks it for riid (IUnknown, IDispatch or IRPC).
HRESULT create_rpc_object(REFIID riid, void** object) noexcept;

}  // namespace quarl::rpc::automation
