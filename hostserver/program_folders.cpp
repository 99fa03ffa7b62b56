#include "hostserver/program_folders.h"

#include <filesystem>
#include <system_error>

#include "common/platform/system.h"

// The installed programs folder relative to the installed server's folder
// (set by the build from the install layout).
#ifndef QUARL_PROGRAMS_FROM_BINDIR
#define QUARL_PROGRAMS_FROM_BINDIR "../libexec/quarl"
#endif

namespace hostserver {

std::string default_program_folder(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path here = fs::path(quarl::platform::executable_path()).parent_path();
  std::error_code ec;
  if (fs::is_directory(here / name, ec)) return (here / name).string();
  return (here / QUARL_PROGRAMS_FROM_BINDIR / name).lexically_normal().string();
}

}  // namespace hostserver
