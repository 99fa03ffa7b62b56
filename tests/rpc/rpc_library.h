// libquarlrpc.so loaded with dlopen, as a client program loads it, and its
// buffer exports called through guarded buffers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rpctest {

using Export = void (*)(char* buffer, int16_t length);

class RpcLibrary {
 public:
  RpcLibrary();
  ~RpcLibrary();
  RpcLibrary(const RpcLibrary&) = delete;
  RpcLibrary& operator=(const RpcLibrary&) = delete;

  void* handle() const { return handle_; }
  Export fn(const char* name) const;

  // Calls the export with text in a buffer of length bytes (the rest blank,
  // or text cut to length) and returns the buffer's bytes afterwards.  Guard
  // bytes around the buffer must come back unchanged (a test failure
  // otherwise).
  std::string call(const char* name, std::string_view text, int length) const;
  // The same with a buffer of exactly the text's size.
  std::string call(const char* name, std::string_view text) const { return call(name, text, int(text.size())); }
  // GetError less trailing blanks.
  std::string error() const;

 private:
  void* handle_ = nullptr;
};

std::string library_path();
// text blank padded (or cut) to n bytes.
std::string padded(std::string_view text, size_t n);
std::string rtrim(std::string_view text);

}  // namespace rpctest
