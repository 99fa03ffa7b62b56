// A client program of libquarlrpc.so for tests that need fresh or several
// processes.  It loads the library with dlopen, as clients do, and runs steps:
//   EXPORT:LENGTH:TEXT        one call; prints the buffer as [bytes]
//   EXPORT*COUNT:LENGTH:TEXT  COUNT calls ("%d" in TEXT becomes 0, 1, ...);
//                             stops at the first failure marker; prints the
//                             last buffer
//   !COMMAND                  runs the shell command between calls; prints
//                             its output as [output]
// Options before the steps:
//   --library PATH            the library (default: the build's)
//   --report-unload           after the steps, unload the library and print
//                             "still loaded" or "unloaded"
//   --keep-going              a failed step does not stop the others; its
//                             message follows its buffer as "error: TEXT"
//   --hold-lock NAME          no library: take the shared-variable lock of the
//                             block NAME, print "locked" and wait to be killed
// Exit status 0, or 1 when a step failed (its error text on standard error).
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/platform/shared_memory.h"
#include "tests/support/test_env.h"

namespace {

using Export = void (*)(char*, int16_t);

std::string substitute(std::string text, int index) {
  for (size_t at; (at = text.find("%d")) != std::string::npos;) text.replace(at, 2, std::to_string(index));
  return text;
}

int hold_lock(const std::string& name) {
  quarl::platform::SharedMemory memory;
  if (memory.open(name, "", 3200) != quarl::platform::SharedMemory::Open::Ok) return 2;
  if (memory.lock() == quarl::platform::SharedMemory::Lock::Failed) return 3;
  std::printf("locked\n");
  std::fflush(stdout);
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  std::string library = testsupport::lib_path("libquarlrpc.so").string();
  bool report_unload = false;
  bool keep_going = false;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string option = argv[i];
    if (option == "--library" && i + 1 < argc) library = argv[++i];
    else if (option == "--report-unload") report_unload = true;
    else if (option == "--keep-going") keep_going = true;
    else if (option == "--hold-lock" && i + 1 < argc) return hold_lock(argv[++i]);
    else {
      std::fprintf(stderr, "unknown option %s\n", option.c_str());
      return 2;
    }
  }

  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "%s\n", ::dlerror());
    return 2;
  }
  auto get_error = reinterpret_cast<Export>(::dlsym(handle, "GetError"));
  int status = 0;
  for (; i < argc && (status == 0 || keep_going); ++i) {
    std::string step = argv[i];
    if (step.rfind('!', 0) == 0) {
      std::fflush(stdout);
      auto result = testsupport::run_command(step.substr(1));
      std::printf("[%s]\n", result.output.c_str());
      continue;
    }
    size_t c1 = step.find(':'), c2 = step.find(':', c1 + 1);
    if (c1 == std::string::npos || c2 == std::string::npos) return 2;
    std::string name = step.substr(0, c1);
    int count = 1;
    if (size_t star = name.find('*'); star != std::string::npos) {
      count = std::stoi(name.substr(star + 1));
      name.resize(star);
    }
    int length = std::stoi(step.substr(c1 + 1, c2 - c1 - 1));
    std::string text = step.substr(c2 + 1);
    auto fn = reinterpret_cast<Export>(::dlsym(handle, name.c_str()));
    if (!fn) {
      std::fprintf(stderr, "no export %s\n", name.c_str());
      return 2;
    }
    std::vector<char> buffer(length > 0 ? size_t(length) : 0);
    std::string message;
    for (int n = 0; n < count; ++n) {
      std::string input = substitute(text, n);
      std::fill(buffer.begin(), buffer.end(), ' ');
      if (!buffer.empty()) std::memcpy(buffer.data(), input.data(), std::min(input.size(), buffer.size()));
      fn(buffer.data(), static_cast<int16_t>(length));
      if (buffer.size() >= 5 && std::memcmp(buffer.data(), "*****", 5) == 0) {
        char error[512];
        get_error(error, sizeof error);
        int n = int(sizeof error);
        while (n > 0 && error[n - 1] == ' ') --n;
        message = name + ": " + std::string(error, size_t(n));
        std::fprintf(stderr, "%s\n", message.c_str());
        status = 1;
        break;
      }
    }
    std::printf("[%.*s]\n", int(buffer.size()), buffer.data());
    if (keep_going && !message.empty()) std::printf("error: %s\n", message.c_str());
  }
  if (report_unload) {
    ::dlclose(handle);
    void* again = ::dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    std::printf("%s\n", again ? "still loaded" : "unloaded");
  }
  return status;
}
