#include "common/platform/terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>


namespace quarl::platform {

std::optional<std::string> read_secret_from_terminal(const std::string& prompt) {
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  termios saved{};
  bool quiet = ::tcgetattr(fd, &saved) == 0;
  if (quiet) {
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    silent.c_lflag |= ECHONL;
    quiet = ::tcsetattr(fd, TCSAFLUSH, &silent) == 0;
  }
  if (::write(fd, prompt.data(), prompt.size()) < 0) {
    // The prompt could not be shown; reading goes on regardless.
  }
  std::string line;
  bool ended = true;
  for (char c; ::read(fd, &c, 1) == 1;) {
    if (c == '\n') {
      ended = false;
      break;
    }
    line += c;
  }
  if (quiet) ::tcsetattr(fd, TCSAFLUSH, &saved);
  ::close(fd);
  if (ended && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace quarl::platform
