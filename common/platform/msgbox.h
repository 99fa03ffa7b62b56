// Message boxes.  The headless default writes caption and text to standard
// error and answers with the default button; desktop backends can take over.
#pragma once

#include <string_view>

namespace quarl::platform {

// Win32 style bits and answers, as the libraries pass and expect them.
enum : unsigned {
  kMbOk = 0x0, kMbOkCancel = 0x1, kMbAbortRetryIgnore = 0x2, kMbYesNoCancel = 0x3, kMbYesNo = 0x4,
  kMbRetryCancel = 0x5, kMbIconError = 0x10, kMbIconQuestion = 0x20, kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40, kMbDefButton2 = 0x100, kMbDefButton3 = 0x200
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7 };

class MessageBoxBackend {
 public:
  virtual ~MessageBoxBackend() = default;
  virtual int show(void* owner, std::string_view text, std::string_view caption, unsigned style) = 0;
};

// Shows a message box through the current backend.  An empty caption means
// the default caption "Error".
int message_box(void* owner, std::string_view text, std::string_view caption, unsigned style);

// Replaces the backend (null restores the headless default); returns the old one.
MessageBoxBackend* set_message_box_backend(MessageBoxBackend* backend);

// The button a headless box answers with: the default button of the style.
int default_message_box_answer(unsigned style);

}  // namespace quarl::platform
