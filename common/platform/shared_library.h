// Loading shared libraries at run time by path.
#pragma once

#include <string>

namespace quarl::platform {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  SharedLibrary(SharedLibrary&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;

  // Loads the library; false with error() set when it cannot be loaded.
  bool open(const std::string& path);
  void close();
  bool loaded() const { return handle_ != nullptr; }
  void* symbol(const char* name) const;
  const std::string& error() const { return error_; }
  // Keeps the library loaded until the process ends, whatever happens to this object.
  void keep_forever() { handle_ = nullptr; }

  // The path of the loaded object that contains address (empty when unknown).
  static std::string path_of(const void* address);
  // Whether a library of that name is loaded in the process already.
  static bool is_loaded(const char* name);

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace quarl::platform
