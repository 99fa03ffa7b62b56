// The clipboard: read in this process; written through the clipboard keeper,
// a small program that owns the text on the display from then on.  This
// process runs no event loop between calls, so it could not answer other
// programs' requests itself, and on X11 a selection dies with its owner:
// the keeper serves the text until another program takes the clipboard (or
// hands it to the desktop's clipboard manager where one runs, and ends).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/platform/gtk/clipboard_targets.h"
#include "common/platform/gtk/gtk_backend.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

extern char** environ;

namespace quarl::platform::gtk {
namespace {

// How long the keeper may take to own the text on a busy machine.
constexpr int kKeeperReadyMilliseconds = 60000;

void note(const std::string& text) {
  std::string line = "Quarl clipboard: " + text + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

GtkClipboard* clipboard() {
  return gtk_clipboard_get_for_display(gdk_display_get_default(), GDK_SELECTION_CLIPBOARD);
}

// Whether any program owns the clipboard (on X11; elsewhere assumed).
bool has_owner() {
#ifdef GDK_WINDOWING_X11
  GdkDisplay* display = gdk_display_get_default();
  if (GDK_IS_X11_DISPLAY(display)) {
    Display* x = GDK_DISPLAY_XDISPLAY(display);
    return XGetSelectionOwner(x, gdk_x11_get_xatom_by_name_for_display(display, "CLIPBOARD")) != None;
  }
#endif
  return true;
}

std::string latin1_to_utf8(const guchar* data, gint length) {
  gchar* converted = g_convert(reinterpret_cast<const gchar*>(data), length, "UTF-8", "ISO-8859-1", nullptr, nullptr,
                               nullptr);
  std::string out = converted ? converted : "";
  g_free(converted);
  return out;
}

// The text of one target's data; nullopt when there is none.
std::optional<std::string> text_of(GtkSelectionData* data, unsigned target) {
  gint length = gtk_selection_data_get_length(data);
  const guchar* bytes = gtk_selection_data_get_data(data);
  if (length < 0 || (!bytes && length > 0)) return std::nullopt;
  std::string raw(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  switch (target) {
    case kUtf8String:
    case kTextPlainUtf8:
      return raw;  // as offered, whatever its bytes
    case kString:
      return latin1_to_utf8(bytes, length);
    default: {
      // TEXT comes in the type its owner chose.
      gchar* text = reinterpret_cast<gchar*>(gtk_selection_data_get_text(data));
      if (text) {
        std::string out = text;
        g_free(text);
        return out;
      }
      if (g_utf8_validate(raw.data(), static_cast<gssize>(raw.size()), nullptr)) return raw;
      return latin1_to_utf8(bytes, length);
    }
  }
}

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The keeper's one answer line, waited for within the bound.
std::string read_answer(int fd) {
  std::string answer;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kKeeperReadyMilliseconds);
  while (answer.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return "error: no answer in time";
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return "error: no answer in time";
    char chunk[256];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return answer.empty() ? "error: the keeper ended without an answer" : answer;
    answer.append(chunk, static_cast<size_t>(n));
  }
  return answer.substr(0, answer.find('\n'));
}

ClipboardStatus hand_to_keeper(std::string_view text) {
  const std::string keeper = module_directory() + "/" + kClipboardKeeper;
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    note("cannot reach the clipboard keeper: " + std::string(std::strerror(errno)));
    return ClipboardStatus::CannotSet;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
  posix_spawn_file_actions_adddup2(&actions, pair[1], 1);
  // The keeper outlives this process: it must not hold this process's
  // standard error (someone may wait for its end).
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(keeper.c_str()), nullptr};
  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, keeper.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pair[1]);
  if (spawned != 0) {
    ::close(pair[0]);
    note("cannot start " + keeper + ": " + std::strerror(spawned));
    return ClipboardStatus::CannotSet;
  }
  bool sent = write_all(pair[0], text) && ::shutdown(pair[0], SHUT_WR) == 0;
  std::string answer = sent ? read_answer(pair[0]) : "error: cannot hand the text over";
  ::close(pair[0]);
  // The keeper's first process leaves at once; its child serves the text.
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (answer != "ok") {
    note(keeper + ": " + answer);
    return ClipboardStatus::CannotSet;
  }
  return ClipboardStatus::Ok;
}

}  // namespace

ClipboardStatus read_clipboard(std::string& text) {
  text.clear();
  GtkClipboard* clip = clipboard();
  if (!has_owner()) return ClipboardStatus::Empty;
  GdkAtom* targets = nullptr;
  gint count = 0;
  if (!gtk_clipboard_wait_for_targets(clip, &targets, &count)) return ClipboardStatus::CannotGet;
  bool offered = false;
  std::optional<std::string> found;
  for (unsigned t = 0; t < kTextTargetCount && !found; ++t) {
    GdkAtom wanted = gdk_atom_intern_static_string(kTextTargets[t]);
    bool listed = false;
    for (gint i = 0; i < count; ++i) listed = listed || targets[i] == wanted;
    if (!listed) continue;
    offered = true;
    if (GtkSelectionData* data = gtk_clipboard_wait_for_contents(clip, wanted)) {
      found = text_of(data, t);
      gtk_selection_data_free(data);
    }
  }
  g_free(targets);
  if (!offered) return ClipboardStatus::Empty;
  if (!found) return ClipboardStatus::CannotGet;
  text = std::move(*found);
  return ClipboardStatus::Ok;
}

ClipboardStatus write_clipboard(std::string_view text) {
  if (!text.empty()) return hand_to_keeper(text);
  // Empty: take the clipboard and let it go, so that it has no owner and no text.
  GtkClipboard* clip = clipboard();
  gtk_clipboard_set_text(clip, "", 0);
  gtk_clipboard_clear(clip);
  gdk_display_sync(gdk_display_get_default());
  return ClipboardStatus::Ok;
}

}  // namespace quarl::platform::gtk
