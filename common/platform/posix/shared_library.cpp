#include "common/platform/shared_library.h"

#include <dlfcn.h>

namespace quarl::platform {

SharedLibrary::~SharedLibrary() { close(); }

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

bool SharedLibrary::open(const std::string& path) {
  close();
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* e = ::dlerror();
    error_ = e ? e : "cannot load " + path;
    return false;
  }
  return true;
}

void SharedLibrary::close() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
}

void* SharedLibrary::symbol(const char* name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }

std::string SharedLibrary::path_of(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

bool SharedLibrary::is_loaded(const char* name) {
  void* handle = ::dlopen(name, RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return false;
  ::dlclose(handle);
  return true;
}

}  // namespace quarl::platform
