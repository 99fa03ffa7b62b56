// RpcSession: the state behind the buffer exports.  One is constructed when
// the library is loaded and shared by every export and thread (callers must
// not overlap calls); each area of operations is its own class, held here.
#pragma once

#include "rpc/buffer.h"
#include "rpc/clipboard.h"
#include "rpc/desktop_calls.h"
#include "rpc/error_text.h"
#include "rpc/files_and_time.h"
#include "rpc/host_calls.h"
#include "rpc/odbc_calls.h"
#include "rpc/record_files.h"
#include "rpc/settings_files.h"
#include "rpc/shared_variables.h"
#include "rpc/replacement_chars.h"
#include "rpc/tcp_calls.h"

namespace quarl::rpc {

inline constexpr const char* kVersionText = "5.000.005";

class RpcSession {
 public:
  RpcSession() = default;
  RpcSession(const RpcSession&) = delete;
  RpcSession& operator=(const RpcSession&) = delete;

  // The frame's own operations.
  Status get_error(Buffer buffer);
  Status get_version(Buffer buffer);

  // The message of the last failure; first, as the others report into it.
  ErrorText error;

  // Each area of operations, constructed with the error text it reports into.
  TcpCalls tcp_calls{error};
  RecordFiles record_files{error};
  SharedVariables shared_variables{error};
  FilesAndTime files_and_time{error};
  HostCalls host_calls{error};
  SpecialChars special_chars{error};
  OdbcCalls odbc_calls{error, special_chars};  // after special_chars: it reads the separator there
  Clipboard clipboard{error, special_chars};    // after special_chars too
  DesktopCalls desktop_calls{error};
  SettingsFiles settings_files{error};
};

}  // namespace quarl::rpc
