// Message boxes.  On a desktop the box is shown there (desktop.h); headless,
// caption and text go to standard error and no box is shown (the result is
// 0, as when Win32 cannot create one).  Tests can put a backend of their own.
#pragma once

#include <string_view>

namespace quarl::platform {

// Win32 style bits and answers, as the libraries pass and expect them.
enum : unsigned {
  // Buttons (the low four bits).
  kMbOk = 0x0, kMbOkCancel = 0x1, kMbAbortRetryIgnore = 0x2, kMbYesNoCancel = 0x3, kMbYesNo = 0x4,
  kMbRetryCancel = 0x5, kMbTypeMask = 0xF,
  // Icons.
  kMbIconError = 0x10, kMbIconQuestion = 0x20, kMbIconExclamation = 0x30, kMbIconInformation = 0x40,
  kMbIconMask = 0xF0,
  // The default button, counted from 0.
  kMbDefButton1 = 0x0, kMbDefButton2 = 0x100, kMbDefButton3 = 0x200, kMbDefButton4 = 0x300, kMbDefMask = 0xF00,
  // Modality: every box is modal to its owner; system-modal boxes also stay on top.
  kMbApplModal = 0x0, kMbSystemModal = 0x1000, kMbTaskModal = 0x2000,
  kMbSetForeground = 0x10000, kMbTopmost = 0x40000, kMbRight = 0x80000, kMbRtlReading = 0x100000,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7 };

class MessageBoxBackend {
 public:
  virtual ~MessageBoxBackend() = default;
  virtual int show(void* owner, std::string_view text, std::string_view caption, unsigned style) = 0;
};

// Shows a message box owned by owner (one of our dialogs, or null); the
// button pressed, or 0 when no box could be shown.  An empty caption means
// the default caption "Error".
int message_box(void* owner, std::string_view text, std::string_view caption, unsigned style);

// Puts a backend in front of the desktop (null removes it); returns the old one.
MessageBoxBackend* set_message_box_backend(MessageBoxBackend* backend);

}  // namespace quarl::platform
