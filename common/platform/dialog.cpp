#include "common/platform/dialog.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "common/platform/desktop.h"
#include "common/platform/dialog_script.h"
#include "common/platform/private_file.h"
#include "common/platform/system.h"

namespace quarl::platform {
namespace {

std::mutex registry_mutex;
std::unordered_set<DialogWindow*>& registry() {
  static std::unordered_set<DialogWindow*> windows;
  return windows;
}

DialogWindow* find(DialogHandle handle) { return find_dialog(handle); }

void note(const std::string& text) {
  std::string line = "Quarl dialog host: " + text + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

DialogRegistration::DialogRegistration(DialogWindow* window) : window_(window) {
  std::lock_guard lock(registry_mutex);
  registry().insert(window_);
}

DialogRegistration::~DialogRegistration() {
  std::lock_guard lock(registry_mutex);
  registry().erase(window_);
}

DialogWindow* find_dialog(DialogHandle handle) {
  if (!handle) return nullptr;
  std::lock_guard lock(registry_mutex);
  auto it = registry().find(static_cast<DialogWindow*>(handle));
  return it == registry().end() ? nullptr : *it;
}

intptr_t dialog_box(const DialogTemplate& dialog, DialogHandle owner, DialogProc procedure, intptr_t init) {
  if (!procedure) return -1;
  if (auto path = environment(kDialogScriptVariable); path && !path->empty()) {
    std::string why;
    auto text = read_private_file(*path, &why);
    std::optional<DialogScript> script;
    if (!text) {
      note("script " + *path + " " + why + "; dialog cancelled");
    } else if (!(script = parse_dialog_script(*text, &why))) {
      note("script " + *path + ": " + why + "; dialog cancelled");
    } else if (script->dialog != dialog.resource) {
      note("script " + *path + " is for dialog " + std::to_string(script->dialog) + ", not " +
           std::to_string(dialog.resource) + "; dialog cancelled");
      script.reset();
    }
    if (!script) return kIdCancel;
    std::string transcript;
    intptr_t result = run_scripted_dialog(dialog, owner, procedure, init, *script, transcript);
    if (!script->transcript.empty() && !append_private_file(script->transcript, transcript))
      note("cannot write transcript " + script->transcript);
    return result;
  }
  if (Desktop* screen = desktop()) {
    std::unique_ptr<DesktopDialog> window = screen->create_dialog(dialog, find(owner));
    if (window) {
      DialogRegistration registration(window.get());
      return window->run(procedure, init);
    }
    note(std::string("cannot show dialog \"") + dialog.title + "\"; cancelled");
    return kIdCancel;
  }
  note(std::string("no display for dialog \"") + dialog.title + "\"; cancelled");
  return kIdCancel;
}

std::string get_item_text(DialogHandle dialog, int id, size_t max_chars) {
  DialogWindow* w = find(dialog);
  return w ? w->get_text(id, max_chars) : std::string();
}
void set_item_text(DialogHandle dialog, int id, std::string_view text) {
  if (DialogWindow* w = find(dialog)) w->set_text(id, text);
}
void enable_item(DialogHandle dialog, int id, bool enable) {
  if (DialogWindow* w = find(dialog)) w->enable(id, enable);
}
void limit_item_text(DialogHandle dialog, int id, size_t max_chars) {
  if (DialogWindow* w = find(dialog)) w->limit_text(id, max_chars);
}
int list_add(DialogHandle dialog, int id, std::string_view text) {
  DialogWindow* w = find(dialog);
  return w ? w->list_add(id, text) : -1;
}
void list_clear(DialogHandle dialog, int id) {
  if (DialogWindow* w = find(dialog)) w->list_clear(id);
}
void list_select(DialogHandle dialog, int id, int index) {
  if (DialogWindow* w = find(dialog)) w->list_select(id, index);
}
int list_selection(DialogHandle dialog, int id) {
  DialogWindow* w = find(dialog);
  return w ? w->list_selection(id) : -1;
}
void set_focus(DialogHandle dialog, int id) {
  if (DialogWindow* w = find(dialog)) w->set_focus(id);
}
void select_all_text(DialogHandle dialog, int id) {
  if (DialogWindow* w = find(dialog)) w->select_all(id);
}
void beep(DialogHandle dialog) {
  if (DialogWindow* w = find(dialog)) w->beep();
}
void end_dialog(DialogHandle dialog, intptr_t result) {
  if (DialogWindow* w = find(dialog)) w->end(result);
}
DialogRect window_rect(DialogHandle window) {
  if (DialogWindow* w = find(window)) return w->rect();
  // Only a dialog asks for its owner's rectangle, so a desktop is loaded already when there is one.
  Desktop* screen = has_display() ? desktop() : nullptr;
  return screen ? screen->screen() : kHeadlessScreen;
}
void move_window(DialogHandle dialog, int x, int y) {
  if (DialogWindow* w = find(dialog)) w->move(x, y);
}
DialogHandle get_owner(DialogHandle dialog) {
  DialogWindow* w = find(dialog);
  return w ? w->owner() : nullptr;
}
void set_window_text(DialogHandle dialog, std::string_view title) {
  if (DialogWindow* w = find(dialog)) w->set_title(title);
}
DialogRect client_rect(DialogHandle dialog) {
  DialogWindow* w = find(dialog);
  return w ? w->client() : DialogRect{0, 0, 0, 0};
}
void move_item(DialogHandle dialog, int id, const DialogRect& rect) {
  if (DialogWindow* w = find(dialog)) w->move_control(id, rect);
}
void set_caret(DialogHandle dialog, int id, size_t offset) {
  if (DialogWindow* w = find(dialog)) w->set_caret(id, offset);
}
std::optional<WindowPlacement> get_window_placement(DialogHandle dialog) {
  DialogWindow* w = find(dialog);
  return w ? w->placement() : std::nullopt;
}
void set_window_placement(DialogHandle dialog, const WindowPlacement& placement) {
  if (DialogWindow* w = find(dialog)) w->set_placement(placement);
}

}  // namespace quarl::platform
