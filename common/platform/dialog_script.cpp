#include "common/platform/dialog_script.h"

#include <charconv>
#include <string>
#include <vector>

namespace quarl::platform {
namespace {

constexpr size_t kDefaultEditLimit = 30000;  // what Win32 edits take before a limit is set

bool parse_int(std::string_view text, int& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits "WORD rest" at the first space; rest keeps everything after that one space.
std::pair<std::string_view, std::string_view> split_word(std::string_view line) {
  size_t space = line.find(' ');
  if (space == std::string_view::npos) return {line, {}};
  return {line.substr(0, space), line.substr(space + 1)};
}

std::string_view unquote(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return text;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

const char* kind_name(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label: return "label";
    case ControlKind::Edit: return "edit";
    case ControlKind::GroupBox: return "group";
    case ControlKind::DropDownList: return "list";
    case ControlKind::PushButton: return "button";
    case ControlKind::DefaultPushButton: return "default-button";
  }
  return "?";
}

bool is_button(ControlKind kind) { return kind == ControlKind::PushButton || kind == ControlKind::DefaultPushButton; }

// A dialog with no screen: the controls' state in memory, a scripted user.
class HeadlessDialog final : public DialogWindow {
 public:
  HeadlessDialog(const DialogTemplate& dialog, DialogHandle owner, DialogProc procedure, std::string& transcript)
      : dialog_(dialog), owner_(owner), procedure_(procedure), transcript_(transcript), registration_(this) {
    rect_ = dialog_units_to_pixels(dialog.rect);
    for (const ControlTemplate& t : dialog.controls) {
      Control c;
      c.tmpl = &t;
      c.text = t.text ? t.text : "";
      c.enabled = (t.style & kCtlDisabled) == 0;
      controls_.push_back(std::move(c));
    }
  }

  intptr_t run(intptr_t init, const DialogScript& script) {
    log("dialog " + std::to_string(dialog_.resource) + " " + quoted(dialog_.title ? dialog_.title : ""));
    // As Win32 does when the procedure leaves the focus to the system.
    if (send(kWmInitDialog, 0, init) != 0 && focus_ == 0) {
      for (const Control& c : controls_)
        if (c.enabled && c.tmpl->kind != ControlKind::Label && c.tmpl->kind != ControlKind::GroupBox) {
          focus_ = c.tmpl->id;
          break;
        }
    }
    log("position " + std::to_string(rect_.x) + "," + std::to_string(rect_.y));
    for (const DialogScriptStep& step : script.steps) {
      if (ended_) break;
      play(step);
    }
    if (!ended_) {
      log("> press 2 (the script ended with the dialog open)");
      send(kWmCommand, make_command(kIdCancel, kBnClicked), 0);
    }
    if (!ended_) {
      ended_ = true;
      result_ = kIdCancel;
    }
    log("end " + std::to_string(result_));
    return result_;
  }

  // DialogWindow
  std::string get_text(int id, size_t max_chars) override {
    Control* c = find(id);
    if (!c) return {};
    std::string text = c->tmpl->kind == ControlKind::DropDownList ? selected_text(*c) : c->text;
    if (text.size() > max_chars) text.resize(max_chars);
    return text;
  }
  void set_text(int id, std::string_view text) override {
    Control* c = find(id);
    if (!c || c->tmpl->kind == ControlKind::DropDownList) return;
    c->text = text;
    if (c->tmpl->kind == ControlKind::Edit) send(kWmCommand, make_command(id, kEnChange), 0);
  }
  void enable(int id, bool enable) override {
    if (Control* c = find(id)) c->enabled = enable;
  }
  void limit_text(int id, size_t max_chars) override {
    if (Control* c = find(id)) c->limit = max_chars == 0 ? kDefaultEditLimit : max_chars;
  }
  int list_add(int id, std::string_view text) override {
    Control* c = find(id);
    if (!c || c->tmpl->kind != ControlKind::DropDownList) return -1;
    size_t at = c->items.size();
    if (c->tmpl->style & kCtlSorted) {
      at = 0;
      while (at < c->items.size() && c->items[at] <= text) ++at;
    }
    c->items.insert(c->items.begin() + static_cast<std::ptrdiff_t>(at), std::string(text));
    return static_cast<int>(at);
  }
  void list_clear(int id) override {
    if (Control* c = find(id)) {
      c->items.clear();
      c->selection = -1;
    }
  }
  void list_select(int id, int index) override {
    Control* c = find(id);
    if (!c) return;
    c->selection = index >= 0 && static_cast<size_t>(index) < c->items.size() ? index : -1;
  }
  int list_selection(int id) override {
    Control* c = find(id);
    return c ? c->selection : -1;
  }
  void set_focus(int id) override {
    focus_ = id;
    log("focus " + std::to_string(id));
  }
  void select_all(int id) override { log("select-all " + std::to_string(id)); }
  void beep() override { log("beep"); }
  void end(intptr_t result) override {
    if (ended_) return;
    ended_ = true;
    result_ = result;
  }
  DialogRect rect() override { return rect_; }
  void move(int x, int y) override {
    rect_.x = x;
    rect_.y = y;
  }
  DialogHandle owner() override { return owner_; }
  void set_title(std::string_view title) override { log("title " + quoted(title)); }
  DialogRect client() override { return {0, 0, rect_.width, rect_.height}; }
  void move_control(int id, const DialogRect& r) override {
    log("move " + std::to_string(id) + " " + std::to_string(r.x) + "," + std::to_string(r.y) + "," +
        std::to_string(r.width) + "," + std::to_string(r.height));
  }
  void set_caret(int id, size_t offset) override {
    log("caret " + std::to_string(id) + " " + std::to_string(offset));
  }
  std::optional<WindowPlacement> placement() override { return placement_of(rect_); }
  void set_placement(const WindowPlacement& p) override {
    rect_ = restored_rect(p);
    log("placement " + std::to_string(p.left) + "," + std::to_string(p.top) + "," + std::to_string(p.right) + "," +
        std::to_string(p.bottom));
  }

 private:
  struct Control {
    const ControlTemplate* tmpl = nullptr;
    std::string text;
    bool enabled = true;
    size_t limit = kDefaultEditLimit;
    std::vector<std::string> items;
    int selection = -1;
  };

  Control* find(int id) {
    for (Control& c : controls_)
      if (c.tmpl->id == id) return &c;
    return nullptr;
  }
  static std::string selected_text(const Control& c) {
    return c.selection >= 0 && static_cast<size_t>(c.selection) < c.items.size()
               ? c.items[static_cast<size_t>(c.selection)]
               : std::string();
  }

  intptr_t send(unsigned message, uintptr_t wparam, intptr_t lparam) {
    return procedure_(registration_.handle(), message, wparam, lparam);
  }
  void log(const std::string& line) { transcript_ += line + "\n"; }

  // The control the user acts on, when it is there, of the right kind and enabled.
  Control* usable(int id, bool (*kind_ok)(ControlKind), const std::string& step) {
    Control* c = find(id);
    if (!c || !kind_ok(c->tmpl->kind)) {
      log("refused: " + step + " (no such control)");
      return nullptr;
    }
    if (!c->enabled) {
      log("refused: " + step + " (disabled)");
      return nullptr;
    }
    return c;
  }

  void play(const DialogScriptStep& step) {
    const std::string id = std::to_string(step.control);
    switch (step.kind) {
      case DialogScriptStep::Type: {
        std::string what = "type " + id + " " + quoted(step.text);
        log("> " + what);
        Control* c = usable(step.control, [](ControlKind k) { return k == ControlKind::Edit; }, what);
        if (!c) return;
        focus_ = step.control;
        c->text = step.text.substr(0, c->limit);
        send(kWmCommand, make_command(step.control, kEnChange), 0);
        return;
      }
      case DialogScriptStep::Pick:
      case DialogScriptStep::PickIndex: {
        std::string what = step.kind == DialogScriptStep::Pick ? "pick " + id + " " + quoted(step.text)
                                                               : "pick-index " + id + " " + std::to_string(step.index);
        log("> " + what);
        Control* c = usable(step.control, [](ControlKind k) { return k == ControlKind::DropDownList; }, what);
        if (!c) return;
        int index = -1;
        if (step.kind == DialogScriptStep::PickIndex) {
          if (step.index >= 0 && static_cast<size_t>(step.index) < c->items.size()) index = step.index;
        } else {
          for (size_t i = 0; i < c->items.size(); ++i)
            if (c->items[i] == step.text) {
              index = static_cast<int>(i);
              break;
            }
        }
        focus_ = step.control;
        send(kWmCommand, make_command(step.control, kCbnDropDown), 0);
        if (index < 0) {
          log("refused: " + what + " (no such entry)");
          return;
        }
        c->selection = index;
        send(kWmCommand, make_command(step.control, kCbnSelChange), 0);
        return;
      }
      case DialogScriptStep::Press: {
        std::string what = "press " + id;
        log("> " + what);
        if (!usable(step.control, is_button, what)) return;
        focus_ = step.control;
        send(kWmCommand, make_command(step.control, kBnClicked), 0);
        return;
      }
      case DialogScriptStep::Snapshot:
        log("> snapshot");
        for (const Control& c : controls_) {
          std::string line = "  " + std::to_string(c.tmpl->id) + " " + kind_name(c.tmpl->kind) + " " +
                             (c.enabled ? "enabled" : "disabled") + " text=" +
                             quoted(c.tmpl->kind == ControlKind::DropDownList ? selected_text(c) : c.text);
          if (c.tmpl->kind == ControlKind::Edit) line += " limit=" + std::to_string(c.limit);
          if (c.tmpl->kind == ControlKind::DropDownList) {
            line += " selection=" + std::to_string(c.selection) + " items=[";
            for (size_t i = 0; i < c.items.size(); ++i) line += (i ? "," : "") + quoted(c.items[i]);
            line += "]";
          }
          log(line);
        }
        log("  focus " + std::to_string(focus_));
        return;
    }
  }

  const DialogTemplate& dialog_;
  DialogHandle owner_;
  DialogProc procedure_;
  std::string& transcript_;
  std::vector<Control> controls_;
  DialogRect rect_{};
  int focus_ = 0;
  bool ended_ = false;
  intptr_t result_ = kIdCancel;
  DialogRegistration registration_;  // the handle is reachable for the window's lifetime
};

}  // namespace

std::optional<DialogScript> parse_dialog_script(std::string_view text, std::string* error) {
  auto fail = [error](size_t line, const std::string& why) -> std::optional<DialogScript> {
    if (error) *error = line ? "line " + std::to_string(line) + ": " + why : why;
    return std::nullopt;
  };
  DialogScript script;
  bool have_dialog = false;
  size_t number = 0;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (number == 1) {
      if (line != kDialogScriptMagic) return fail(0, std::string("the first line is not \"") + kDialogScriptMagic + "\"");
      continue;
    }
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    auto [verb, rest] = split_word(line.substr(first));

    if (verb == "snapshot" && rest.empty()) {
      script.steps.push_back({DialogScriptStep::Snapshot, 0, {}, 0});
      continue;
    }
    if (verb == "transcript") {
      if (rest.empty()) return fail(number, "transcript needs a file");
      script.transcript = std::string(rest);
      continue;
    }
    auto [number_text, argument] = split_word(rest);
    int value = 0;
    if (!parse_int(number_text, value)) return fail(number, "expected a number after \"" + std::string(verb) + "\"");
    if (verb == "dialog" && argument.empty()) {
      script.dialog = value;
      have_dialog = true;
    } else if (verb == "type") {
      script.steps.push_back({DialogScriptStep::Type, value, std::string(unquote(argument)), 0});
    } else if (verb == "pick" && !argument.empty()) {
      script.steps.push_back({DialogScriptStep::Pick, value, std::string(unquote(argument)), 0});
    } else if (verb == "pick-index") {
      int index = 0;
      if (!parse_int(argument, index)) return fail(number, "pick-index needs an entry number");
      script.steps.push_back({DialogScriptStep::PickIndex, value, {}, index});
    } else if (verb == "press" && argument.empty()) {
      script.steps.push_back({DialogScriptStep::Press, value, {}, 0});
    } else {
      return fail(number, "not a step: " + std::string(line.substr(first)));
    }
  }
  if (number == 0 || text.empty()) return fail(0, "the script is empty");
  if (!have_dialog) return fail(0, "no \"dialog\" line names the dialog to drive");
  return script;
}

intptr_t run_scripted_dialog(const DialogTemplate& dialog, DialogHandle owner, DialogProc procedure, intptr_t init,
                             const DialogScript& script, std::string& transcript) {
  HeadlessDialog window(dialog, owner, procedure, transcript);
  return window.run(init, script);
}

}  // namespace quarl::platform
