#include "tests/desktop/x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/test_env.h"

namespace xtest {
namespace {

constexpr auto kPollInterval = 50ms;

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// Runs a command line with the display of this process; its output.
testsupport::CommandResult run(const std::string& command) { return run_x(command); }

}  // namespace

testsupport::CommandResult run_x(const std::string& command, const std::string& input) {
  testsupport::CommandResult r{};
  for (int attempt = 1; attempt <= 10; ++attempt) {
    r = testsupport::run_command(command, input);
    // Xlib's and ImageMagick's words for a refused connection.
    bool refused = r.output.find("Can't open display") != std::string::npos ||
                   r.output.find("unable to open X server") != std::string::npos;
    if (!refused) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
  }
  return r;
}

std::string retrying(const std::string& command) {
  return "(f=$(mktemp); for attempt in 1 2 3 4 5 6 7 8 9 10; do (" + command +
         ") >\"$f\" 2>&1; status=$?; grep -q \"open display\" \"$f\" || break; sleep 0.05; done; "
         "cat \"$f\"; rm -f \"$f\"; exit $status)";
}

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

XServer::XServer() {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(fds[0]);
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::string fd = std::to_string(fds[1]);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  // Xvfb writes the display number it took once it accepts clients.
  std::string number;
  auto deadline = std::chrono::steady_clock::now() + kBound;
  while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char c[16];
    ssize_t n = ::read(fds[0], c, sizeof c);
    if (n <= 0) break;
    number.append(c, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  if (number.empty() || number.find('\n') == std::string::npos) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("Xvfb did not start (is it installed?)");
  }
  display_ = ":" + first_line(number);
  ::setenv("DISPLAY", display_.c_str(), 1);
  // No desktop session here: no accessibility bus, no settings daemon.
  ::setenv("NO_AT_BRIDGE", "1", 1);
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
}

XServer::~XServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  ::unsetenv("DISPLAY");
}

Program::Program(const std::vector<std::string>& argv) {
  char pattern[] = "/tmp/quarl-program-XXXXXX";
  int fd = ::mkstemp(pattern);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  output_ = pattern;
  pid_ = ::fork();
  if (pid_ == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(fd);
}

Program::~Program() {
  if (!ended_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  std::filesystem::remove(output_, ec);
}

bool Program::running() {
  if (ended_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    ended_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return !ended_;
}

int Program::wait() {
  auto deadline = std::chrono::steady_clock::now() + kBound;
  while (running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      ended_ = true;
      status_ = -1;
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  return status_;
}

std::string Program::output() const { return testsupport::read_file(output_); }

std::string wait_for_window(const std::string& name_pattern, Program* program) {
  auto deadline = std::chrono::steady_clock::now() + kBound;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string id = first_line(run("xdotool search --onlyvisible --name " + quote(name_pattern)).output);
    if (!id.empty() && id.find_first_not_of("0123456789") == std::string::npos) return id;
    if (program && !program->running()) return {};
    std::this_thread::sleep_for(kPollInterval);
  }
  return {};
}

bool wait_until_gone(const std::string& window) {
  auto deadline = std::chrono::steady_clock::now() + kBound;
  while (std::chrono::steady_clock::now() < deadline) {
    auto r = run("xdotool search --onlyvisible --name . | grep -qx " + quote(window));
    if (r.status != 0) return true;
    std::this_thread::sleep_for(kPollInterval);
  }
  return false;
}

std::string xdotool(const std::string& arguments) { return run("timeout 60 xdotool " + arguments).output; }

void keys(const std::string& window, const std::string& names) {
  xdotool("windowfocus --sync " + window + " key --delay 40 " + names);
}

void type(const std::string& window, const std::string& text) {
  xdotool("windowfocus --sync " + window + " type --delay 30 -- " + quote(text));
}

Geometry geometry(const std::string& window) {
  Geometry g;
  std::istringstream in(xdotool("getwindowgeometry --shell " + window));
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X") g.x = value;
    else if (key == "Y") g.y = value;
    else if (key == "WIDTH") g.width = value;
    else if (key == "HEIGHT") g.height = value;
  }
  return g;
}

void screenshot(const std::string& window, const std::string& name) {
  std::filesystem::path dir = testsupport::build_dir() / "test-artefacts" / "desktop";
  std::filesystem::create_directories(dir);
  run("import -window " + window + " " + quote((dir / (name + ".png")).string()));
}

}  // namespace xtest
