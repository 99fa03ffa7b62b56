// Programs run on behalf of a request, and the files that name them.  A
// program runs with its input on standard input; its standard output and the
// start of its standard error are collected under a time limit and a bound
// on the output.  Everything the program starts belongs to its run: when the
// program ends, overruns a limit or is cancelled, every process it started is
// stopped too, also those that left its process group or session.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarl::platform {

struct ProcessCommand {
  std::string path;               // run directly (a script needs its "#!" line)
  std::vector<std::string> args;  // after the program name
  std::vector<std::string> env;   // the whole environment, "NAME=value"
  std::string working_dir;        // empty: the caller's
  std::string input;
};

struct ProcessLimits {
  std::chrono::milliseconds time_limit{std::chrono::seconds(10)};
  size_t max_output = 1 << 20;  // standard output beyond this stops the program
  size_t max_error = 4096;      // standard error beyond this is dropped
};

struct ProcessResult {
  enum class Outcome {
    Exited,          // exit_status holds the status
    Signaled,        // killed by a signal from elsewhere (signal_number)
    TimedOut,        // stopped at the time limit
    OutputTooLarge,  // stopped for writing more than max_output bytes
    Cancelled,       // stopped because the caller asked
    CannotStart,     // start_error says why
  };
  Outcome outcome = Outcome::CannotStart;
  int exit_status = -1;
  int signal_number = 0;
  std::string output;  // standard output (complete only for Exited and Signaled)
  std::string errors;  // the first max_error bytes of standard error
  std::string start_error;

  bool succeeded() const { return outcome == Outcome::Exited && exit_status == 0; }
  // The first line of the error output, without its line end.
  std::string first_error_line() const;
};

// Blocks the calling thread until the program and everything it started have
// ended; cancel (when given) is looked at several times a second.  Safe to
// call from several threads at once.
ProcessResult run_process(const ProcessCommand& command, const ProcessLimits& limits,
                          const std::atomic<bool>* cancel = nullptr);

// The path with every symbolic link and "." or ".." resolved, when it names
// an existing file or folder.
std::optional<std::filesystem::path> real_path(const std::filesystem::path& path);
// A regular file that the running user may execute.
bool is_executable_file(const std::filesystem::path& path);

// A new folder under the system's temporary folder, readable by its owner
// only; nullopt when it cannot be made.
std::optional<std::filesystem::path> make_temp_folder(std::string_view prefix);

}  // namespace quarl::platform
