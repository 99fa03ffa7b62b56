// quarl-regsvr: registers an automation server library in the class registry
// of the profile folder by calling its DllRegisterServer.
//
//   quarl-regsvr            registers libquarlrpc.so ("Quarl.RPC")
//   quarl-regsvr LIBRARY    registers the library at that path
//
// Exit status 0 on success, 1 when registration fails, 2 for a usage error.
#include <cstdio>
#include <string>

#include "common/platform/shared_library.h"
#include "common/platform/system.h"
#include "rpc/automation/quarl_automation.h"
#include "rpc/automation/server.h"

namespace {

using RegisterServer = HRESULT(STDAPICALLTYPE*)();

std::string why(HRESULT hr, const std::string& registry) {
  switch (hr) {
    case SELFREG_E_TYPELIB: return "the type library cannot be recorded in " + registry;
    case SELFREG_E_CLASS: return "the class cannot be recorded in " + registry;
    default: {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
      return std::string("DllRegisterServer failed with ") + code;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && (argv[1][0] == '-' || argv[1][0] == '\0'))) {
    std::fprintf(stderr, "usage: quarl-regsvr [LIBRARY]\n");
    return 2;
  }
  const std::string registry = quarl::platform::resolve_profile_file(quarl::rpc::automation::kClassRegistry).string();
  RegisterServer register_server = &DllRegisterServer;  // the library this program is linked with
  quarl::platform::SharedLibrary library;
  std::string name = "libquarlrpc.so";
  if (argc == 2) {
    name = argv[1];
    if (!library.open(name)) {
      std::fprintf(stderr, "quarl-regsvr: cannot load %s: %s\n", name.c_str(), library.error().c_str());
      return 1;
    }
    register_server = reinterpret_cast<RegisterServer>(library.symbol("DllRegisterServer"));
    if (!register_server) {
      std::fprintf(stderr, "quarl-regsvr: %s has no DllRegisterServer\n", name.c_str());
      return 1;
    }
  }
  HRESULT hr = register_server();
  if (FAILED(hr)) {
    std::fprintf(stderr, "quarl-regsvr: %s: %s\n", name.c_str(), why(hr, registry).c_str());
    return 1;
  }
  std::printf("registered %s in %s\n", name.c_str(), registry.c_str());
  return 0;
}
