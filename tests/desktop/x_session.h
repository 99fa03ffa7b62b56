// A real X server for tests (Xvfb on a free display number), programs that
// show windows on it, and a user at its keyboard (xdotool), all checked from
// outside the programs.  Every wait polls for its condition within a
// generous bound.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace xtest {

using namespace std::chrono_literals;

// How long a window may take to appear, a program to end, on a busy machine.
inline constexpr auto kBound = 90s;

// Xvfb on a display number it picks itself; DISPLAY (and the variables that
// keep the toolkit from looking for a desktop session) point at it in this
// process while it lives, so programs started from here show on it.
class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  const std::string& display() const { return display_; }

 private:
  int pid_ = -1;
  std::string display_;
};

// A program started in the background with its output (standard output and
// error together) in a file; killed at destruction if still running.
class Program {
 public:
  explicit Program(const std::vector<std::string>& argv);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool running();
  // Waits for the end (within kBound; the program is killed after it);
  // the exit status, or -1 when killed by a signal.
  int wait();
  std::string output() const;
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  int status_ = -1;
  bool ended_ = false;
  std::filesystem::path output_;
};

// The first visible window whose name matches the pattern (xdotool's
// regular expression), waited for; an empty text when none appeared in
// time or the program ended first.
std::string wait_for_window(const std::string& name_pattern, Program* program = nullptr);
// Waits until no visible window matches; false when one still does after the bound.
bool wait_until_gone(const std::string& window);

// xdotool with the arguments (shell words); its output.
std::string xdotool(const std::string& arguments);
// Gives the window the keyboard focus, then presses the keys (xdotool key names).
void keys(const std::string& window, const std::string& names);
// Gives the window the keyboard focus, then types the text.
void type(const std::string& window, const std::string& text);

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};
Geometry geometry(const std::string& window);

// Keeps a picture of the window as <build>/test-artefacts/desktop/<name>.png.
void screenshot(const std::string& window, const std::string& name);

// A shell word.
std::string quote(const std::string& text);

// Runs a command line that talks to the display, again when the X server
// refused its connection (which Xvfb does now and then under load); its
// exit status and output (standard output and error together).
testsupport::CommandResult run_x(const std::string& command, const std::string& input = "");

// The same as a shell command line for a program that runs it.
std::string retrying(const std::string& command);

}  // namespace xtest
