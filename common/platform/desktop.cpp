#include "common/platform/desktop.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

#include "common/platform/shared_library.h"
#include "common/platform/system.h"

namespace quarl::platform {
namespace {

void note(const std::string& text) {
  std::string line = "Quarl desktop: " + text + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

// Where the desktop library may lie, relative to the module that holds this
// code (so that a build tree and an installation in any prefix both work):
//   beside it                 the build tree, where every library is in lib/
//   quarl/ beside it          installed: libquarlrpc.so in LIBDIR, the
//                             desktop library in Quarl's own LIBDIR/quarl
//   quarl/ beside its folder  installed: the drivers in LIBDIR/odbc
//   lib/ beside its folder    a program in the build tree's bin/
// else on the loader's search path.
std::vector<std::string> candidates() {
  std::vector<std::string> paths;
  std::string self = SharedLibrary::path_of(reinterpret_cast<const void*>(&candidates));
  if (!self.empty()) {
    std::filesystem::path dir = std::filesystem::path(self).parent_path();
    paths.push_back((dir / kDesktopLibrary).string());
    paths.push_back((dir / kDesktopFolder / kDesktopLibrary).string());
    paths.push_back((dir.parent_path() / kDesktopFolder / kDesktopLibrary).string());
    paths.push_back((dir.parent_path() / "lib" / kDesktopLibrary).string());
  }
  paths.emplace_back(kDesktopLibrary);
  return paths;
}

Desktop* load() {
  if (!has_display()) return nullptr;
  // Another major version of the toolkit in the process cannot live beside ours.
  for (const char* other : {"libgtk-4.so.1", "libgtk-x11-2.0.so.0"}) {
    if (SharedLibrary::is_loaded(other)) {
      note(std::string("the process uses ") + other + "; dialogs, message boxes and the clipboard stay headless");
      return nullptr;
    }
  }
  SharedLibrary library;
  std::string errors;
  for (const std::string& path : candidates()) {
    if (library.open(path)) break;
    errors += "\n  " + library.error();
  }
  if (!library.loaded()) {
    note("cannot load " + std::string(kDesktopLibrary) + "; working headless" + errors);
    return nullptr;
  }
  auto open = reinterpret_cast<Desktop* (*)(int)>(library.symbol(kDesktopEntryPoint));
  Desktop* desktop = open ? open(kDesktopInterfaceVersion) : nullptr;
  // The toolkit cannot be unloaded once started; dialogs may be open anyway.
  library.keep_forever();
  if (!desktop) note("the display cannot be used; working headless");
  return desktop;
}

}  // namespace

bool has_display() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
    if (auto value = environment(name); value && !value->empty()) return true;
  return false;
}

Desktop* desktop() {
  static std::once_flag once;
  static Desktop* loaded = nullptr;
  std::call_once(once, [] { loaded = load(); });
  return loaded;
}

}  // namespace quarl::platform
