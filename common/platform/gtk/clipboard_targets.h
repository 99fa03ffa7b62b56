// The text targets that clipboard text is offered and asked for under, in
// the order a reader prefers them.
#pragma once

namespace quarl::platform::gtk {

inline constexpr const char* kTextTargets[] = {"UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT"};
enum TextTarget : unsigned { kUtf8String, kTextPlainUtf8, kString, kText, kTextTargetCount };

}  // namespace quarl::platform::gtk
