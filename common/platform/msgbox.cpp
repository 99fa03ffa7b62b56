#include "common/platform/msgbox.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace quarl::platform {
namespace {

class HeadlessMessageBox : public MessageBoxBackend {
 public:
  int show(void*, std::string_view text, std::string_view caption, unsigned style) override {
    std::string line = std::string(caption) + ": " + std::string(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return default_message_box_answer(style);
  }
};

HeadlessMessageBox headless;
std::atomic<MessageBoxBackend*> current{&headless};

}  // namespace

int default_message_box_answer(unsigned style) {
  static const int buttons[][3] = {{kIdOk, kIdOk, kIdOk},          {kIdOk, kIdCancel, kIdCancel},
                                   {kIdAbort, kIdRetry, kIdIgnore}, {kIdYes, kIdNo, kIdCancel},
                                   {kIdYes, kIdNo, kIdNo},          {kIdRetry, kIdCancel, kIdCancel}};
  unsigned kind = style & 0xF;
  if (kind > 5) kind = 0;
  unsigned def = (style >> 8) & 0xF;
  if (def > 2) def = 0;
  return buttons[kind][def];
}

int message_box(void* owner, std::string_view text, std::string_view caption, unsigned style) {
  return current.load()->show(owner, text, caption.empty() ? "Error" : caption, style);
}

MessageBoxBackend* set_message_box_backend(MessageBoxBackend* backend) {
  MessageBoxBackend* old = current.exchange(backend ? backend : &headless);
  return old == &headless ? nullptr : old;
}

}  // namespace quarl::platform
