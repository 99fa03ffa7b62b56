#include "common/platform/msgbox.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "common/platform/desktop.h"

namespace quarl::platform {
namespace {

std::atomic<MessageBoxBackend*> installed{nullptr};

int headless(std::string_view text, std::string_view caption) {
  std::string line = std::string(caption) + ": " + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return 0;
}

}  // namespace

int message_box(void* owner, std::string_view text, std::string_view caption, unsigned style) {
  if (caption.empty()) caption = "Error";
  if (MessageBoxBackend* backend = installed.load()) return backend->show(owner, text, caption, style);
  if (Desktop* screen = desktop()) {
    int answer = screen->message_box(find_dialog(owner), text, caption, style);
    if (answer != 0) return answer;
  }
  return headless(text, caption);
}

MessageBoxBackend* set_message_box_backend(MessageBoxBackend* backend) { return installed.exchange(backend); }

}  // namespace quarl::platform
