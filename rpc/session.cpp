#include "rpc/session.h"

namespace quarl::rpc {

Status RpcSession::get_error(Buffer buffer) {
  buffer.put(error.text());  // the text stays for the next GetError
  return kOk;
}

Status RpcSession::get_version(Buffer buffer) {
  buffer.put(kVersionText);
  return kOk;
}

}  // namespace quarl::rpc
