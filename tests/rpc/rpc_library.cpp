#include "tests/rpc/rpc_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "tests/support/test_env.h"

namespace rpctest {

std::string library_path() { return testsupport::lib_path("libquarlrpc.so").string(); }

RpcLibrary::RpcLibrary() {
  handle_ = ::dlopen(library_path().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error(std::string("cannot load libquarlrpc.so: ") + ::dlerror());
}

RpcLibrary::~RpcLibrary() {
  if (handle_) ::dlclose(handle_);
}

Export RpcLibrary::fn(const char* name) const {
  auto f = reinterpret_cast<Export>(::dlsym(handle_, name));
  if (!f) throw std::runtime_error(std::string("no export ") + name);
  return f;
}

std::string RpcLibrary::call(const char* name, std::string_view text, int length) const {
  constexpr size_t kGuard = 16;
  constexpr char kGuardByte = '\xA5';
  size_t n = length > 0 ? size_t(length) : 0;
  std::vector<char> area(n + 2 * kGuard, kGuardByte);
  std::string input = padded(text, n);
  if (n) std::memcpy(area.data() + kGuard, input.data(), n);
  fn(name)(area.data() + kGuard, static_cast<int16_t>(length));
  for (size_t i = 0; i < kGuard; ++i) {
    EXPECT_EQ(area[i], kGuardByte) << name << " wrote before its buffer";
    EXPECT_EQ(area[kGuard + n + i], kGuardByte) << name << " wrote past its buffer";
  }
  return std::string(area.data() + kGuard, n);
}

std::string RpcLibrary::error() const { return rtrim(call("GetError", "", 1024)); }

std::string padded(std::string_view text, size_t n) {
  std::string out(text.substr(0, n));
  out.resize(n, ' ');
  return out;
}

std::string rtrim(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && text[n - 1] == ' ') --n;
  return std::string(text.substr(0, n));
}

}  // namespace rpctest
